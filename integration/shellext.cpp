#include "integration/shellext.h"

#include <shlobj.h>

#include "common/files.h"
#include "common/paths.h"
#include "common/registry.h"
#include "common/system.h"
#include "common/text.h"

const wchar_t ShellExtensionClsid32[] = L"{5C0E3A71-2B94-4F6D-8A13-7D2E9B4C6F01}";
const wchar_t ShellExtensionClsid64[] = L"{5C0E3A71-2B94-4F6D-8A13-7D2E9B4C6F02}";

namespace {

const size_t KeyCapacity = 1024;
const wchar_t ApprovedKey[] =
    L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";

// The handler keys written for every registration; the argument is the CLSID or the handler
// name, and the data is empty or the CLSID.
struct HandlerKey {
    const wchar_t* Format;
    bool NamedByHandler; // else named by the CLSID
    bool HoldsClsid;     // else an empty default value
};
const HandlerKey AlwaysKeys[] = {
    {L"Bundlo\\shellex\\PropertySheetHandlers\\%s", false, false},
    {L"Bundlo.ZIP\\shellex\\PropertySheetHandlers\\%s", false, false},
    {L"exefile\\shellex\\PropertySheetHandlers\\%s", false, false},
    {L"Bundlo\\shellex\\DropHandler", false, true},
    {L"Bundlo.ZIP\\shellex\\DropHandler", false, true},
    {L"Folder\\shellex\\DragDropHandlers\\%s", true, true},
    {L"Drive\\shellex\\DragDropHandlers\\%s", true, true},
};
const HandlerKey ClassicMenuKeys[] = {
    {L"Bundlo\\shellex\\ContextMenuHandlers\\%s", false, false},
    {L"Bundlo.ZIP\\shellex\\ContextMenuHandlers\\%s", false, false},
    {L"*\\shellex\\ContextMenuHandlers\\%s", true, true},
    {L"Folder\\shellex\\ContextMenuHandlers\\%s", true, true},
    {L"lnkfile\\shellex\\ContextMenuHandlers\\%s", true, true},
};

void KeyOf(const HandlerKey& key, const wchar_t* clsid, const wchar_t* handlerName,
           wchar_t (&path)[KeyCapacity]) {
    FormatText(path, key.Format, key.NamedByHandler ? handlerName : clsid);
}

void WriteKey(const HandlerKey& key, const wchar_t* clsid, const wchar_t* handlerName,
              Reach reach) {
    wchar_t path[KeyCapacity];
    KeyOf(key, clsid, handlerName, path);
    SetString(ClassesRoot(reach), path, L"", key.HoldsClsid ? clsid : L"");
}

void DeleteKey(const HandlerKey& key, const wchar_t* clsid, const wchar_t* handlerName,
               Reach reach) {
    wchar_t path[KeyCapacity];
    KeyOf(key, clsid, handlerName, path);
    DeleteEmptyKey(ClassesRoot(reach), path);
}

bool ClassicMenuWanted(const IntegrationSettings& settings) {
    return !IsWindows11OrLater() || settings.legacyMenu != 0;
}

// Machine state: named absolutely, so that no settings file ever serves or keeps it.
const wchar_t CapabilitiesKey[] = L"\\Software\\Bundlo\\Capabilities";
const wchar_t CapabilitiesAssociationsKey[] = L"\\Software\\Bundlo\\Capabilities\\FileAssociations";
const wchar_t RegisteredApplicationsKey[] = L"\\Software\\RegisteredApplications";

void WriteCapabilities(Reach reach) {
    SetString(InView(HKEY_LOCAL_MACHINE, 0, reach), RegisteredApplicationsKey, L"Bundlo",
              L"Software\\Bundlo\\Capabilities");
    SetString(InView(HKEY_LOCAL_MACHINE, 0, reach), CapabilitiesKey, L"ApplicationDescription",
              L"Bundlo");
    for (size_t row = 0; row < ArchiveTypeCount; row++) {
        for (const wchar_t* group = ArchiveTypeTable[row].Group; group != nullptr;) {
            wchar_t extension[ExtensionCapacity];
            group = SplitExtension(group, extension, ExtensionCapacity);
            SetString(InView(HKEY_LOCAL_MACHINE, 0, reach), CapabilitiesAssociationsKey, extension,
                      row == ZipRow ? L"Bundlo.ZIP" : L"Bundlo");
        }
    }
}

} // namespace

