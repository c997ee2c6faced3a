// Removal of what a setup with every choice registered, against the prefix's real registry and
// shell folders.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <sddl.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "common/paths.h"
#include "common/settings.h"
#include "integration/shellext.h"
#include "tests/unit/raw_files.h"
#include "integration/apply.h"
#include "integration/associations.h"
#include "integration/registration.h"
#include "integration/shortcuts.h"
#include "tests/unit/test_support.h"
#include "uninstall/removal.h"
#include "uninstall/startup.h"

namespace {

const std::wstring AppPaths = AppPathsKey + 1;
const std::wstring Uninstall = UninstallKey + 1;
// Where the other build writes its uninstall entry.
const REGSAM OtherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;

// Wine keeps one App Paths key for both views, so only the requests show that the uninstaller
// deletes the key that 64-bit Windows keeps in each view.
REGSAM AppPathsDeletedInViews;
LONG WINAPI RecordingDeleteKeyEx(HKEY root, LPCWSTR path, REGSAM view, DWORD reserved) {
    if (root == HKEY_LOCAL_MACHINE && AppPaths == path)
        AppPathsDeletedInViews |= view;
    return RealRegistryFunctions().DeleteKeyEx(root, path, view, reserved);
}

// Windows merges the user's classes over the machine's: a request through HKEY_CLASSES_ROOT for
// a name the user has a key of goes to HKEY_CURRENT_USER\Software\Classes. This Wine does not
// merge, so the merge is played here.
HKEY Merged(HKEY root, LPCWSTR path, std::wstring& merged) {
    if (root != HKEY_CLASSES_ROOT || path == nullptr)
        return root;
    std::wstring name = path;
    merged = L"Software\\Classes\\" + name;
    return RawKeyExists(HKEY_CURRENT_USER,
                        L"Software\\Classes\\" + name.substr(0, name.find(L'\\')))
               ? HKEY_CURRENT_USER
               : root;
}
LONG WINAPI MergedOpen(HKEY root, LPCWSTR path, DWORD options, REGSAM access, PHKEY key) {
    std::wstring merged;
    HKEY used = Merged(root, path, merged);
    return RealRegistryFunctions().OpenKey(used, used == root ? path : merged.c_str(), options,
                                           access, key);
}
LONG WINAPI MergedCreate(HKEY root, LPCWSTR path, DWORD reserved, LPWSTR keyClass, DWORD options,
                         REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY key,
                         LPDWORD disposition) {
    std::wstring merged;
    HKEY used = Merged(root, path, merged);
    return RealRegistryFunctions().CreateKey(used, used == root ? path : merged.c_str(), reserved,
                                             keyClass, options, access, security, key, disposition);
}

void SetMachineValue(const std::wstring& key, const wchar_t* name, const std::wstring& text,
                     REGSAM view) {
    HKEY opened;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0,
                                             KEY_SET_VALUE | view, nullptr, &opened, nullptr));
    RegSetValueExW(opened, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   DWORD((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(opened);
}

const wchar_t* const ShellExtensionDlls[] = {L"bdlext.dll", L"bdlext64.dll"};
const wchar_t Approved[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";

class Removal : public ::testing::Test {
  protected:
    void SetUp() override {
        CoInitialize(nullptr);
        Clean();
        for (const wchar_t* dll : ShellExtensionDlls)
            WriteRaw(ModuleFolder() + L"\\" + dll, "placeholder");
    }
    void TearDown() override {
        MsiMode = false;
        OverrideRegistryFunctions(nullptr);
        Clean();
        for (const wchar_t* dll : ShellExtensionDlls)
            DeleteFileW((ModuleFolder() + L"\\" + dll).c_str());
        CoUninitialize();
    }
    static void Clean() {
        // What the prefix held before (another scenario's seed, say) must not look like a
        // leftover of the removal.
        for (const wchar_t* key : {L".zip", L".bdl", L".b01", L".7z", L".rev", L"Other.7z"})
            RegDeleteTreeW(HKEY_CLASSES_ROOT, key);
        DeleteMachineProductKeys();
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Bundlo");
        for (REGSAM view : {REGSAM(KEY_WOW64_32KEY), REGSAM(KEY_WOW64_64KEY)}) {
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, AppPaths.c_str(), view, 0);
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, Uninstall.c_str(), view, 0);
        }
    }
    // What a confirmed setup with every choice writes; the group folder goes to Group.
    void Install() {
        IntegrationSettings all = EveryArchiveType();
        all.shellExtension = all.linkDesktop = all.linkStartMenu = all.linkProgramGroup = 1;
        ASSERT_TRUE(ApplyIntegration(all, Group, PathCapacity));
        RegisterUninstallEntry();
        ASSERT_TRUE(RawKeyExists(HKEY_CLASSES_ROOT, L".zip"));
        ASSERT_TRUE(
            RawKeyExists(HKEY_CLASSES_ROOT, ServerKey(ShellExtensionClsid64), KEY_WOW64_64KEY));
        ASSERT_TRUE(RawKeyExists(HKEY_LOCAL_MACHINE, Uninstall));
        ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(Group));
    }
    static std::wstring ServerKey(const wchar_t* clsid) {
        return std::wstring(L"CLSID\\") + clsid + L"\\InProcServer32";
    }
    static bool AppPathsInEveryView() {
        return RawKeyExists(HKEY_LOCAL_MACHINE, AppPaths, KEY_WOW64_32KEY) &&
               RawKeyExists(HKEY_LOCAL_MACHINE, AppPaths, KEY_WOW64_64KEY);
    }
    static bool AppPathsInAnyView() {
        return RawKeyExists(HKEY_LOCAL_MACHINE, AppPaths, KEY_WOW64_32KEY) ||
               RawKeyExists(HKEY_LOCAL_MACHINE, AppPaths, KEY_WOW64_64KEY);
    }
    wchar_t Group[PathCapacity] = L"";
};

