// The shell extension's registration, approval and capabilities in the real registry of the
// prefix, a 64-bit Windows, where either build makes both registrations.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "common/system.h"
#include "integration/shellext.h"
#include "raw_files.h"
#include "test_support.h"

namespace {

const wchar_t* const Missing = MissingValue;

std::wstring Raw(HKEY root, const std::wstring& key, const wchar_t* name, REGSAM view = 0) {
    return RawValue(root, key, name, view);
}

std::wstring Classes(const std::wstring& key, const wchar_t* name = L"", REGSAM view = 0) {
    return Raw(HKEY_CLASSES_ROOT, key, name, view);
}

const std::wstring Clsid32 = ShellExtensionClsid32;
const std::wstring Clsid64 = ShellExtensionClsid64;
const wchar_t Approved[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";

class ShellExtension : public ::testing::Test {
  protected:
    void SetUp() override {
        Folder = ModuleFolder();
        WriteRaw(Folder + L"\\bdlext.dll", "placeholder");
        Clean();
    }
    void TearDown() override {
        VersionQueryOverride = nullptr;
        ResetPlatformCache();
        Clean();
        DeleteFileW((Folder + L"\\bdlext.dll").c_str());
        DeleteFileW((Folder + L"\\bdlext64.dll").c_str());
    }
    void Clean() {
        RegisterShellIntegration(true, IntegrationSettings());
        for (REGSAM view : {REGSAM(KEY_WOW64_32KEY), REGSAM(KEY_WOW64_64KEY)})
            for (const std::wstring& clsid : {Clsid32, Clsid64}) {
                RegDeleteKeyExW(HKEY_CLASSES_ROOT,
                                (L"CLSID\\" + clsid + L"\\InProcServer32").c_str(), view, 0);
                RegDeleteKeyExW(HKEY_CLASSES_ROOT, (L"CLSID\\" + clsid).c_str(), view, 0);
            }
        for (const wchar_t* key : {L"Bundlo", L"Bundlo.ZIP"})
            RegDeleteTreeW(HKEY_CLASSES_ROOT, key);
    }
    static IntegrationSettings On() {
        IntegrationSettings s = {};
        s.shellExtension = 1;
        return s;
    }
    std::wstring Folder;
};

// Both builds run on 64-bit Windows here, and both must leave the same registrations: each DLL's
// server and approval in the view of its own bitness, the handlers side by side.
TEST_F(ShellExtension, BothExtensionsEachInItsOwnViewWhicheverBuildRuns) {
    ASSERT_TRUE(Is64BitWindows()) << "the test prefix is 64-bit Windows";
    const REGSAM View32 = KEY_WOW64_32KEY, View64 = KEY_WOW64_64KEY;
    WriteRaw(Folder + L"\\bdlext64.dll", "placeholder");
    RegisterShellIntegration(false, On());
    std::wstring dll = Folder + L"\\bdlext.dll", dll64 = Folder + L"\\bdlext64.dll";
    struct Server {
        const std::wstring& Clsid;
        const std::wstring& Dll;
        REGSAM View, OtherView;
    };
    for (const Server& server :
         {Server{Clsid32, dll, View32, View64}, Server{Clsid64, dll64, View64, View32}}) {
        std::wstring key = L"CLSID\\" + server.Clsid;
        EXPECT_EQ(L"Bundlo", Classes(key, L"", server.View)) << server.Clsid;
        EXPECT_EQ(server.Dll, Classes(key + L"\\InProcServer32", L"", server.View));
        EXPECT_EQ(L"Apartment", Classes(key + L"\\InProcServer32", L"ThreadingModel", server.View));
        EXPECT_EQ(Missing, Classes(key, L"", server.OtherView)) << server.Clsid;
        EXPECT_EQ(L"Bundlo shell extension",
                  Raw(HKEY_LOCAL_MACHINE, Approved, server.Clsid.c_str(), server.View));
        EXPECT_EQ(L"", Classes(L"Bundlo.ZIP\\shellex\\PropertySheetHandlers\\" + server.Clsid));
        EXPECT_EQ(L"", Classes(L"Bundlo\\shellex\\ContextMenuHandlers\\" + server.Clsid));
    }
    EXPECT_EQ(Clsid32, Classes(L"Folder\\shellex\\DragDropHandlers\\Bundlo32"));
    EXPECT_EQ(Clsid64, Classes(L"Folder\\shellex\\DragDropHandlers\\Bundlo"));
    EXPECT_EQ(Clsid32, Classes(L"*\\shellex\\ContextMenuHandlers\\Bundlo32"));
    EXPECT_EQ(Clsid64, Classes(L"lnkfile\\shellex\\ContextMenuHandlers\\Bundlo"));
    // One drop handler per class: the 64-bit registration, made second, holds it.
    EXPECT_EQ(Clsid64, Classes(L"Bundlo\\shellex\\DropHandler"));
    EXPECT_EQ(L"Software\\Bundlo\\Capabilities",
              Raw(HKEY_LOCAL_MACHINE, L"Software\\RegisteredApplications", L"Bundlo"));
    EXPECT_EQ(L"Bundlo.ZIP", Raw(HKEY_LOCAL_MACHINE,
                                 L"Software\\Bundlo\\Capabilities\\FileAssociations", L".zip"));
    EXPECT_EQ(L"Bundlo", Raw(HKEY_LOCAL_MACHINE,
                             L"Software\\Bundlo\\Capabilities\\FileAssociations", L".tbz"));

    // Without "bdlext64.dll" its server keys are not written; its handlers and approval are.
    RegisterShellIntegration(false, IntegrationSettings());
    DeleteFileW(dll64.c_str());
    RegisterShellIntegration(false, On());
    EXPECT_EQ(Missing, Classes(L"CLSID\\" + Clsid64, L"", View64));
    EXPECT_EQ(Clsid64, Classes(L"Folder\\shellex\\DragDropHandlers\\Bundlo"));
    EXPECT_EQ(L"Bundlo shell extension",
              Raw(HKEY_LOCAL_MACHINE, Approved, Clsid64.c_str(), View64));

    // Switched off, nothing of either registration stays in either view.
    WriteRaw(dll64, "placeholder");
    RegisterShellIntegration(false, On());
    RegisterShellIntegration(false, IntegrationSettings());
    for (REGSAM view : {View32, View64})
        for (const std::wstring& clsid : {Clsid32, Clsid64}) {
            EXPECT_FALSE(RawKeyExists(HKEY_CLASSES_ROOT, L"CLSID\\" + clsid, view)) << clsid;
            EXPECT_EQ(Missing, Raw(HKEY_LOCAL_MACHINE, Approved, clsid.c_str(), view)) << clsid;
        }
    for (const wchar_t* handler : {L"Bundlo", L"Bundlo32"})
        EXPECT_FALSE(RawKeyExists(HKEY_CLASSES_ROOT,
                                  std::wstring(L"Folder\\shellex\\DragDropHandlers\\") + handler));
}

TEST_F(ShellExtension, SwitchedOffKeepsTheCapabilitiesRemovalTakesEverything) {
    RegisterShellIntegration(false, On());
    RegisterShellIntegration(false, IntegrationSettings());
    EXPECT_EQ(Missing, Classes(L"CLSID\\" + Clsid32));
    EXPECT_EQ(Missing, Classes(L"Bundlo\\shellex\\DropHandler"));
    EXPECT_EQ(Missing, Classes(L"*\\shellex\\ContextMenuHandlers\\Bundlo"));
    EXPECT_EQ(Missing, Raw(HKEY_LOCAL_MACHINE, Approved, Clsid32.c_str(), KEY_WOW64_32KEY));
    EXPECT_EQ(L"Software\\Bundlo\\Capabilities",
              Raw(HKEY_LOCAL_MACHINE, L"Software\\RegisteredApplications", L"Bundlo"));

    RegisterShellIntegration(true, On());
    EXPECT_EQ(Missing, Raw(HKEY_LOCAL_MACHINE, L"Software\\RegisteredApplications", L"Bundlo"));
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, L"Software\\Bundlo\\Capabilities"));
}

TEST_F(ShellExtension, Windows11KeepsTheClassicMenuOnlyWhenAskedFor) {
    VersionQueryOverride = PretendWindows11;
    ResetPlatformCache();
    RegisterShellIntegration(false, On());
    EXPECT_EQ(Missing, Classes(L"Bundlo\\shellex\\ContextMenuHandlers\\" + Clsid32));
    EXPECT_EQ(Missing, Classes(L"Folder\\shellex\\ContextMenuHandlers\\Bundlo"));
    EXPECT_NE(Missing, Classes(L"Bundlo\\shellex\\DropHandler"));

    IntegrationSettings legacy = On();
    legacy.legacyMenu = 1;
    RegisterShellIntegration(false, legacy);
    EXPECT_EQ(L"", Classes(L"Bundlo.ZIP\\shellex\\ContextMenuHandlers\\" + Clsid32));
    EXPECT_NE(Missing, Classes(L"*\\shellex\\ContextMenuHandlers\\Bundlo"));
    RegisterShellIntegration(false, On());
    EXPECT_EQ(Missing, Classes(L"Bundlo.ZIP\\shellex\\ContextMenuHandlers\\" + Clsid32));
}

} // namespace