void RegisterShellExtension(const IntegrationSettings& settings, const wchar_t* dllName,
                            const wchar_t* clsid, const wchar_t* handlerName, bool is64,
                            Reach reach) {
    wchar_t clsidKey[KeyCapacity];
    FormatText(clsidKey, L"CLSID\\%s", clsid);
    wchar_t serverKey[KeyCapacity];
    FormatText(serverKey, L"CLSID\\%s\\InProcServer32", clsid);
    // The server and its approval go where Explorer of the DLL's own bitness looks, whichever
    // build writes them; the handler keys below are shared by both views.
    REGSAM view = ProgramRegistryView(is64);

    if (settings.shellExtension) {
        wchar_t dll[PathCapacity];
        if (GetProgramFile(dllName, dll) && FileExists(dll)) {
            SetString(InView(HKEY_CLASSES_ROOT, view, reach), clsidKey, L"", L"Bundlo");
            SetString(InView(HKEY_CLASSES_ROOT, view, reach), serverKey, L"", dll);
            SetString(InView(HKEY_CLASSES_ROOT, view, reach), serverKey, L"ThreadingModel",
                      L"Apartment");
        }
        SetString(InView(HKEY_LOCAL_MACHINE, view, reach), ApprovedKey, clsid,
                  L"Bundlo shell extension");
        for (const HandlerKey& key : AlwaysKeys)
            WriteKey(key, clsid, handlerName, reach);
        bool classic = ClassicMenuWanted(settings);
        for (const HandlerKey& key : ClassicMenuKeys) {
            if (classic)
                WriteKey(key, clsid, handlerName, reach);
            else
                DeleteKey(key, clsid, handlerName, reach);
        }
        return;
    }

    DeleteEmptyKey(InView(HKEY_CLASSES_ROOT, view, reach), serverKey);
    DeleteEmptyKey(InView(HKEY_CLASSES_ROOT, view, reach), clsidKey);
    DeleteValue(InView(HKEY_LOCAL_MACHINE, view, reach), ApprovedKey, clsid);
    for (const HandlerKey& key : AlwaysKeys)
        DeleteKey(key, clsid, handlerName, reach);
    for (const HandlerKey& key : ClassicMenuKeys)
        DeleteKey(key, clsid, handlerName, reach);
}

void RegisterShellIntegration(bool remove, const IntegrationSettings& settings, Reach reach) {
    IntegrationSettings none = {};
    const IntegrationSettings& used = remove ? none : settings;
    // A 64-bit Explorer loads only the 64-bit DLL and 32-bit programs only the 32-bit one, so
    // 64-bit Windows gets both, whichever build runs.
    bool wide = Is64BitWindows();
    RegisterShellExtension(used, L"bdlext.dll", ShellExtensionClsid32,
                           wide ? L"Bundlo32" : L"Bundlo", false, reach);
    if (wide)
        RegisterShellExtension(used, L"bdlext64.dll", ShellExtensionClsid64, L"Bundlo", true,
                               reach);
    if (remove) {
        // Whichever build wrote them: a setup of one bitness may be removed by the other.
        REGSAM views[2];
        size_t viewCount = AllProgramRegistryViews(views);
        for (size_t i = 0; i < viewCount; i++) {
            const RegistryRoot machine = InView(HKEY_LOCAL_MACHINE, views[i], reach);
            DeleteValue(machine, RegisteredApplicationsKey, L"Bundlo");
            DeleteKeyTree(machine, CapabilitiesKey);
        }
    } else {
        WriteCapabilities(reach);
    }
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}
