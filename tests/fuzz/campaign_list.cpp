// "Uninstall.lst" through RemoveListedEntries, the passes of the real uninstall, in a sandbox: a
// program folder with a random tree, two folder links inside it (one at the top, one a level
// down) that lead into a canary folder beside it, a file held open without delete sharing, and
// the running program's name and the list itself. (Wine reports only a link to a folder as a
// reparse point; a link to a file looks like the file, there as on no Windows.) The lines name
// entries of the tree in every spelling, the links and what lies behind them, places outside, and
// garbage. After the passes:
// - nothing outside the program folder is deleted, moved, changed (content, size, attributes)
//   or scheduled for deletion at restart, and nothing through a link;
// - the passes stay within the depth bound: a pass can only free a folder one level up, so a
//   list whose lines have at most D components takes at most D + 1 passes;
// - every listed plain file is gone, every listed folder still there holds something, the held
//   file is scheduled under its own name, and the program and the list are neither deleted,
//   moved nor scheduled.
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/paths.h"
#include "tests/fuzz/fuzz.h"
#include "tests/unit/test_support.h"
#include "uninstall/batch_file.h"
#include "uninstall/departure.h"
#include "uninstall/listed_files.h"
#include "uninstall/uninstall_run.h"

namespace {
using fuzz::Outcome;
using fuzz::Random;

const wchar_t SessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
const wchar_t PendingValue[] = L"PendingFileRenameOperations";

std::wstring Root, Program, Canary, ProgramPath, ListPath;
std::vector<BYTE> SavedPending;
bool HadPending = false;
DWORD SavedPendingType = REG_MULTI_SZ;
size_t LinkRepairs = 0, Scheduled = 0, MaxPasses = 0;

std::wstring Lower(std::wstring text) {
    CharLowerBuffW(&text[0], DWORD(text.size()));
    return text;
}

// What Windows is to do at the next restart: each deletion's name, and each rename as
// "source -> target".
std::vector<std::wstring> PendingDeletions() {
    std::vector<std::wstring> names;
    for (const auto& operation : PendingFileOperations())
        names.push_back(operation.first +
                        (operation.second.empty() ? L"" : L" -> " + operation.second));
    return names;
}

void RestorePending() {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SessionManager, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    if (HadPending)
        RegSetValueExW(key, PendingValue, 0, SavedPendingType, SavedPending.data(),
                       DWORD(SavedPending.size()));
    else
        RegDeleteValueW(key, PendingValue);
    RegCloseKey(key);
}

// Wine cannot make a link from a Windows program (CreateSymbolicLinkW does nothing), but it
// runs Unix programs: ln makes the Unix link that Wine reports as a reparse point.
bool MakeLink(const std::wstring& target, const std::wstring& link) {
    typedef char*(CDECL * UnixName)(LPCWSTR);
    UnixName unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    if (!unixName)
        return false;
    char* targetName = unixName(target.c_str());
    std::wstring parent = link.substr(0, link.rfind(L'\\'));
    char* parentName = unixName(parent.c_str());
    if (!targetName || !parentName)
        return false;
    // -n: a link already there (one whose earlier ln outlasted the wait) is refused, not
    // followed, so that nothing is ever made inside the canary.
    std::wstring command = L"ln -sn \"";
    for (char* c = targetName; *c; c++)
        command += wchar_t(static_cast<unsigned char>(*c));
    command += L"\" \"";
    for (char* c = parentName; *c; c++)
        command += wchar_t(static_cast<unsigned char>(*c));
    command += L"/" + link.substr(link.rfind(L'\\') + 1) + L"\"";
    HeapFree(GetProcessHeap(), 0, targetName);
    HeapFree(GetProcessHeap(), 0, parentName);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessW(L"Z:\\bin\\ln", &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return false;
    WaitForSingleObject(process.hProcess, 20000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    DWORD attributes = GetFileAttributesW(link.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool IsLink(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool EnsureLinks() {
    bool ok = true;
    if (!IsLink(Program + L"\\link")) {
        LinkRepairs++;
        ok = MakeLink(Canary, Program + L"\\link") && ok;
    }
    CreateDirectoryW((Program + L"\\deep").c_str(), nullptr);
    if (!IsLink(Program + L"\\deep\\dlink")) {
        LinkRepairs++;
        ok = MakeLink(Canary + L"\\sub", Program + L"\\deep\\dlink") && ok;
    }
    return ok;
}

// Every entry below a folder with what could change: size, attributes, time and content.
struct State {
    DWORD Attributes;
    uint64_t Size;
    uint64_t Written;
    std::string Content;
    bool operator==(const State& o) const {
        return Attributes == o.Attributes && Size == o.Size && Written == o.Written &&
               Content == o.Content;
    }
};

void Snapshot(const std::wstring& folder, const std::wstring& relative,
              std::map<std::wstring, State>& states, const std::set<std::wstring>& skip) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L".." || skip.count(name))
            continue;
        State state{data.dwFileAttributes, (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow,
                    (uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) |
                        data.ftLastWriteTime.dwLowDateTime,
                    ""};
        std::wstring path = folder + L"\\" + name;
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            fuzz::ReadFileBytes(path, state.Content);
        states[relative + name] = state;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            Snapshot(path, relative + name + L"\\", states, {});
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

std::map<std::wstring, State> Outside() {
    std::map<std::wstring, State> states;
    Snapshot(Root, L"", states, {L"program"});
    return states;
}

void Prepare() {
    Root = fuzz::MakeScratchFolder(L"list");
    Program = Root + L"\\program";
    Canary = Root + L"\\canary";
    ProgramPath = Program + L"\\Uninstall.exe";
    ListPath = Program + L"\\Uninstall.lst";
    CreateDirectoryW(Program.c_str(), nullptr);
    CreateDirectoryW(Canary.c_str(), nullptr);
    CreateDirectoryW((Canary + L"\\sub").c_str(), nullptr);
    fuzz::WriteFileBytes(Canary + L"\\c0.txt", "canary 0");
    fuzz::WriteFileBytes(Canary + L"\\ro.txt", "read-only canary");
    SetFileAttributesW((Canary + L"\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    fuzz::WriteFileBytes(Canary + L"\\sub\\c2.txt", "canary 2");
    SetFileAttributesW((Canary + L"\\sub\\c2.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
    fuzz::WriteFileBytes(Root + L"\\outside.txt", "outside");
    fuzz::WriteFileBytes(Root + L"\\Uninstall.exe", "another program of the same name");
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SessionManager, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        DWORD size = 0;
        if (RegQueryValueExW(key, PendingValue, nullptr, &SavedPendingType, nullptr, &size) ==
            ERROR_SUCCESS) {
            SavedPending.resize(size);
            HadPending = RegQueryValueExW(key, PendingValue, nullptr, &SavedPendingType,
                                          SavedPending.data(), &size) == ERROR_SUCCESS;
        }
        RegCloseKey(key);
    }
    EnsureLinks();
    LinkRepairs = 0;
}

void Finish(Outcome& outcome) {
    RestorePending();
    FUZZ_CHECK(outcome, IsLink(Program + L"\\link") || EnsureLinks(), "no links could be made");
    fuzz::RemoveTree(Root);
    fuzz::AddFigure("links remade", LinkRepairs);
    fuzz::AddFigure("entries scheduled", Scheduled);
    fuzz::AddFigure("most passes", MaxPasses);
}

// ---- the generator ----

struct Node {
    std::wstring Path; // relative to the program folder
    bool Folder;
};

const wchar_t* const Names[] = {
    L"a",       L"B b", L"c.txt",         L"data",          L"\u00fcn\u00ef",
    L"x.0.tmp", L"e.e", L"Uninstall.exe", L"Uninstall.lst", L"sub",
    L"%d",      L"[1]", L"LONG"};

std::wstring NodeName(Random& random, size_t serial) {
    std::wstring name = random.Pick(Names);
    if (name == L"LONG")
        name = std::wstring(60 + random.Below(150), L'n');
    return name + (random.OneIn(3) ? L"" : std::to_wstring(serial));
}

void MakeTree(Random& random, std::vector<Node>& nodes, std::vector<HANDLE>& held,
              std::set<std::wstring>& heldPaths) {
    std::vector<std::wstring> folders = {L""};
    size_t count = 1 + random.Below(random.OneIn(10) ? 80 : 20);
    for (size_t i = 0; i < count; i++) {
        std::wstring parent = folders[random.Below(folders.size())];
        if (std::count(parent.begin(), parent.end(), L'\\') >= 7)
            parent = L"";
        std::wstring path = (parent.empty() ? L"" : parent + L"\\") + NodeName(random, i);
        std::wstring full = Program + L"\\" + path;
        std::wstring lower = Lower(path);
        if (lower == L"link" || lower == L"deep" || lower == L"uninstall.exe" ||
            lower == L"uninstall.lst" || fuzz::PathExists(full) || full.size() > 600)
            continue;
        bool folder = random.OneIn(3);
        if (folder) {
            if (!CreateDirectoryW((L"\\\\?\\" + full).c_str(), nullptr))
                continue;
            folders.push_back(path);
        } else if (!fuzz::WriteFileBytes(L"\\\\?\\" + full, "f" + std::to_string(i))) {
            continue;
        }
        if (random.OneIn(6))
            SetFileAttributesW((L"\\\\?\\" + full).c_str(),
                               random.Coin() ? FILE_ATTRIBUTE_READONLY
                                             : FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        nodes.push_back({path, folder});
    }
    // One file held open without delete sharing, as a running program holds its files.
    if (random.Coin()) {
        std::wstring path = L"held" + std::to_wstring(random.Below(3)) + L".bin";
        fuzz::WriteFileBytes(Program + L"\\" + path, "held");
        HANDLE handle = CreateFileW((Program + L"\\" + path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            held.push_back(handle);
            heldPaths.insert(Lower(path));
            nodes.push_back({path, false});
        }
    }
}

std::wstring Spell(Random& random, const Node& node) {
    std::wstring text;
    std::vector<std::wstring> parts;
    size_t start = 0;
    while (start <= node.Path.size()) {
        size_t end = node.Path.find(L'\\', start);
        if (end == std::wstring::npos)
            end = node.Path.size();
        parts.push_back(node.Path.substr(start, end - start));
        start = end + 1;
    }
    for (size_t i = 0; i < parts.size(); i++) {
        if (i > 0)
            text += random.OneIn(4) ? L"/" : random.OneIn(10) ? L"\\\\" : L"\\";
        if (random.OneIn(10))
            text += L".\\";
        if (random.OneIn(10))
            text += L"zz\\..\\";
        std::wstring part = parts[i];
        if (random.OneIn(5))
            CharUpperBuffW(&part[0], DWORD(part.size()));
        text += part;
    }
    if (random.OneIn(6))
        text = L"..\\program\\" + text;
    if (node.Folder && random.OneIn(3))
        text += L"\\";
    if (random.OneIn(10))
        text += random.Coin() ? L"." : L" \t";
    return text;
}

const wchar_t* const Outsiders[] = {
    L"..\\canary\\c0.txt",
    L"..\\outside.txt",
    L"..\\canary",
    L"..",
    L".",
    L"..\\Uninstall.exe",
    L"link",
    L"deep\\dlink",
    L"link\\c0.txt",
    L"link\\sub\\c2.txt",
    L"link\\ro.txt",
    L"LINK\\sub",
    L"link\\",
    L"deep\\dlink\\",
    L"deep\\dlink\\c2.txt",
    L"Deep/DLink/../dlink/c2.txt",
    L"deep",
    L"deep\\",
    L"link\\..\\deep",
    L"link/sub/../c0.txt",
    L"link:stream",
    L"c0.txt::$DATA",
    L"C:x",
    L"C:\\windows\\win.ini",
    L"\\outside.txt",
    L"/outside.txt",
    L"\\\\server\\share\\x",
    L"\\\\?\\C:\\x",
    L"\\\\.\\nul",
    L"nul",
    L"con",
    L"COM1",
    L"aux.txt",
    L"*",
    L"?.txt",
    L"sub\\..\\..\\outside.txt",
    L"%TEMP%\\x",
    L"..\\program2\\x",
    L"link\\..\\..\\outside.txt",
    L"...",
    L"....\\x",
    L"Uninstall.exe",
    L"Uninstall.lst",
    L"UNINSTALL.EXE",
    L".\\Uninstall.lst",
};

// A line as bytes: ANSI (the list's code page), now and then UTF-8. `faithful` tells whether
// the list reader, which reads ANSI, gets the same line back.
std::string Bytes(Random& random, const std::wstring& line, bool* faithful = nullptr) {
    UINT codePage = random.OneIn(10) ? CP_UTF8 : CP_ACP;
    int size = WideCharToMultiByte(codePage, 0, line.data(), int(line.size()), nullptr, 0, nullptr,
                                   nullptr);
    std::string bytes(size_t(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(codePage, 0, line.data(), int(line.size()), &bytes[0], size, nullptr,
                            nullptr);
    if (faithful) {
        std::wstring back(bytes.size(), L'\0');
        int length = bytes.empty() ? 0
                                   : MultiByteToWideChar(CP_ACP, 0, bytes.data(), int(bytes.size()),
                                                         &back[0], int(back.size()));
        back.resize(size_t(length > 0 ? length : 0));
        *faithful = back == line;
    }
    return bytes;
}

// The components a line can have at most: its separators plus one.
size_t Components(const std::string& line) {
    size_t count = 1;
    for (char c : line)
        count += c == '\\' || c == '/';
    return count;
}

void RunList(Random& random, size_t, Outcome& outcome) {
    // The program folder as the last input left it, emptied but for the links.
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((Program + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = data.cFileName;
            if (name == L"deep") {
                // Kept with its link; what else is in it goes.
                WIN32_FIND_DATAW inner;
                HANDLE deep = FindFirstFileW((Program + L"\\deep\\*").c_str(), &inner);
                if (deep != INVALID_HANDLE_VALUE) {
                    do {
                        std::wstring child = inner.cFileName;
                        if (child != L"." && child != L".." && child != L"dlink")
                            fuzz::RemoveTree(Program + L"\\deep\\" + child);
                    } while (FindNextFileW(deep, &inner));
                    FindClose(deep);
                }
            } else if (name != L"." && name != L".." && name != L"link") {
                fuzz::RemoveTree(Program + L"\\" + name);
            }
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    if (!EnsureLinks()) {
        outcome.Fail("the links could not be made again");
        return;
    }
    RestorePending();
    std::vector<Node> nodes;
    std::vector<HANDLE> held;
    std::set<std::wstring> heldPaths;
    MakeTree(random, nodes, held, heldPaths);
    fuzz::WriteFileBytes(ProgramPath, "the running program");

    // The list: lines for entries of the tree, for the links and what is outside, and garbage.
    std::string list;
    std::vector<const Node*> listed;
    size_t depth = 0;
    size_t lines = random.Below(random.OneIn(8) ? 120 : 30);
    for (size_t i = 0; i < lines; i++) {
        std::string line;
        size_t kind = random.Below(10);
        if (kind < 6 && !nodes.empty()) {
            const Node& node = nodes[random.Below(nodes.size())];
            bool faithful = false;
            line = Bytes(random, Spell(random, node), &faithful);
            if (faithful)
                listed.push_back(&node);
        } else if (kind < 8) {
            std::wstring outsider = random.Pick(Outsiders);
            if (random.OneIn(8))
                outsider = Root + L"\\" + (random.Coin() ? L"canary\\c0.txt" : L"outside.txt");
            line = Bytes(random, outsider);
        } else if (kind < 9) {
            for (size_t n = random.Below(40); n > 0; n--)
                line += char(random.Next());
        } else {
            switch (random.Below(4)) {
            case 0:
                line = std::string(2040 + random.Below(20), 'x') + "c0.txt";
                break;
            case 1:
                line = std::string("a\0b", 3);
                break;
            case 2:
                line = "";
                break;
            default:
                line = std::string(random.Below(5), ' ') + "\t";
                break;
            }
        }
        // The longest line the reader accepts is 2047 bytes; a longer one names nothing.
        if (line.size() < 2048 && line.find('\0') == std::string::npos &&
            line.find('\n') == std::string::npos)
            depth = std::max(depth, Components(line));
        list += line;
        list += random.OneIn(4) ? "\n" : "\r\n";
    }
    if (random.OneIn(5) && !list.empty())
        list.pop_back(); // no line end after the last line
    outcome.Input = "list " + fuzz::Escape(list, 8000) + " over the tree";
    for (const Node& node : nodes)
        outcome.Input += " " + fuzz::Narrow(node.Path) + (node.Folder ? "\\" : "");
    if (!held.empty())
        outcome.Input += " (" + fuzz::Narrow(*heldPaths.begin()) + " held open)";
    fuzz::WriteFileBytes(ListPath, list);

    std::map<std::wstring, State> before = Outside();
    std::vector<std::wstring> pendingBefore = PendingDeletions();
    File file;
    if (!file.Open(ListPath.c_str(), 0)) {
        outcome.Fail("the list could not be opened");
        return;
    }
    std::wstring folder = Program + L"\\";
    ListRemoval removal = RemoveListedEntries(file, folder.c_str(), ProgramPath.c_str());
    file.Close();
    for (HANDLE handle : held)
        CloseHandle(handle);

    // Outside: nothing deleted, moved or changed.
    std::map<std::wstring, State> after = Outside();
    for (const auto& entry : before) {
        auto it = after.find(entry.first);
        if (it == after.end())
            outcome.Fail("%s outside the folder is gone", fuzz::Narrow(entry.first).c_str());
        else if (!(it->second == entry.second))
            outcome.Fail("%s outside the folder changed (attributes %lx -> %lx)",
                         fuzz::Narrow(entry.first).c_str(), entry.second.Attributes,
                         it->second.Attributes);
    }
    for (const auto& entry : after)
        if (!before.count(entry.first))
            outcome.Fail("%s appeared outside the folder", fuzz::Narrow(entry.first).c_str());
    for (const wchar_t* link : {L"\\link", L"\\deep\\dlink"})
        FUZZ_CHECK(outcome, IsLink(Program + link) || !fuzz::PathExists(Program + link),
                   "%s is no link any more", fuzz::Narrow(link).c_str());

    // Scheduled: only inside the folder, never through or at a link, never the program or list.
    std::vector<std::wstring> pendingAfter = PendingDeletions();
    std::wstring inside = Lower(L"\\??\\" + Program + L"\\");
    std::set<std::wstring> scheduled;
    for (size_t i = pendingBefore.size(); i < pendingAfter.size(); i++) {
        std::wstring name = Lower(pendingAfter[i]);
        Scheduled++;
        scheduled.insert(name);
        bool within =
            name.compare(0, inside.size(), inside) == 0 && name.find(L" -> ") == std::wstring::npos;
        std::wstring rest = within ? name.substr(inside.size()) : L"";
        FUZZ_CHECK(outcome, within, "%s was scheduled", fuzz::Narrow(pendingAfter[i]).c_str());
        FUZZ_CHECK(outcome,
                   !within || (rest != L"link" && rest != L"deep\\dlink" &&
                               rest.compare(0, 5, L"link\\") != 0 &&
                               rest.compare(0, 11, L"deep\\dlink\\") != 0 &&
                               rest != L"uninstall.exe" && rest != L"uninstall.lst"),
                   "%s was scheduled", fuzz::Narrow(pendingAfter[i]).c_str());
    }
    FUZZ_CHECK(outcome, pendingAfter.size() >= pendingBefore.size(),
               "scheduled deletions were taken away");

    // The passes.
    MaxPasses = std::max<size_t>(MaxPasses, removal.Passes);
    FUZZ_CHECK(outcome, removal.Passes >= 1 && removal.Passes <= depth + 1,
               "%u passes for lines of at most %zu components", removal.Passes, depth);

    // What the list names is gone, as far as it can be.
    FUZZ_CHECK(outcome, fuzz::PathExists(ProgramPath), "the program was deleted or moved");
    FUZZ_CHECK(outcome, fuzz::PathExists(ListPath), "the list was deleted or moved");
    for (const Node* node : listed) {
        std::wstring full = L"\\\\?\\" + Program + L"\\" + node->Path;
        bool exists = fuzz::PathExists(full);
        std::wstring lower = Lower(node->Path);
        std::wstring name =
            lower.substr(lower.rfind(L'\\') == std::wstring::npos ? 0 : lower.rfind(L'\\') + 1);
        if (heldPaths.count(lower)) {
            FUZZ_CHECK(outcome, exists, "the held file %s is gone",
                       fuzz::Narrow(node->Path).c_str());
            FUZZ_CHECK(outcome, scheduled.count(inside + lower) == 1,
                       "the held file %s was not scheduled", fuzz::Narrow(node->Path).c_str());
            FUZZ_CHECK(outcome, removal.RestartNeeded, "a held file did not ask for a restart");
        } else if (!node->Folder && lower != L"uninstall.exe" && lower != L"uninstall.lst") {
            FUZZ_CHECK(outcome, !exists, "the listed file %s is still there",
                       fuzz::Narrow(node->Path).c_str());
        } else if (node->Folder && exists) {
            bool empty = true;
            HANDLE inner = FindFirstFileW((full + L"\\*").c_str(), &data);
            if (inner != INVALID_HANDLE_VALUE) {
                do
                    empty = empty && (wcscmp(data.cFileName, L".") == 0 ||
                                      wcscmp(data.cFileName, L"..") == 0);
                while (FindNextFileW(inner, &data));
                FindClose(inner);
            }
            FUZZ_CHECK(outcome, !empty, "the listed folder %s is empty but still there",
                       fuzz::Narrow(node->Path).c_str());
        }
    }
}

fuzz::Registration ListCampaign({"list",
                                 "Uninstall.lst through the passes, in a sandbox with links", 1500,
                                 60, Prepare, RunList, Finish});

} // namespace
