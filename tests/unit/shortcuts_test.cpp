// Shortcuts written by the shell's own link object into the prefix's desktop and Start menu
// folders and read back through it. The "program folder" is this test's own folder, where the
// targets are placed as empty files.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>
#include <winioctl.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "common/files.h"
#include "common/settings.h"
#include "common/system.h"
#include "integration/shortcuts.h"
#include "lang/langfile.h"
#include "lang/localise.h"
#include "resources/resource.h"
#include "tests/unit/test_support.h"

namespace {

std::wstring Folder(int csidl) {
    wchar_t path[MAX_PATH] = L"";
    SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text = path;
    return text.substr(0, text.rfind(L'\\'));
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string Content(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<missing>";
    char buffer[256];
    DWORD read = 0;
    ReadFile(file, buffer, sizeof buffer, &read, nullptr);
    CloseHandle(file);
    return std::string(buffer, read);
}

void Touch(const std::wstring& path, const char* content = "") {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << path;
    DWORD written;
    WriteFile(file, content, DWORD(strlen(content)), &written, nullptr);
    CloseHandle(file);
}

// Runs a Unix tool of the host on the Unix names of Windows paths and waits until `done` holds
// for the attributes of the last path; only under Wine. The tool's end cannot be waited for
// through its process handle.
bool RunUnixTool(const wchar_t* tool, std::vector<std::wstring> paths, bool (*done)(DWORD)) {
    typedef char*(CDECL * UnixName)(const wchar_t*);
    auto unixName =
        GetExport<UnixName>(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name");
    if (!unixName)
        return false;
    std::wstring command = tool;
    for (const std::wstring& path : paths) {
        char* unixPath = unixName(path.c_str());
        if (!unixPath)
            return false;
        wchar_t wide[2 * MAX_PATH];
        MultiByteToWideChar(CP_UTF8, 0, unixPath, -1, wide, 2 * MAX_PATH);
        HeapFree(GetProcessHeap(), 0, unixPath);
        command += L" \"" + std::wstring(wide) + L"\"";
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    std::wstring program = L"Z:\\bin\\" + command.substr(0, command.find(L' '));
    if (!CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (int i = 0; i < 200; i++, Sleep(50))
        if (done(GetFileAttributesW(paths.back().c_str())))
            return true;
    return false;
}

// Removes a tree without ever entering a linked folder.
void RemoveTree(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                std::wstring name = data.cFileName;
                if (name != L"." && name != L"..")
                    RemoveTree(path + L"\\" + name);
            } while (FindNextFileW(find, &data));
            FindClose(find);
        }
    }
    if (!RemoveDirectoryW(path.c_str()) && !DeleteFileW(path.c_str()) &&
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        // Wine removes a Unix symbolic link to a folder neither way.
        RunUnixTool(L"rm", {path},
                    [](DWORD attributes) { return attributes == INVALID_FILE_ATTRIBUTES; });
}

struct Link {
    std::wstring Target, Description, Icon, WorkingFolder;
    WORD Hotkey = 0;
};

template <typename Body> bool WithLink(const std::wstring& file, DWORD mode, Body body) {
    IShellLinkW* link = nullptr;
    IPersistFile* persist = nullptr;
    bool ok =
        SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&link))) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist))) &&
        SUCCEEDED(persist->Load(file.c_str(), mode)) && body(link, persist);
    if (persist)
        persist->Release();
    if (link)
        link->Release();
    return ok;
}

Link ReadLink(const std::wstring& file) {
    Link result;
    bool ok = WithLink(file, STGM_READ, [&](IShellLinkW* link, IPersistFile*) {
        wchar_t text[MAX_PATH];
        int index;
        link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH);
        result.Target = text;
        link->GetDescription(text, MAX_PATH);
        result.Description = text;
        link->GetIconLocation(text, MAX_PATH, &index);
        result.Icon = text;
        link->GetWorkingDirectory(text, MAX_PATH);
        result.WorkingFolder = text;
        link->GetHotkey(&result.Hotkey);
        return true;
    });
    EXPECT_TRUE(ok) << "unreadable shortcut " << file;
    return result;
}

