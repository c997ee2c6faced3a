// The shell extension's registration, approval and capabilities in the real registry of the
// prefix. The 32-bit build runs under WOW64 and makes two registrations; the 64-bit build one.
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

TEST_F(ShellExtension, RegisteredForEveryPlatformItRunsOn) {
    RegisterShellIntegration(false, On());
    std::wstring dll = Folder + L"\\bdlext.dll";
    EXPECT_EQ(L"Bundlo", Classes(L"CLSID\\" + Clsid32));
    EXPECT_EQ(dll, Classes(L"CLSID\\" + Clsid32 + L"\\InProcServer32"));
    EXPECT_EQ(L"Apartment", Classes(L"CLSID\\" + Clsid32 + L"\\InProcServer32", L"ThreadingModel"));
    EXPECT_EQ(L"", Classes(L"Bundlo.ZIP\\shellex\\PropertySheetHandlers\\" + Clsid32));
    // One drop handler per class: under WOW64 the 64-bit registration, made second, holds it.
    EXPECT_EQ(RunsUnderWow64() ? Clsid64 : Clsid32, Classes(L"Bundlo\\shellex\\DropHandler"));
    EXPECT_EQ(L"", Classes(L"Bundlo\\shellex\\ContextMenuHandlers\\" + Clsid32));
    EXPECT_EQ(L"Bundlo shell extension", Raw(HKEY_LOCAL_MACHINE, Approved, Clsid32.c_str()));
    EXPECT_EQ(L"Software\\Bundlo\\Capabilities",
              Raw(HKEY_LOCAL_MACHINE, L"Software\\RegisteredApplications", L"Bundlo"));
    EXPECT_EQ(L"Bundlo.ZIP", Raw(HKEY_LOCAL_MACHINE,
                                 L"Software\\Bundlo\\Capabilities\\FileAssociations", L".zip"));
    EXPECT_EQ(L"Bundlo", Raw(HKEY_LOCAL_MACHINE,
                             L"Software\\Bundlo\\Capabilities\\FileAssociations", L".tbz"));

    if (!RunsUnderWow64()) {
        // One registration, named Bundlo, in the only view there is.
        EXPECT_EQ(Clsid32, Classes(L"Folder\\shellex\\DragDropHandlers\\Bundlo"));
        EXPECT_EQ(Clsid32, Classes(L"*\\shellex\\ContextMenuHandlers\\Bundlo"));
        EXPECT_EQ(Missing, Classes(L"Folder\\shellex\\DragDropHandlers\\Bundlo32"));
        return;
    }
    // Side by side: the 32-bit extension as Bundlo32, the 64-bit one as Bundlo. Without
    // "bdlext64.dll" its CLSID keys are missing, its handlers and approval are not.
    EXPECT_EQ(Clsid32, Classes(L"Folder\\shellex\\DragDropHandlers\\Bundlo32"));
    EXPECT_EQ(Clsid64, Classes(L"Folder\\shellex\\DragDropHandlers\\Bundlo"));
    EXPECT_EQ(Clsid64, Classes(L"lnkfile\\shellex\\ContextMenuHandlers\\Bundlo"));
    EXPECT_EQ(L"Bundlo shell extension", Raw(HKEY_LOCAL_MACHINE, Approved, Clsid64.c_str()));
    EXPECT_EQ(Missing, Classes(L"CLSID\\" + Clsid64, L"", KEY_WOW64_64KEY));

    WriteRaw(Folder + L"\\bdlext64.dll", "placeholder");
    RegisterShellIntegration(false, On());
    std::wstring dll64 = Folder + L"\\bdlext64.dll";
    EXPECT_EQ(dll64, Classes(L"CLSID\\" + Clsid64 + L"\\InProcServer32", L"", KEY_WOW64_64KEY));
    EXPECT_EQ(Missing, Classes(L"CLSID\\" + Clsid64, L"", KEY_WOW64_32KEY));
    // Switched off, the 64-bit CLSID keys go from the 64-bit view too.
    RegisterShellIntegration(false, IntegrationSettings());
    EXPECT_EQ(Missing, Classes(L"CLSID\\" + Clsid64, L"", KEY_WOW64_64KEY));
    EXPECT_EQ(Missing, Classes(L"CLSID\\" + Clsid32));
}

TEST_F(ShellExtension, SwitchedOffKeepsTheCapabilitiesRemovalTakesEverything) {
    RegisterShellIntegration(false, On());
    RegisterShellIntegration(false, IntegrationSettings());
    EXPECT_EQ(Missing, Classes(L"CLSID\\" + Clsid32));
    EXPECT_EQ(Missing, Classes(L"Bundlo\\shellex\\DropHandler"));
    EXPECT_EQ(Missing, Classes(L"*\\shellex\\ContextMenuHandlers\\Bundlo"));
    EXPECT_EQ(Missing, Raw(HKEY_LOCAL_MACHINE, Approved, Clsid32.c_str()));
    EXPECT_EQ(L"Software\\Bundlo\\Capabilities",
              Raw(HKEY_LOCAL_MACHINE, L"Software\\RegisteredApplications", L"Bundlo"));

    RegisterShellIntegration(true, On());
    EXPECT_EQ(Missing, Raw(HKEY_LOCAL_MACHINE, L"Software\\RegisteredApplications", L"Bundlo"));
    HKEY key;
    EXPECT_NE(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Bundlo", 0, KEY_READ, &key));
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