// A registry link at `link` (under HKEY_CURRENT_USER) to the user's key `target`.
void MakeUserLink(const wchar_t* link, const wchar_t* target) {
    HANDLE token;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    BYTE user[256];
    DWORD size = 0;
    ASSERT_TRUE(GetTokenInformation(token, TokenUser, user, sizeof user, &size));
    CloseHandle(token);
    wchar_t* sid = nullptr;
    ASSERT_TRUE(ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &sid));
    std::wstring path = std::wstring(L"\\Registry\\User\\") + sid + L"\\" + target;
    LocalFree(sid);
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_CURRENT_USER, link, 0, nullptr, REG_OPTION_CREATE_LINK,
                              KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, &key, nullptr));
    RegSetValueExW(key, L"SymbolicLinkValue", 0, REG_LINK,
                   reinterpret_cast<const BYTE*>(path.c_str()),
                   DWORD(path.size() * sizeof(wchar_t)));
    RegCloseKey(key);
}

TEST_F(Removal, EverythingGoesAndExtensionsReturnToTheirOwners) {
    SetString(HKEY_CLASSES_ROOT, L".7z", L"", L"Other.7z");
    Install();
    // What any program of the user can put under the product key: a name of 240 characters
    // (with a key below it), and a link to another key of the user's, which is not the
    // removal's to touch.
    SetString(HKEY_CURRENT_USER, (std::wstring(240, L'n') + L"\\below").c_str(), L"v", L"x");
    SetString(HKEY_CURRENT_USER, L"\\Software\\BdlLinkTarget\\below", L"v", L"x");
    MakeUserLink(L"Software\\Bundlo\\Linked", L"Software\\BdlLinkTarget");
    ASSERT_EQ(L"Bundlo", RawValue(HKEY_CLASSES_ROOT, L".7z", L""));
    // Half-made states of runs cut short: ".cab" and ".b03" emptied between their class and
    // their key; ".arj" with a machine's record cut after the first value copied from an earlier
    // version's per-user one; ".ace", which only earlier versions took.
    for (const wchar_t* key : {L"Software\\Classes\\.cab", L"Software\\Classes\\.b03"}) {
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, key, L"");
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(key) + L"\\ShellNew").c_str());
    }
    for (const wchar_t* extension : {L".arj", L".ace"}) {
        std::wstring user = std::wstring(L"\\Software\\Bundlo\\Setup\\") + extension;
        SetDword(HKEY_CURRENT_USER, user.c_str(), L"Exist", 1);
        SetString(HKEY_CURRENT_USER, user.c_str(), L"Type", L"Other.Archive");
        SetString(HKEY_CLASSES_ROOT, extension, L"", L"Bundlo");
    }
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.arj\\ShellNew");
    DeleteKeyTree(InView(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY), L"\\Software\\Bundlo\\Setup\\.arj");
    SetDword(InView(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY), L"\\Software\\Bundlo\\Setup\\.arj",
             L"Exist", 1);
    RegistryFunctions recording = RealRegistryFunctions();
    recording.DeleteKeyEx = RecordingDeleteKeyEx;
    OverrideRegistryFunctions(&recording);
    RemoveFromRegistry();
    OverrideRegistryFunctions(nullptr);
    EXPECT_EQ(L"Other.7z", RawValue(HKEY_CLASSES_ROOT, L".7z", L""));
    for (const wchar_t* extension : {L".arj", L".ace"})
        EXPECT_EQ(L"Other.Archive", RawValue(HKEY_CLASSES_ROOT, extension, L"")) << extension;
    for (const wchar_t* key :
         {L".zip", L".bdl", L".b01", L".b03", L".cab", L".rev", L"Bundlo", L"Bundlo.ZIP",
          L"Bundlo.REV", L"Folder\\shellex\\DragDropHandlers\\Bundlo"})
        EXPECT_FALSE(RawKeyExists(HKEY_CLASSES_ROOT, key)) << key;
    EXPECT_FALSE(RawKeyExists(HKEY_CURRENT_USER, L"Software\\Bundlo"));
    EXPECT_EQ(L"x", RawValue(HKEY_CURRENT_USER, L"Software\\BdlLinkTarget\\below", L"v"));
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\BdlLinkTarget");
    for (REGSAM view : {REGSAM(KEY_WOW64_32KEY), REGSAM(KEY_WOW64_64KEY)}) {
        EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, L"Software\\Bundlo", view));
        for (const wchar_t* clsid : {ShellExtensionClsid32, ShellExtensionClsid64}) {
            EXPECT_FALSE(RawKeyExists(HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + clsid, view))
                << clsid;
            EXPECT_EQ(MissingValue, RawValue(HKEY_LOCAL_MACHINE, Approved, clsid, view)) << clsid;
        }
    }
    EXPECT_EQ(MissingValue,
              RawValue(HKEY_LOCAL_MACHINE, L"Software\\RegisteredApplications", L"Bundlo"));
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, Uninstall));
    EXPECT_FALSE(AppPathsInAnyView());
    EXPECT_EQ(REGSAM(KEY_WOW64_32KEY | KEY_WOW64_64KEY), AppPathsDeletedInViews);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(Group));
}