// Sets a text value for the lifetime of the object and puts the old value, or none, back; in
// both registry views, since a 32-bit shell may read either.
class ValueOverride {
  public:
    ValueOverride(HKEY root, const wchar_t* key, const wchar_t* name, const wchar_t* text)
        : Name(name) {
        for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
            Saved saved = {};
            if (RegOpenKeyExW(root, key, 0, KEY_QUERY_VALUE | KEY_SET_VALUE | view, &saved.Key) !=
                ERROR_SUCCESS)
                continue;
            DWORD size = sizeof saved.Data;
            saved.Existed = RegQueryValueExW(saved.Key, name, nullptr, &saved.Type, saved.Data,
                                             &size) == ERROR_SUCCESS;
            saved.Size = size;
            RegSetValueExW(saved.Key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                           DWORD((wcslen(text) + 1) * sizeof(wchar_t)));
            Keys.push_back(saved);
        }
    }
    ~ValueOverride() {
        // Backwards: when both views are one key, the first saving holds the original.
        for (auto saved = Keys.rbegin(); saved != Keys.rend(); ++saved) {
            if (saved->Existed)
                RegSetValueExW(saved->Key, Name, 0, saved->Type, saved->Data, saved->Size);
            else
                RegDeleteValueW(saved->Key, Name);
            RegCloseKey(saved->Key);
        }
    }
    ValueOverride(const ValueOverride&) = delete;
    ValueOverride& operator=(const ValueOverride&) = delete;

  private:
    struct Saved {
        HKEY Key;
        bool Existed;
        DWORD Type, Size;
        BYTE Data[2048];
    };
    const wchar_t* Name;
    std::vector<Saved> Keys;
};

