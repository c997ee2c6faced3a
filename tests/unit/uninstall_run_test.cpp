// The uninstall run's steps on real files in the prefix's temporary folder: which list lines are
// acted on, the passes, files in use, and the batch file as the command interpreter gets it.
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "common/files.h"
#include "common/registry.h"
#include "common/paths.h"
#include "common/text.h"
#include "integration/apply.h"
#include "integration/listfile.h"
#include "integration/registration.h"
#include "tests/unit/raw_files.h"
#include "tests/unit/test_support.h"
#include "uninstall/startup.h"
#include "uninstall/batch_file.h"
#include "uninstall/departure.h"
#include "uninstall/listed_files.h"
#include "uninstall/uninstall_run.h"

namespace {

const wchar_t SessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
const wchar_t PendingValue[] = L"PendingFileRenameOperations";

std::vector<std::wstring> PendingDeletions() {
    std::vector<std::wstring> names;
    for (const auto& operation : PendingFileOperations())
        if (operation.second.empty())
            names.push_back(operation.first);
    return names;
}

std::string Ansi(const std::wstring& text) {
    char narrow[PathCapacity];
    ToNarrow(text.c_str(), narrow, PathCapacity);
    return narrow;
}

// ASCII text as the batch file spells it.
std::string Doubled(const std::wstring& text) {
    std::string doubled;
    for (wchar_t c : text)
        doubled += c == L'%' ? std::string("%%") : std::string(1, char(c));
    return doubled;
}

bool IsPending(const std::wstring& path) {
    for (const std::wstring& name : PendingDeletions())
        if (name == L"\\??\\" + path)
            return true;
    return false;
}

class UninstallRun : public TempFolderTest {
  protected:
    UninstallRun() : TempFolderTest(L"run") {}
    void SetUp() override {
        TempFolderTest::SetUp();
        Folder = Root + L"\\";
        Program = At(L"Uninstall.exe");
        HKEY key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SessionManager, 0, KEY_READ, &key) == ERROR_SUCCESS) {
            DWORD size = sizeof SavedPending;
            HadPending = RegQueryValueExW(key, PendingValue, nullptr, &SavedType, SavedPending,
                                          &size) == ERROR_SUCCESS;
            SavedSize = size;
            RegCloseKey(key);
        }
    }
    void TearDown() override {
        // Nothing of these tests may be left for Wine's next restart.
        HKEY key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SessionManager, 0, KEY_SET_VALUE, &key) ==
            ERROR_SUCCESS) {
            if (HadPending)
                RegSetValueExW(key, PendingValue, 0, SavedType, SavedPending, SavedSize);
            else
                RegDeleteValueW(key, PendingValue);
            RegCloseKey(key);
        }
        TempFolderTest::TearDown();
    }
    // Writes the list and runs the passes over it.
    ListRemoval Remove(const std::string& list) {
        WriteRaw(At(L"Uninstall.lst"), list);
        File file;
        file.Open(At(L"Uninstall.lst").c_str(), 0);
        return RemoveListedEntries(file, Folder.c_str(), Program.c_str());
    }
    std::wstring Folder, Program;
    BYTE SavedPending[65536];
    DWORD SavedType = 0, SavedSize = 0;
    bool HadPending = false;
};