// Found by the fault campaign (faults, seed 1: RemoveRegistrations with a read of the saved
// state or a write of the give-back refused): the per-user key went with the previous owners in
// it, and the extension was lost to them. Now it stays until a later removal has given back
// every extension.
TEST_F(Removal, ThePreviousOwnersStayUntilEveryExtensionIsGivenBack) {
    SetString(HKEY_CLASSES_ROOT, L".7z", L"", L"Other.7z");
    Install();
    {
        FailingCall failing(RegistryCall::OpenKey, L"Software\\Bundlo\\Setup\\.7z",
                            ERROR_ACCESS_DENIED);
        CapturedDiagnostics diagnostics;
        RemoveFromRegistry();
        EXPECT_TRUE(FailingCall::Failed());
        EXPECT_NE(std::vector<std::wstring>(), CapturedDiagnostics::Lines());
    }
    EXPECT_EQ(L"Other.7z", RecordValue(L".7z", L"Type"));
    EXPECT_EQ(L"Bundlo", RawValue(HKEY_CLASSES_ROOT, L".7z", L""));
    {
        // The first class given back: ".7z"'s. The removal stops there: the class ".7z" still
        // names, and everything a later removal needs, stay.
        FailingCall failing(RegistryCall::SetValue, L"", ERROR_ACCESS_DENIED);
        EXPECT_FALSE(RemoveFromRegistry());
        EXPECT_TRUE(FailingCall::Failed());
    }
    EXPECT_NE(MissingValue, RecordValue(L".bdl", L"Exist"));
    EXPECT_EQ(L"Bundlo", RawValue(HKEY_CLASSES_ROOT, L".7z", L""));
    EXPECT_NE(MissingValue, RawValue(HKEY_CLASSES_ROOT, L"Bundlo\\shell\\open\\command", L""));
    EXPECT_TRUE(RawKeyExists(HKEY_LOCAL_MACHINE, Uninstall));
    EXPECT_TRUE(AppPathsInEveryView());
    {
        // The record of the installation refused once (faults, seed 20261209): whose
        // registrations these are is unknown, and nothing goes, the saved owners least of all.
        FailingCall failing(RegistryCall::OpenKey, L"Software\\Bundlo\\Setup", ERROR_ACCESS_DENIED);
        EXPECT_FALSE(RemoveFromRegistry());
        EXPECT_TRUE(FailingCall::Failed());
    }
    EXPECT_EQ(L"Other.7z", RecordValue(L".7z", L"Type"));
    {
        // The uninstall entry's deletion refused: it would run a program that is gone. The
        // record stays with it for the same removal run again.
        FailingCall failing(RegistryCall::DeleteKey, Uninstall.c_str(), ERROR_ACCESS_DENIED);
        EXPECT_FALSE(RemoveFromRegistry());
        EXPECT_TRUE(FailingCall::Failed());
    }
    EXPECT_TRUE(RawKeyExists(HKEY_LOCAL_MACHINE, Uninstall));
    EXPECT_TRUE(RawKeyExists(HKEY_LOCAL_MACHINE, L"Software\\Bundlo\\Setup", KEY_WOW64_64KEY));
    EXPECT_TRUE(RemoveFromRegistry());
    EXPECT_EQ(L"Other.7z", RawValue(HKEY_CLASSES_ROOT, L".7z", L""));
    EXPECT_FALSE(RawKeyExists(HKEY_CURRENT_USER, L"Software\\Bundlo"));
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, L"Software\\Bundlo", KEY_WOW64_64KEY));
}