const wchar_t ShellFolders[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

// Points a shell folder at a folder that does not exist, so that the shell cannot name it.
struct UnresolvedFolder : ValueOverride {
    UnresolvedFolder(HKEY root, const wchar_t* name)
        : ValueOverride(root, ShellFolders, name, L"C:\\bdl-no-such-folder") {}
};

// A folder link at `link` to `target`: a junction where the system makes one. Wine 8 makes
// neither a junction (the control code is refused) nor a symbolic link (CreateSymbolicLinkW
// reports success and makes nothing), but it shows a Unix symbolic link as a reparse point, so
// there the Unix "ln" makes it.
bool MakeFolderLink(const std::wstring& link, const std::wstring& target) {
    if (CreateDirectoryW(link.c_str(), nullptr)) {
        HANDLE handle =
            CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        std::wstring substitute = L"\\??\\" + target;
        std::vector<BYTE> buffer(16 + (substitute.size() + target.size() + 2) * 2);
        auto words = reinterpret_cast<WORD*>(buffer.data() + 4);
        *reinterpret_cast<DWORD*>(buffer.data()) = IO_REPARSE_TAG_MOUNT_POINT;
        words[0] = WORD(buffer.size() - 8);
        words[3] = WORD(substitute.size() * 2);
        words[4] = WORD(words[3] + 2);
        words[5] = WORD(target.size() * 2);
        memcpy(buffer.data() + 16, substitute.c_str(), words[3]);
        memcpy(buffer.data() + 16 + words[4], target.c_str(), words[5]);
        DWORD returned;
        bool made = handle != INVALID_HANDLE_VALUE &&
                    DeviceIoControl(handle, FSCTL_SET_REPARSE_POINT, buffer.data(),
                                    DWORD(buffer.size()), nullptr, 0, &returned, nullptr);
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
        if (made)
            return true;
        RemoveDirectoryW(link.c_str());
    }
    return RunUnixTool(L"ln -s", {target, link}, [](DWORD attributes) {
        return attributes != INVALID_FILE_ATTRIBUTES &&
               (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    });
}

IntegrationSettings Links(bool desktop, bool startMenu, bool group) {
    IntegrationSettings settings = {};
    settings.linkDesktop = desktop;
    settings.linkStartMenu = startMenu;
    settings.linkProgramGroup = group;
    return settings;
}

class Shortcuts : public ::testing::Test {
  protected:
    void SetUp() override {
        CoInitialize(nullptr);
        ReleaseSettings();
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        Scratch = std::wstring(temp) + L"bdl-shortcuts-test";
        // Wine's desktop folder is the host user's home, and Wine mirrors Start menu links into
        // the host's menus: both stay out of the test's way.
        Desktop = std::wstring(temp) + L"bdl-shortcuts-desktop";
        CreateDirectoryW(Desktop.c_str(), nullptr);
        OwnDesktop.reset(
            new ValueOverride(HKEY_CURRENT_USER, ShellFolders, L"Desktop", Desktop.c_str()));
        NoMenuMirror.reset(new ValueOverride(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides",
                                             L"winemenubuilder.exe", L""));
        Program = ProgramFolder();
        Archiver = Program + L"\\Bundlo.exe";
        UserDesktopLink = Folder(CSIDL_DESKTOPDIRECTORY) + L"\\Bundlo.lnk";
        CommonDesktopLink = Folder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\Bundlo.lnk";
        CommonStartLink = Folder(CSIDL_COMMON_STARTMENU) + L"\\Bundlo.lnk";
        UserStartLink = Folder(CSIDL_STARTMENU) + L"\\Bundlo.lnk";
        UserGroup = Folder(CSIDL_PROGRAMS) + L"\\Bundlo";
        CommonGroup = Folder(CSIDL_COMMON_PROGRAMS) + L"\\Bundlo";
        Clean();
        CreateDirectoryW(Scratch.c_str(), nullptr);
        for (const wchar_t* name :
             {L"Bundlo.exe", L"Bundlo.chm", L"Bdl.txt", LoadText(IDS_WHATSNEWNAME)})
            Touch(Program + L"\\" + name);
    }
    void TearDown() override {
        Clean();
        for (const wchar_t* name :
             {L"Bundlo.exe", L"Bundlo.chm", L"Bdl.txt", LoadText(IDS_WHATSNEWNAME)})
            DeleteFileW((Program + L"\\" + name).c_str());
        DeleteFileW((Program + L"\\Bundlo.ini").c_str());
        ReleaseSettings();
        VersionQueryOverride = nullptr;
        ResetPlatformCache();
        OwnDesktop.reset();
        NoMenuMirror.reset();
        RemoveTree(Desktop);
        CoUninitialize();
    }
    void Clean() {
        Language.Clear();
        DeleteFileW((Program + L"\\uninstall.lng").c_str());
        for (const std::wstring& link :
             {UserDesktopLink, CommonDesktopLink, CommonStartLink, UserStartLink,
              Folder(CSIDL_STARTUP) + L"\\x.lnk", Folder(CSIDL_COMMON_STARTUP) + L"\\x.lnk",
              Folder(CSIDL_STARTMENU) + L"\\escaped.lnk",
              Folder(CSIDL_COMMON_STARTMENU) + L"\\escaped.lnk"})
            DeleteFileW(link.c_str());
        RemoveTree(Outside());
        for (const std::wstring& folder :
             {UserGroup, CommonGroup, Scratch, Program + L"\\unknown_folder"})
            RemoveTree(folder);
    }
    // Where "..\\..\\outside" leads from the program folder.
    std::wstring Outside() const {
        std::wstring parent = Program.substr(0, Program.rfind(L'\\'));
        return parent.substr(0, parent.rfind(L'\\')) + L"\\outside";
    }
    // The group's shortcut files, by row: the archiver, help, "Bdl.txt", what's new.
    static std::vector<std::wstring> GroupLinks(const std::wstring& group) {
        return {group + L"\\Bundlo.lnk", group + L"\\" + LoadText(IDS_BUNDLOHELP) + L".lnk",
                group + L"\\" + LoadText(IDS_BDLHELP) + L".lnk",
                group + L"\\" + LoadText(IDS_WHATSNEW) + L".lnk"};
    }
    void Update(const IntegrationSettings& settings, wchar_t* output = nullptr, size_t capacity = 0,
                const wchar_t* icon = L"C:\\icons\\bundlo.ico") {
        UpdateShortcuts(settings, output, capacity, icon);
    }

    std::wstring Program, Archiver, UserDesktopLink, CommonDesktopLink, CommonStartLink,
        UserStartLink, UserGroup, CommonGroup, Scratch, Desktop;
    std::unique_ptr<ValueOverride> OwnDesktop, NoMenuMirror;
};

TEST_F(Shortcuts, WrittenLinkReadsBackAndKeepsTheUsersHotKey) {
    std::wstring file = Scratch + L"\\one.lnk";
    ASSERT_TRUE(WriteShortcut(Archiver.c_str(), file.c_str(), L"C:\\work", L"first",
                              L"C:\\icons\\bundlo.ico"));
    Link link = ReadLink(file);
    EXPECT_EQ(Archiver, link.Target);
    EXPECT_EQ(L"first", link.Description);
    EXPECT_EQ(L"C:\\icons\\bundlo.ico", link.Icon);
    EXPECT_EQ(L"C:\\work", link.WorkingFolder);

    const WORD hotkey = MAKEWORD('B', HOTKEYF_CONTROL | HOTKEYF_ALT);
    ASSERT_TRUE(WithLink(file, STGM_READWRITE, [&](IShellLinkW* l, IPersistFile* p) {
        return SUCCEEDED(l->SetHotkey(hotkey)) && SUCCEEDED(p->Save(file.c_str(), TRUE));
    }));
    std::wstring help = Program + L"\\Bundlo.chm";
    ASSERT_TRUE(WriteShortcut(help.c_str(), file.c_str(), nullptr, L"second", nullptr));
    link = ReadLink(file);
    EXPECT_EQ(hotkey, link.Hotkey);
    EXPECT_EQ(help, link.Target);
    EXPECT_EQ(L"second", link.Description);
    EXPECT_EQ(L"", link.Icon);
    EXPECT_EQ(L"C:\\work", link.WorkingFolder);

    EXPECT_FALSE(WriteShortcut(Archiver.c_str(), (Scratch + L"\\none\\two.lnk").c_str(), nullptr,
                               nullptr, nullptr));
}

TEST_F(Shortcuts, UnresolvedShellFolderIsReportedAsUnknown) {
    wchar_t buffer[MAX_PATH];
    EXPECT_TRUE(GetShellFolder(buffer, MAX_PATH, CSIDL_PROGRAMS));
    EXPECT_EQ(Folder(CSIDL_PROGRAMS), buffer);
    EXPECT_FALSE(GetShellFolder(buffer, MAX_PATH - 1, CSIDL_PROGRAMS));
    EXPECT_STREQ(L"unknown_folder", buffer);
    EXPECT_FALSE(GetShellFolder(buffer, 5, CSIDL_PROGRAMS));
    EXPECT_STREQ(L"unkn", buffer);
    UnresolvedFolder programs(HKEY_CURRENT_USER, L"Programs");
    buffer[0] = 0;
    EXPECT_FALSE(GetShellFolder(buffer, MAX_PATH, CSIDL_PROGRAMS));
    EXPECT_STREQ(L"unknown_folder", buffer);
}

TEST_F(Shortcuts, FolderTreeIsDeletedButNeverThroughALink) {
    std::wstring tree = Scratch + L"\\tree";
    CreateDirectoryW(tree.c_str(), nullptr);
    CreateDirectoryW((tree + L"\\sub").c_str(), nullptr);
    Touch(tree + L"\\sub\\file.txt");
    Touch(Scratch + L"\\plain.txt");
    DeleteFolderTree(tree.c_str());
    EXPECT_FALSE(Exists(tree));
    DeleteFolderTree((Scratch + L"\\plain.txt").c_str());
    EXPECT_TRUE(Exists(Scratch + L"\\plain.txt"));

    std::wstring target = Scratch + L"\\target";
    CreateDirectoryW(target.c_str(), nullptr);
    Touch(target + L"\\precious.txt");
    if (!MakeFolderLink(Scratch + L"\\link", target))
        GTEST_SKIP() << "this system makes no folder link";
    DeleteFolderTree((Scratch + L"\\link").c_str());
    EXPECT_TRUE(Exists(Scratch + L"\\link"));
    EXPECT_TRUE(Exists(target + L"\\precious.txt"));
    // Nor through a link on the way (the user chooses where the Programs folder lies).
    CreateDirectoryW((target + L"\\group").c_str(), nullptr);
    Touch(target + L"\\group\\precious.txt");
    DeleteFolderTree((Scratch + L"\\link\\group").c_str());
    EXPECT_TRUE(Exists(target + L"\\group\\precious.txt"));
}

TEST_F(Shortcuts, SwitchedOffIntegrationMakesAndRemovesNothing) {
    ASSERT_TRUE(
        WriteShortcut(Archiver.c_str(), UserDesktopLink.c_str(), nullptr, nullptr, nullptr));
    CreateDirectoryW(UserGroup.c_str(), nullptr);
    Touch(UserGroup + L"\\stray.lnk");
    Touch(Program + L"\\Bundlo.ini", "Global\\Integration=0\r\n");
    ReleaseSettings();
    Update(Links(true, true, true));
    EXPECT_FALSE(Exists(CommonStartLink));
    EXPECT_FALSE(Exists(CommonGroup));
    EXPECT_TRUE(Exists(UserGroup + L"\\stray.lnk"));
    Update(Links(false, false, false));
    EXPECT_TRUE(Exists(UserDesktopLink));
    EXPECT_TRUE(Exists(UserGroup + L"\\stray.lnk"));
}

TEST_F(Shortcuts, DesktopShortcutIsNewForAllUsersAndRefreshedWhereTheUserHasIt) {
    Update(Links(true, false, false));
    EXPECT_FALSE(Exists(UserDesktopLink));
    Link link = ReadLink(CommonDesktopLink);
    EXPECT_EQ(Archiver, link.Target);
    EXPECT_EQ(LoadText(IDS_BUNDLODESC), link.Description);
    EXPECT_EQ(L"C:\\icons\\bundlo.ico", link.Icon);
    EXPECT_EQ(L"", link.WorkingFolder);

    DeleteFileW(CommonDesktopLink.c_str());
    ASSERT_TRUE(WriteShortcut((Program + L"\\Bdl.txt").c_str(), UserDesktopLink.c_str(), nullptr,
                              L"old", nullptr));
    Update(Links(true, false, false));
    EXPECT_FALSE(Exists(CommonDesktopLink));
    EXPECT_EQ(Archiver, ReadLink(UserDesktopLink).Target);

    // Removal takes both at once: run again after a cut, it must leave what one run leaves.
    ASSERT_TRUE(
        WriteShortcut(Archiver.c_str(), CommonDesktopLink.c_str(), nullptr, nullptr, nullptr));
    Update(Links(false, false, false));
    EXPECT_FALSE(Exists(UserDesktopLink));
    EXPECT_FALSE(Exists(CommonDesktopLink));
}

TEST_F(Shortcuts, StartMenuShortcutIsShared) {
    Update(Links(false, true, false));
    Link link = ReadLink(CommonStartLink);
    EXPECT_EQ(Archiver, link.Target);
    EXPECT_EQ(Folder(CSIDL_DESKTOPDIRECTORY), link.WorkingFolder);
    EXPECT_FALSE(Exists(UserStartLink));
    Update(Links(false, false, false));
    EXPECT_FALSE(Exists(CommonStartLink));
}

TEST_F(Shortcuts, ProgramGroupIsMadeAfreshAndNamedInTheOutput) {
    CreateDirectoryW(UserGroup.c_str(), nullptr);
    CreateDirectoryW((UserGroup + L"\\mine").c_str(), nullptr);
    Touch(UserGroup + L"\\mine\\note.txt");
    Touch(UserGroup + L"\\Bundlo 5.lnk");
    Touch(UserGroup + L"\\OLD.LNK");
    Touch(UserGroup + L"\\readme.txt", "the user's");
    DeleteFileW((Program + L"\\Bdl.txt").c_str());
    wchar_t output[PathCapacity] = L"";
    Update(Links(false, false, true), output, PathCapacity);
    EXPECT_EQ(CommonGroup, output);
    // Shortcuts of earlier versions go, under any name; what is no shortcut stays.
    EXPECT_FALSE(Exists(UserGroup + L"\\Bundlo 5.lnk"));
    EXPECT_FALSE(Exists(UserGroup + L"\\OLD.LNK"));
    EXPECT_TRUE(Exists(UserGroup + L"\\mine\\note.txt"));
    EXPECT_EQ("the user's", Content(UserGroup + L"\\readme.txt"));

    const std::wstring targets[] = {L"Bundlo.exe", L"Bundlo.chm", L"Bdl.txt",
                                    LoadText(IDS_WHATSNEWNAME)};
    for (const std::wstring& group : {UserGroup, CommonGroup}) {
        std::vector<std::wstring> links = GroupLinks(group);
        EXPECT_FALSE(Exists(links[2])) << "no target, no shortcut";
        for (size_t row : {0, 1, 3}) {
            Link link = ReadLink(links[row]);
            EXPECT_EQ(Program + L"\\" + targets[row], link.Target);
            EXPECT_EQ(row == 0 ? L"C:\\icons\\bundlo.ico" : L"", link.Icon);
            EXPECT_EQ(LoadText(IDS_BUNDLODESC), link.Description);
            EXPECT_EQ(Folder(CSIDL_DESKTOPDIRECTORY), link.WorkingFolder);
        }
    }

    // Without a shared Programs folder only the user's group is made.
    {
        UnresolvedFolder common(HKEY_LOCAL_MACHINE, L"Common Programs");
        Update(Links(false, false, true), output, PathCapacity);
    }
    EXPECT_EQ(UserGroup, output);

    wcscpy(output, L"untouched");
    Update(Links(false, false, false), output, PathCapacity);
    EXPECT_STREQ(L"untouched", output);
    // The shortcuts go; the folder only where nothing else is left in it.
    for (const std::wstring& link : GroupLinks(UserGroup))
        EXPECT_FALSE(Exists(link)) << link;
    EXPECT_TRUE(Exists(UserGroup + L"\\mine\\note.txt"));
    EXPECT_EQ("the user's", Content(UserGroup + L"\\readme.txt"));
    EXPECT_FALSE(Exists(CommonGroup));
}

// A Programs folder the user pointed somewhere through a link on its way: the group below it is
// reached through that link, and neither the setup nor the removal touches anything in it.
TEST_F(Shortcuts, AGroupReachedThroughALinkIsLeftAloneAndReported) {
    std::wstring real = Scratch + L"\\real";
    CreateDirectoryW(real.c_str(), nullptr);
    CreateDirectoryW((real + L"\\Programs").c_str(), nullptr);
    CreateDirectoryW((real + L"\\Programs\\Bundlo").c_str(), nullptr);
    Touch(real + L"\\Programs\\Bundlo\\old.lnk", "someone else's");
    Touch(real + L"\\Programs\\Bundlo\\keep.txt", "someone else's");
    if (!MakeFolderLink(Scratch + L"\\way", real))
        GTEST_SKIP() << "this system makes no folder link";
    std::wstring programs = Scratch + L"\\way\\Programs";
    ValueOverride redirected(HKEY_CURRENT_USER, ShellFolders, L"Programs", programs.c_str());
    ASSERT_EQ(programs, Folder(CSIDL_PROGRAMS));
    std::wstring group = programs + L"\\Bundlo";
    for (bool wanted : {true, false}) {
        CapturedDiagnostics diagnostics;
        Update(Links(false, false, wanted));
        EXPECT_EQ("someone else's", Content(real + L"\\Programs\\Bundlo\\old.lnk")) << wanted;
        EXPECT_EQ("someone else's", Content(real + L"\\Programs\\Bundlo\\keep.txt")) << wanted;
        EXPECT_FALSE(Exists(real + L"\\Programs\\Bundlo\\Bundlo.lnk")) << wanted;
        std::vector<std::wstring> lines = CapturedDiagnostics::Lines();
        EXPECT_EQ(1, std::count_if(lines.begin(), lines.end(),
                                   [&](const std::wstring& line) {
                                       return line.find(group) != std::wstring::npos &&
                                              line.find(L"link") != std::wstring::npos;
                                   }))
            << wanted;
    }
}

// Between the check of the group and the deletion of its shortcuts another program swaps the
// group folder for a link to a folder that holds files of the same names.
std::wstring SwapGroup, SwapAside, SwapTarget;
bool Swapped, RenamedByWindows, LinkMade;
void SwapGroupWhileItIsWorkedOn() {
    if (Swapped)
        return;
    // Only once the group is being worked on, which holds it open.
    HANDLE probe = CreateFileW(SwapGroup.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        CloseHandle(probe);
        return;
    }
    if (GetLastError() != ERROR_SHARING_VIOLATION)
        return;
    Swapped = true;
    // A held folder cannot be renamed through Windows; the host can, beside Wine's back.
    RenamedByWindows = MoveFileExW(SwapGroup.c_str(), SwapAside.c_str(), 0) != FALSE;
    if (!RenamedByWindows && !RunUnixTool(L"mv", {SwapGroup, SwapAside}, [](DWORD attributes) {
            return attributes != INVALID_FILE_ATTRIBUTES;
        }))
        return;
    LinkMade = MakeFolderLink(SwapGroup, SwapTarget);
}

TEST_F(Shortcuts, AGroupSwappedForALinkBetweenCheckAndActDeletesNothingThroughIt) {
    SwapTarget = Scratch + L"\\target";
    SwapAside = Scratch + L"\\aside";
    SwapGroup = UserGroup;
    for (bool wanted : {true, false}) {
        CreateDirectoryW(SwapTarget.c_str(), nullptr);
        CreateDirectoryW(UserGroup.c_str(), nullptr);
        for (const wchar_t* name : {L"\\a.lnk", L"\\b.lnk", L"\\c.lnk"}) {
            Touch(UserGroup + name, "the group's");
            Touch(SwapTarget + name, "someone else's");
        }
        Swapped = RenamedByWindows = LinkMade = false;
        FileChangeHook = SwapGroupWhileItIsWorkedOn;
        Update(Links(false, false, wanted));
        FileChangeHook = nullptr;
        ASSERT_TRUE(Swapped) << wanted;
        if (!LinkMade)
            GTEST_SKIP() << "this system makes no folder link";
        EXPECT_FALSE(RenamedByWindows) << "a group being worked on is held in place";
        for (const wchar_t* name : {L"\\a.lnk", L"\\b.lnk", L"\\c.lnk"})
            EXPECT_EQ("someone else's", Content(SwapTarget + name)) << wanted << name;
        RemoveTree(UserGroup);
        RemoveTree(SwapAside);
        RemoveTree(SwapTarget);
    }
}

TEST_F(Shortcuts, TranslatedNamesThatLeaveTheGroupFallBackToTheBuiltInOnes) {
    // The program's own texts, read apart from the code under test.
    auto builtIn = [](unsigned id) {
        wchar_t text[MAX_PATH] = L"";
        LoadStringW(GetModuleHandleW(nullptr), id, text, MAX_PATH);
        return std::wstring(text);
    };
    CreateDirectoryW(Outside().c_str(), nullptr);
    Touch(Outside() + L"\\evil.txt");
    ASSERT_TRUE(Exists(Program + L"\\..\\..\\outside\\evil.txt"));
    Touch(Program + L"\\uninstall.lng", "***messages***\r\n"
                                        "IDS_BUNDLOHELP ../../escaped\r\n"
                                        "IDS_BDLHELP ..\r\n"
                                        "IDS_WHATSNEW ..\\Startup\\x\r\n"
                                        "IDS_WHATSNEWNAME ..\\..\\outside\\evil.txt\r\n");
    LoadLanguageFile(L"uninstall.lng");
    ASSERT_STREQ(L"..\\Startup\\x", LoadText(IDS_WHATSNEW)) << "the language file is not in use";

    Update(Links(false, false, true));
    const std::vector<std::wstring> expected = {L"Bundlo.lnk", builtIn(IDS_BUNDLOHELP) + L".lnk",
                                                builtIn(IDS_BDLHELP) + L".lnk",
                                                builtIn(IDS_WHATSNEW) + L".lnk"};
    for (const std::wstring& group : {UserGroup, CommonGroup}) {
        std::vector<std::wstring> found;
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW((group + L"\\*").c_str(), &data);
        ASSERT_NE(INVALID_HANDLE_VALUE, find) << group;
        do
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                found.push_back(data.cFileName);
        while (FindNextFileW(find, &data));
        FindClose(find);
        std::sort(found.begin(), found.end());
        std::vector<std::wstring> sorted = expected;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(sorted, found) << group;
        EXPECT_EQ(Program + L"\\" + builtIn(IDS_WHATSNEWNAME),
                  ReadLink(group + L"\\" + expected[3]).Target);
    }
    for (int csidl : {CSIDL_STARTUP, CSIDL_COMMON_STARTUP})
        EXPECT_FALSE(Exists(Folder(csidl) + L"\\x.lnk")) << "a shortcut every logon opens";
    for (int csidl : {CSIDL_STARTMENU, CSIDL_COMMON_STARTMENU, CSIDL_PROGRAMS})
        EXPECT_FALSE(Exists(Folder(csidl) + L"\\escaped.lnk"));
}

TEST_F(Shortcuts, LinkedGroupFolderSurvivesTheRemoval) {
    std::wstring target = Scratch + L"\\elsewhere";
    CreateDirectoryW(target.c_str(), nullptr);
    Touch(target + L"\\precious.txt");
    if (!MakeFolderLink(CommonGroup, target))
        GTEST_SKIP() << "this system makes no folder link";
    // Re-creating the group does not empty a folder that lies elsewhere.
    Update(Links(false, false, true));
    EXPECT_TRUE(Exists(target + L"\\precious.txt"));
    Update(Links(false, false, false));
    EXPECT_TRUE(Exists(CommonGroup));
    EXPECT_TRUE(Exists(target + L"\\precious.txt"));
}

TEST_F(Shortcuts, NothingIsMadeOrRemovedWhereTheShellNamesNoFolder) {
    // "unknown_folder" would be taken relative to the current folder. Wine keeps the folder that
    // was current while a link was saved open for the rest of the process, so the current folder
    // here is one that stays.
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(Program.c_str()));
    std::wstring unknown = Program + L"\\unknown_folder";
    CreateDirectoryW(unknown.c_str(), nullptr);
    CreateDirectoryW((unknown + L"\\Bundlo").c_str(), nullptr);
    Touch(unknown + L"\\Bundlo\\keep.txt");
    Touch(unknown + L"\\Bundlo.lnk", "not a shortcut");
    {
        UnresolvedFolder desktop(HKEY_CURRENT_USER, L"Desktop");
        UnresolvedFolder commonDesktop(HKEY_LOCAL_MACHINE, L"Common Desktop");
        UnresolvedFolder programs(HKEY_CURRENT_USER, L"Programs");
        UnresolvedFolder commonPrograms(HKEY_LOCAL_MACHINE, L"Common Programs");
        Update(Links(true, true, true));
        // The Start menu is still known; its shortcut gets no working folder.
        EXPECT_EQ(L"", ReadLink(CommonStartLink).WorkingFolder);
        Update(Links(false, false, false));
        EXPECT_FALSE(Exists(CommonStartLink));
    }
    SetCurrentDirectoryW(previous);
    EXPECT_TRUE(Exists(unknown + L"\\Bundlo\\keep.txt"));
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(
        GetFileAttributesExW((unknown + L"\\Bundlo.lnk").c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(14u, data.nFileSizeLow) << "the file beside the folder was overwritten";
    EXPECT_FALSE(Exists(unknown + L"\\Bundlo\\Bundlo.lnk"));
}

} // namespace