TEST_F(UninstallRun, OnlyLinesThatStayInsideTheFolderAreActedOn) {
    wchar_t entry[PathCapacity];
    std::wstring name = Root.substr(Root.rfind(L'\\') + 1);
    struct {
        std::wstring Line, Expected;
    } inside[] = {
        {L"a.txt", At(L"a.txt")},
        {L"sub\\b.txt", At(L"sub\\b.txt")},
        {L"sub/b.txt", At(L"sub\\b.txt")},
        {L"sub\\..\\c.txt", At(L"c.txt")},
        {L"..\\" + name + L"\\d.txt", At(L"d.txt")},
        {L"sub\\", At(L"sub")},
    };
    for (const auto& line : inside) {
        EXPECT_TRUE(ListEntryPath(Folder.c_str(), line.Line.c_str(), entry, PathCapacity))
            << line.Line;
        EXPECT_EQ(line.Expected, entry) << line.Line;
    }
    const wchar_t* outside[] = {
        L"..\\..\\Windows\\system.ini",
        L"..\\x.txt",
        L"sub\\..\\..\\x.txt",
        L"C:\\x.txt",
        L"C:x.txt",
        L"\\\\server\\share\\x.txt",
        L"\\\\?\\C:\\x.txt",
        L"/x.txt",
        L"\\x.txt",
        L"a.txt:stream",
        L"a.txt::$DATA",
        L"*.txt",
        L".",
        L"sub\\..",
        L"",
        L"nul",
    };
    for (const wchar_t* line : outside)
        EXPECT_FALSE(ListEntryPath(Folder.c_str(), line, entry, PathCapacity)) << line;
}