// What fleets do between the setup and the removal: a settings file arrives beside the program
// (the vendor's, imported later, or one planted with saved-state lines), the installing user's
// key is gone (another account removes it), and the program runs from the same folder spelled
// otherwise than at the setup (its short name, the "\\?\" form). The machine's record still gives
// everything back and takes every registration away, in both views, whatever the file says.
TEST_F(Removal, TheMachinesRecordDrivesTheRemovalWhateverCameSince) {
    const std::wstring ini = ModuleFolder() + L"\\Bundlo.ini";
    wchar_t shortFolder[MAX_PATH];
    ASSERT_NE(0u, GetShortPathNameW(ModuleFolder().c_str(), shortFolder, MAX_PATH));
    const std::wstring spellings[] = {shortFolder, L"\\\\?\\" + ModuleFolder()};
    for (const char* file :
         {"Global\\Integration=0\r\n",
          "HKCU\\Setup\\.zip\\Exist=1\r\nHKCU\\Setup\\.zip\\Type=\"exefile\"\r\n"}) {
        const std::wstring& spelling = spellings[file[0] == 'G' ? 0 : 1];
        SCOPED_TRACE(file);
        SetString(HKEY_CLASSES_ROOT, L".zip", L"", L"CompressedFolder");
        Install();
        SetMachineValue(L"Software\\Bundlo\\Setup", L"Folder", spelling, KEY_WOW64_64KEY);
        // The other build's entry of this installation, as a setup of that build leaves it.
        SetMachineValue(Uninstall, L"InstallLocation", spelling + L"\\", OtherView);
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Bundlo");
        WriteRaw(ini, file);
        ReleaseSettings();
        RemoveFromRegistry();
        DeleteFileW(ini.c_str());
        ReleaseSettings();
        EXPECT_EQ(L"CompressedFolder", RawValue(HKEY_CLASSES_ROOT, L".zip", L""));
        EXPECT_FALSE(RawKeyExists(HKEY_CLASSES_ROOT, L"Bundlo"));
        EXPECT_FALSE(
            RawKeyExists(HKEY_CLASSES_ROOT, ServerKey(ShellExtensionClsid64), KEY_WOW64_64KEY));
        EXPECT_FALSE(AppPathsInAnyView());
        EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, Uninstall, KEY_WOW64_32KEY));
        EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, Uninstall, KEY_WOW64_64KEY));
        EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, L"Software\\Bundlo", KEY_WOW64_64KEY));
        EXPECT_EQ(MissingValue,
                  RawValue(HKEY_LOCAL_MACHINE, L"Software\\RegisteredApplications", L"Bundlo"));
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(Group));
    }
}

// A copy in another folder (a portable one, a copy the user made, the build a vendor moved away
// from) leaves the registrations of the installation the machine's record names alone, but takes
// what names itself: its uninstall entry, App Paths and the shortcuts into its folder.
TEST_F(Removal, AnotherCopysRemovalLeavesTheInstallationAlone) {
    const std::wstring other = ModuleFolder() + L"\\other";
    CreateDirectoryW(other.c_str(), nullptr);
    Install();
    const std::wstring mine = std::wstring(Group) + L"\\m.lnk",
                       its = std::wstring(Group) + L"\\o.lnk";
    SetMachineValue(L"Software\\Bundlo\\Setup", L"Folder", other, KEY_WOW64_64KEY);
    SetMachineValue(Uninstall, L"UninstallString", L"\"" + other + L"\\Uninstall.exe\"", OtherView);
    ASSERT_TRUE(WriteShortcut((ModuleFolder() + L"\\Bdl.txt").c_str(), mine.c_str(), 0, 0, 0));
    ASSERT_TRUE(WriteShortcut((other + L"\\Bdl.txt").c_str(), its.c_str(), 0, 0, 0));
    RemoveFromRegistry();
    EXPECT_EQ(L"Bundlo.ZIP", RawValue(HKEY_CLASSES_ROOT, L".zip", L""));
    EXPECT_TRUE(RawKeyExists(HKEY_LOCAL_MACHINE, Uninstall, OtherView));
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, Uninstall, OtherView ^ KEY_WOW64_RES));
    EXPECT_FALSE(AppPathsInAnyView());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(mine.c_str()));
    EXPECT_TRUE(DeleteFileW(its.c_str()));
    UpdateShortcuts(IntegrationSettings{}, nullptr, 0, nullptr); // the group folders
    RemoveDirectoryW(other.c_str());
}