TEST_F(UninstallRun, FoldersBeforeTheirFilesTakeThreePassesAndMissingFilesOne) {
    MakeFolderRaw(At(L"sub"));
    WriteRaw(At(L"sub\\a.txt"), "a");
    WriteRaw(At(L"b.txt"), "b");
    SetFileAttributesW(At(L"b.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    SetFileAttributesW(At(L"sub").c_str(), FILE_ATTRIBUTE_READONLY);
    ListRemoval removal = Remove("sub\r\nsub\\a.txt\r\n\r\nb.txt \t\r\n");
    EXPECT_EQ(3u, removal.Passes);
    EXPECT_FALSE(removal.RestartNeeded);
    EXPECT_FALSE(Exists(At(L"sub")));
    EXPECT_FALSE(Exists(At(L"b.txt")));

    EXPECT_EQ(1u, Remove("gone.txt\nsub\\gone.txt\n").Passes);
}

TEST_F(UninstallRun, DamagedAndForgedLinesDeleteNothingOutside) {
    // The program folder is a sub-folder here, with a neighbour it must not reach.
    MakeFolderRaw(At(L"program"));
    MakeFolderRaw(At(L"outside"));
    WriteRaw(At(L"outside\\keep.txt"), "k");
    WriteRaw(At(L"program\\victim.txt"), "v");
    WriteRaw(At(L"program\\after.txt"), "a");
    SetCurrentDirectoryW(At(L"outside").c_str()); // where "C:keep.txt" would land
    Folder = At(L"program\\");
    std::string keep = Ansi(At(L"outside\\keep.txt"));
    // A line too long for any path would otherwise be read in pieces, the last naming a file.
    std::string list = "..\\outside\\keep.txt\r\n" + keep + "\r\n" + keep.substr(2) + "\r\n" +
                       "C:keep.txt\r\n" + std::string(2047, 'x') + "victim.txt\r\n" +
                       std::string("bad\0line", 8) + "\r\nafter.txt\r\n";
    Remove(list);
    EXPECT_TRUE(Exists(At(L"outside\\keep.txt")));
    EXPECT_TRUE(Exists(At(L"program\\victim.txt")));
    EXPECT_FALSE(Exists(At(L"program\\after.txt")));
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    SetCurrentDirectoryW(temp);
}

// Between the check of a listed file and its deletion another program puts a link to someone
// else's file under its name: the file examined is the one deleted, and the link's target stays.
std::wstring Outside;
void PutLinkInPlace(const wchar_t* path) {
    MoveFileExW(path, (std::wstring(path) + L".moved").c_str(), 0);
    CreateSymbolicLinkW(path, Outside.c_str(), 0);
}

TEST_F(UninstallRun, AListedFileReplacedByALinkAfterItsCheckLeavesTheTargetAlone) {
    Outside = Root + L"\\outside.txt";
    WriteRaw(Outside, "someone else's");
    WriteRaw(At(L"read-only.txt"), "listed");
    SetFileAttributesW(At(L"read-only.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    EntryCheckedHook = PutLinkInPlace;
    Remove("read-only.txt\r\n");
    EntryCheckedHook = nullptr;
    EXPECT_EQ("someone else's", ReadRaw(Outside));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(At(L"read-only.txt.moved").c_str()));
    // Nor through a folder on the way that became a link where the passes could not hold it.
    MakeFolderRaw(Root + L"\\elsewhere");
    WriteRaw(Root + L"\\elsewhere\\kept.txt", "kept");
    ASSERT_TRUE(CreateSymbolicLinkW(At(L"way").c_str(), (Root + L"\\elsewhere").c_str(),
                                    SYMBOLIC_LINK_FLAG_DIRECTORY));
    EXPECT_EQ(RefusedNotPlain, RemoveFileThroughHandle(At(L"way\\kept.txt").c_str()));
    EXPECT_EQ("kept", ReadRaw(Root + L"\\elsewhere\\kept.txt"));
}

TEST_F(UninstallRun, FilesInUseAreMovedAsideOrScheduledButNeverTheProgramOrTheList) {
    // A mapped program image cannot be deleted but can be renamed, as a running program.
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    ASSERT_TRUE(CopyFileW(self, At(L"running.exe").c_str(), FALSE));
    HANDLE image =
        CreateFileW(At(L"running.exe").c_str(), GENERIC_READ | GENERIC_EXECUTE,
                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE section = CreateFileMappingW(image, nullptr, SEC_IMAGE | PAGE_READONLY, 0, 0, nullptr);
    CloseHandle(image);
    ASSERT_NE(nullptr, section);
    WriteRaw(At(L"running.exe.0.tmp"), "an earlier leftover");
    // Held without delete sharing: it can be neither deleted nor renamed.
    WriteRaw(At(L"held.bin"), "h");
    WriteRaw(Program, "p");
    HANDLE held = CreateFileW(At(L"held.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    // Only the program's own name is spared, as the file system compares names.
    std::wstring lookalike = At(L"Unin\u00ADstall.exe");
    WriteRaw(lookalike, "l");
    HANDLE heldLookalike = CreateFileW(lookalike.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, 0, nullptr);
    HANDLE program = CreateFileW(Program.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, 0, nullptr);

    ListRemoval removal = Remove("running.exe\r\nheld.bin\r\nUninstall.exe\r\nUninstall.lst\r\n" +
                                 Ansi(L"Unin\u00ADstall.exe") + "\r\n");
    CloseHandle(section);
    CloseHandle(held);
    CloseHandle(heldLookalike);
    EXPECT_TRUE(IsPending(lookalike));
    EXPECT_EQ(1u, removal.Moved);
    EXPECT_EQ(2u, removal.Scheduled);
    CloseHandle(program);
    EXPECT_TRUE(removal.RestartNeeded);
    EXPECT_EQ(1u, removal.Passes);
    EXPECT_FALSE(Exists(At(L"running.exe")));
    EXPECT_TRUE(Exists(At(L"running.exe.1.tmp")));
    EXPECT_TRUE(IsPending(At(L"running.exe.1.tmp")));
    EXPECT_TRUE(IsPending(At(L"held.bin")));
    EXPECT_TRUE(Exists(Program));
    EXPECT_TRUE(Exists(At(L"Uninstall.lst")));
    EXPECT_FALSE(IsPending(Program));
    EXPECT_FALSE(IsPending(At(L"Uninstall.lst")));
}

TEST_F(UninstallRun, EveryListOrderRemovesTheSameDeepTreeWithoutADiagnostic) {
    // Three levels, two files in each, one of them read-only; the installer's order (files,
    // then their folder, the deepest first), the reverse (every folder before its contents)
    // and one scattered order; each in the passes the order needs.
    const std::vector<std::string> installer = {"a\\b\\c\\1.txt", "a\\b\\c\\2.txt", "a\\b\\c",
                                                "a\\b\\1.txt",    "a\\b\\2.txt",    "a\\b",
                                                "a\\1.txt",       "a\\2.txt",       "a"};
    const std::vector<std::string> orders[] = {
        installer,
        std::vector<std::string>(installer.rbegin(), installer.rend()),
        {"a\\b\\1.txt", "a", "a\\b\\c\\2.txt", "a\\2.txt", "a\\b", "a\\b\\c\\1.txt", "a\\1.txt",
         "a\\b\\c", "a\\b\\2.txt"}};
    const unsigned passes[] = {2, 5, 4};
    for (size_t order = 0; order < 3; ++order) {
        std::string list;
        for (auto it = installer.rbegin(); it != installer.rend(); ++it) {
            std::wstring path = At(std::wstring(it->begin(), it->end()));
            if (it->find(".txt") == std::string::npos)
                MakeFolderRaw(path);
        }
        for (const std::string& entry : installer)
            if (entry.find(".txt") != std::string::npos)
                WriteRaw(At(std::wstring(entry.begin(), entry.end())), "x");
        SetFileAttributesW(At(L"a\\b\\c\\2.txt").c_str(), FILE_ATTRIBUTE_READONLY);
        for (const std::string& entry : orders[order])
            list += entry + "\r\n";
        CapturedDiagnostics diagnostics;
        ListRemoval removal = Remove(list);
        EXPECT_EQ(passes[order], removal.Passes) << order;
        EXPECT_FALSE(removal.RestartNeeded) << order;
        EXPECT_FALSE(Exists(At(L"a"))) << order;
        EXPECT_EQ(std::vector<std::wstring>(), CapturedDiagnostics::Lines()) << order;
    }
}

TEST_F(UninstallRun, LaterPassesLeaveWhatAnEarlierOneRemovedOrScheduledAlone) {
    // Three passes: the folder comes before its file. The running program is moved once, in the
    // first, to the name of a leftover that the same pass removed just before; the later passes
    // do not take the moved program for the leftover and move it on.
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    ASSERT_TRUE(CopyFileW(self, At(L"running.exe").c_str(), FALSE));
    HANDLE image =
        CreateFileW(At(L"running.exe").c_str(), GENERIC_READ | GENERIC_EXECUTE,
                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE section = CreateFileMappingW(image, nullptr, SEC_IMAGE | PAGE_READONLY, 0, 0, nullptr);
    CloseHandle(image);
    ASSERT_NE(nullptr, section);
    WriteRaw(At(L"running.exe.0.tmp"), "an earlier leftover");
    MakeFolderRaw(At(L"sub"));
    WriteRaw(At(L"sub\\a.txt"), "a");

    ListRemoval removal = Remove("running.exe.0.tmp\r\nsub\r\nrunning.exe\r\nsub\\a.txt\r\n");
    CloseHandle(section);
    EXPECT_EQ(3u, removal.Passes);
    EXPECT_TRUE(removal.RestartNeeded);
    EXPECT_FALSE(Exists(At(L"sub")));
    EXPECT_FALSE(Exists(At(L"running.exe")));
    EXPECT_TRUE(Exists(At(L"running.exe.0.tmp")));
    EXPECT_FALSE(Exists(At(L"running.exe.0.tmp.0.tmp")));
    std::vector<std::wstring> scheduled;
    for (const std::wstring& name : PendingDeletions())
        if (name.find(L"running.exe") != std::wstring::npos)
            scheduled.push_back(name);
    EXPECT_EQ(std::vector<std::wstring>{L"\\??\\" + At(L"running.exe.0.tmp")}, scheduled);
}

TEST_F(UninstallRun, BatchFileByteForByteWithPercentDoubled) {
    MakeFolderRaw(At(L"100% Bundlo"));
    std::wstring beside = At(L"100% Bundlo\\Uninstall.exe.0123456789abcdef.tmp");
    std::string s = Doubled(beside), f = Doubled(At(L"100% Bundlo")), b = Doubled(At(L"b%"));
    char system[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    std::string cmd = std::string(system) + "\\cmd.exe";
    for (bool warning : {true, false}) {
        File file;
        file.Create(At(L"x.bat").c_str(), 0);
        WriteUninstallBatch(file, beside.c_str(), At(L"100% Bundlo").c_str(), At(L"b%").c_str(),
                            {4242, 0x1d2b3c4d5e6f708ull}, warning);
        file.Close();
        std::string expected = "del \"" + b + "\\Pending\"\r\ncd \\\r\n\"" + b +
                               "\\Uninstall.exe\" /wait=4242:01d2b3c4d5e6f708\r\ndel /f /q \"" + b +
                               "\\Removed.exe\"\r\nif exist \"" + b + "\\Folder\" rd \"" + f +
                               "\"\r\nif not exist \"" + s + "\" goto done\r\n";
        for (int i = 0; i < 5; i++)
            expected += "del /f /q \"" + s + "\"\r\nif not exist \"" + s + "\" goto gone\r\n";
        if (warning)
            expected += "\"" + s + "\" /warning\r\n";
        expected += "goto done\r\n:gone\r\nrd \"" + f + "\"\r\n:done\r\n";
        expected += "set \"BDL_BATCH_FOLDER=" + b + "\"\r\nstart \"\" /b \"" + cmd +
                    "\" /d /c for /l %%i in (1,1,1000) do @if exist \"%%BDL_BATCH_FOLDER%%\" rd /s "
                    "/q \"%%BDL_BATCH_FOLDER%%\" 2^>nul\r\n";
        EXPECT_EQ(expected, ReadRaw(At(L"x.bat"))) << warning;
    }
}

// Wine gives almost every name a short form; Windows on a volume without 8.3 names does not.
DWORD WINAPI NoShortForm(LPCWSTR, LPWSTR, DWORD) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
}

TEST_F(UninstallRun, APathTheBatchFileCannotSpellIsLeftForTheRestartNeverWrittenWithQuestionMarks) {
    // The ANSI code page cannot write the one, the OEM code page reads the other back as another
    // character: only a short form spells this name.
    std::wstring folder = At(L"B\u00fcndlo \u0416"), program = folder + L"\\Uninstall.exe";
    MakeFolderRaw(folder);
    WriteRaw(program, "p");
    wchar_t text[2 * PathCapacity];
    // With a short form the batch file names the program by it.
    ASSERT_TRUE(BatchPathText(program.c_str(), text, 2 * PathCapacity));
    EXPECT_EQ(nullptr, wcschr(text, L'?')) << text;
    EXPECT_TRUE(LeaveProgramToBatch(program.c_str(), folder.c_str()));

    ShortPathOverride = NoShortForm;
    EXPECT_FALSE(BatchPathText(program.c_str(), text, 2 * PathCapacity));
    // Where both code pages are UTF-8 (Windows's "worldwide language support") every name is
    // spelled as it stands.
    BatchCodePagesOverride = {CP_UTF8, CP_UTF8};
    bool utf8 = BatchPathText(program.c_str(), text, 2 * PathCapacity);
    BatchCodePagesOverride = {0, 0};
    EXPECT_TRUE(utf8);
    EXPECT_EQ(program, text);
    File file;
    file.Create(At(L"x.bat").c_str(), 0);
    bool written =
        WriteUninstallBatch(file, program.c_str(), folder.c_str(), At(L"x.bat").c_str(), {}, true);
    file.Close();
    bool left = LeaveProgramToBatch(program.c_str(), folder.c_str());
    // The temporary folder alone unspellable: the interpreter names its own batch's folder.
    std::wstring plain = At(L"Uninstall.exe"), batch = folder + L"\\x.bat";
    file.Create(batch.c_str(), 0);
    bool plainWritten =
        WriteUninstallBatch(file, plain.c_str(), Root.c_str(), folder.c_str(), {}, false);
    file.Close();
    ShortPathOverride = nullptr;
    EXPECT_FALSE(written);
    EXPECT_EQ("", ReadRaw(At(L"x.bat")));
    EXPECT_FALSE(left);
    EXPECT_TRUE(plainWritten);
    std::string lines = ReadRaw(batch);
    EXPECT_EQ(std::string::npos, lines.find('?')) << lines;
    EXPECT_NE(std::string::npos, lines.find("set \"BDL_BATCH_FOLDER=%~dp0.\"\r\n")) << lines;
}

TEST_F(UninstallRun, TheSystemInterpreterRunsTheBatchWhateverComspecSays) {
    wchar_t saved[PathCapacity] = L"";
    DWORD had = GetEnvironmentVariableW(L"COMSPEC", saved, PathCapacity);
    SetEnvironmentVariableW(L"COMSPEC", At(L"other.exe").c_str());
    wchar_t interpreter[PathCapacity], command[2 * PathCapacity + 32];
    bool made = InterpreterCommand(L"Bdl-0123456789abcdef", interpreter, PathCapacity, command,
                                   2 * PathCapacity + 32);
    SetEnvironmentVariableW(L"COMSPEC", had ? saved : nullptr);
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    std::wstring cmd = std::wstring(system) + L"\\cmd.exe";
    ASSERT_TRUE(made);
    EXPECT_EQ(cmd, interpreter);
    // Without AutoRun, without delayed expansion, and no path on the line, where "%" would be
    // expanded: the batch is started in its own folder by its name.
    EXPECT_EQ(L"\"" + cmd + L"\" /d /v:off /c .\\Bdl-0123456789abcdef\\Uninstall_Bdl.Bat",
              std::wstring(command));
    // A command that would not fit is not made at all, nor one for a folder of another name.
    EXPECT_FALSE(
        InterpreterCommand(L"Bdl-0123456789abcdef", interpreter, PathCapacity, command, 40));
    EXPECT_FALSE(InterpreterCommand(L"Bdl-%OS%", interpreter, PathCapacity, command, 400));
    EXPECT_EQ(L"", std::wstring(command));
}

TEST_F(UninstallRun, BatchLinesGoOutAsAnsiBytesWithoutTerminator) {
    File file;
    file.Create(At(L"line.txt").c_str(), 0);
    WriteBatchLine(file, L"caf\u00e9\r\n");
    file.Close();
    char expected[16];
    int bytes =
        WideCharToMultiByte(CP_ACP, 0, L"caf\u00e9\r\n", -1, expected, 16, nullptr, nullptr);
    EXPECT_EQ(std::string(expected, bytes - 1), ReadRaw(At(L"line.txt")));
}

// The elevated interpreter reads the batch line by line: the user's unelevated programs must not
// be able to change it meanwhile. This Wine stores no access list or label on a folder, so the
// security asked for at the creation is read back; Windows enforces it (docs/windows-checks.md).
std::wstring AskedSecurity; // the access list as SDDL, then each label: its level and its mask
BOOL WINAPI RecordingMakeFolder(LPCWSTR path, LPSECURITY_ATTRIBUTES attributes) {
    LPWSTR text = nullptr;
    PSECURITY_DESCRIPTOR asked = attributes ? attributes->lpSecurityDescriptor : nullptr;
    if (asked && ConvertSecurityDescriptorToStringSecurityDescriptorW(
                     asked, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr))
        AskedSecurity = text;
    LocalFree(text);
    BOOL present = FALSE, defaulted = FALSE;
    PACL sacl = nullptr;
    if (asked && GetSecurityDescriptorSacl(asked, &present, &sacl, &defaulted) && sacl)
        for (DWORD i = 0; i < sacl->AceCount; i++) {
            ACE_HEADER* ace = nullptr;
            if (!GetAce(sacl, i, reinterpret_cast<void**>(&ace)) ||
                ace->AceType != SYSTEM_MANDATORY_LABEL_ACE_TYPE)
                continue;
            auto label = reinterpret_cast<SYSTEM_MANDATORY_LABEL_ACE*>(ace);
            PSID level = &label->SidStart;
            AskedSecurity += L" label " + std::to_wstring(*GetSidSubAuthority(level, 0)) +
                             L" mask " + std::to_wstring(label->Mask);
        }
    return CreateDirectoryW(path, attributes);
}

TEST_F(UninstallRun, TheBatchLiesInAFolderOnlyAdministratorsMayWrite) {
    File file;
    wchar_t folder[PathCapacity];
    MakeFolderOverride = RecordingMakeFolder;
    bool made = CreateBatchFile(file, true, folder, PathCapacity);
    MakeFolderOverride = nullptr;
    ASSERT_TRUE(made);
    file.Close();
    // Never started, as by a removal cut short there: the next removal's batch takes it away.
    File next;
    wchar_t nextFolder[PathCapacity];
    ASSERT_TRUE(CreateBatchFile(next, true, nextFolder, PathCapacity));
    next.Close();
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(folder));
    for (const wchar_t* name : {L"\\Uninstall_Bdl.Bat", L"\\Pending"})
        DeleteFileW((std::wstring(nextFolder) + name).c_str());
    RemoveDirectoryW(nextFolder);
    wchar_t windows[MAX_PATH];
    GetSystemWindowsDirectoryW(windows, MAX_PATH);
    EXPECT_EQ(0, _wcsnicmp(folder, (std::wstring(windows) + L"\\Temp\\Bdl-").c_str(),
                           wcslen(windows) + 10))
        << folder;
    // Protected, SYSTEM and the Administrators alone (no entry for the user), and the High label
    // that stops writes from below.
    EXPECT_EQ(L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA) label 12288 mask 1", AskedSecurity);
}

TEST(ProgramFolder, ARootKeepsItsBackslashAndAPathThatDoesNotFitIsRefusedNotCut) {
    wchar_t folder[16];
    ASSERT_TRUE(ProgramFolderOf(L"C:\\Bundlo.exe", folder, 16));
    EXPECT_STREQ(L"C:\\", folder);
    EXPECT_FALSE(ProgramFolderOf(L"C:\\Bundlo\\x\\Uninstall.exe", folder, 16));
    EXPECT_STREQ(L"", folder);
}

TEST_F(UninstallRun, MsiModeRemovesTheRegistrationsButNoFileAndNeedsNoList) {
    // The run works on the folder of the running program: this test program's own, which has no
    // "Uninstall.lst": the package removes the files.
    std::wstring list = ModuleFolder() + L"\\Uninstall.lst";
    std::wstring kept = ModuleFolder() + L"\\kept.txt";
    WriteRaw(kept, "k");
    DeleteFileW(list.c_str());
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L".zip"); // owned by nobody before the setup
    IntegrationSettings zip = {};
    zip.associate[1] = 1;
    wchar_t group[PathCapacity];
    ASSERT_TRUE(ApplyIntegration(zip, group, PathCapacity));
    RegisterUninstallEntry();
    Silent = MsiMode = true;
    ExitCode = 0;
    RunUninstall();
    Silent = MsiMode = false;
    EXPECT_EQ(0, ExitCode);
    EXPECT_TRUE(Exists(kept));
    EXPECT_FALSE(RawKeyExists(HKEY_CLASSES_ROOT, L".zip"));
    EXPECT_FALSE(RawKeyExists(HKEY_CLASSES_ROOT, L"Bundlo"));
    EXPECT_TRUE(RawKeyExists(HKEY_LOCAL_MACHINE, UninstallKey + 1));
    EXPECT_TRUE(RawKeyExists(HKEY_LOCAL_MACHINE, AppPathsKey + 1));
    DeleteFileW(kept.c_str());
    DeleteFileW(list.c_str());
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, UninstallKey + 1);
    for (REGSAM view : {REGSAM(KEY_WOW64_32KEY), REGSAM(KEY_WOW64_64KEY)})
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, AppPathsKey + 1, view, 0);
}

} // namespace