// With a user's own key of the same name, the merged root would take the machine's association
// into that user's classes, and save that user's class as the previous owner.
TEST_F(Removal, MachineClassesGoToTheMachineWhateverTheUserHas) {
    SetString(HKEY_CLASSES_ROOT, L".7z", L"", L"Other.7z");
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Classes\\.7z", L"",
                                             REG_SZ, L"User.7z", sizeof L"User.7z"));
    RegistryFunctions merged = RealRegistryFunctions();
    merged.OpenKey = MergedOpen;
    merged.CreateKey = MergedCreate;
    OverrideRegistryFunctions(&merged);
    Install();
    EXPECT_EQ(L"Bundlo", RawValue(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.7z", L""));
    EXPECT_EQ(L"Other.7z", RecordValue(L".7z", L"Type"));
    RemoveFromRegistry();
    OverrideRegistryFunctions(nullptr);
    EXPECT_EQ(L"Other.7z", RawValue(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.7z", L""));
    EXPECT_EQ(L"User.7z", RawValue(HKEY_CURRENT_USER, L"Software\\Classes\\.7z", L""));
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Classes\\.7z");
}

TEST_F(Removal, MsiModeLeavesTheUninstallEntryAndAppPathsToThePackage) {
    Install();
    MsiMode = true;
    RemoveFromRegistry();
    EXPECT_FALSE(RawKeyExists(HKEY_CLASSES_ROOT, L".zip"));
    EXPECT_FALSE(RawKeyExists(HKEY_CURRENT_USER, L"Software\\Bundlo"));
    EXPECT_TRUE(RawKeyExists(HKEY_LOCAL_MACHINE, Uninstall));
    EXPECT_TRUE(AppPathsInEveryView());
}

TEST_F(Removal, RevGoesOnlyWhileItBelongsToTheArchiver) {
    Install();
    SetString(HKEY_CLASSES_ROOT, L".rev", L"", L"Other.Recovery");
    RemoveFromRegistry();
    EXPECT_EQ(L"Other.Recovery", RawValue(HKEY_CLASSES_ROOT, L".rev", L""));
    // Found by the foreign-values campaign (foreign, seed 1, input 119): another program's ".rev"
    // found by the setup was taken without a saved state, then removed with the archiver.
    SetString(HKEY_CLASSES_ROOT, L".rev\\OpenWithProgids", L"Other.Recovery", L"");
    Install();
    EXPECT_EQ(L"Other.Recovery", RawValue(HKEY_CLASSES_ROOT, L".rev", L""));
    RemoveFromRegistry();
    EXPECT_EQ(L"Other.Recovery", RawValue(HKEY_CLASSES_ROOT, L".rev", L""));
    EXPECT_TRUE(RawKeyExists(HKEY_CLASSES_ROOT, L".rev\\OpenWithProgids"));

    // A class that cannot be read whole, too long or not text, may be another program's.
    std::wstring longClass(300, L'c');
    const BYTE binary[] = {0, 0, 'R', 0}; // reads as an empty text
    struct Unreadable {
        DWORD Type;
        const void* Data;
        DWORD Size;
    };
    for (const Unreadable& rev :
         {Unreadable{REG_SZ, longClass.c_str(), DWORD((longClass.size() + 1) * 2)},
          Unreadable{REG_BINARY, binary, sizeof binary}}) {
        RegDeleteTreeW(HKEY_CLASSES_ROOT, L".rev");
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetKeyValueW(HKEY_CLASSES_ROOT, L".rev", L"", rev.Type, rev.Data, rev.Size));
        RemoveFromRegistry();
        EXPECT_TRUE(RawKeyExists(HKEY_CLASSES_ROOT, L".rev")) << rev.Type;
    }

    // Another program's list under it is not the archiver's to take along: only the class goes.
    for (const wchar_t* className : {L"bundlo.rev", L""}) {
        RegDeleteTreeW(HKEY_CLASSES_ROOT, L".rev");
        SetString(HKEY_CLASSES_ROOT, L".rev\\OpenWithProgids", L"Other.Rev", L"");
        if (className[0] != 0)
            SetString(HKEY_CLASSES_ROOT, L".rev", L"", className);
        EXPECT_TRUE(RevBelongsToArchiver()) << className;
        RemoveFromRegistry();
        EXPECT_EQ(L"", RawValue(HKEY_CLASSES_ROOT, L".rev", L"")) << className;
        EXPECT_EQ(L"", RawValue(HKEY_CLASSES_ROOT, L".rev\\OpenWithProgids", L"Other.Rev"));
    }
}

} // namespace
