// Registry fault injection through the override table: for ApplyIntegration (from a machine
// that other programs and an earlier installation left) and for RemoveRegistrations (from what
// a clean apply made), the k-th registry call fails, with ERROR_ACCESS_DENIED and with
// ERROR_FILE_NOT_FOUND, for every k of the clean run. After each:
// - the run did not crash, and wrote nowhere but the keys the integration may touch;
// - each injected failure of a value's write (a key created for it, a value set or deleted) was
//   reported by a diagnostic line, and a clean run reports none;
// - a following clean run of the same step leaves exactly the registry that a clean run from
//   the same start leaves.
// One kind of injection cannot be held to the last: ERROR_FILE_NOT_FOUND from a call that looks a
// key or value up (opens a key, queries or deletes a value, deletes a key). For those calls it is
// not a failure but the registry's own answer "not there" (for a deletion, "gone already"), which
// no program can tell from the truth: the run acts on a registry without that key or value, as it
// would if another program had deleted it at that moment, and what was lost with the answer a
// clean run cannot bring back. Those runs are checked for crashes, for writes outside and for the
// diagnostic lines (and counted as "not-found answers"); no clean run follows them.
// ERROR_FILE_NOT_FOUND from a call that creates a key, writes a value or enumerates is a failure
// like any other and held to everything.
// The registry is compared below the places the integration can touch (IntegrationPlaces: its
// extensions and classes, the shell extension and handler keys, the product keys, App Paths, the
// uninstall entry, the approval list and Default Programs, in both views where Windows keeps
// two): a snapshot of
// all of HKEY_CLASSES_ROOT, HKEY_CURRENT_USER\Software and HKEY_LOCAL_MACHINE\Software takes
// seconds under Wine, and every write is checked against these places as it is made instead.
// The whole areas are compared once, before the first injection and after the last.
#include <windows.h>
#include <objbase.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "common/diagnostics.h"
#include "common/files.h"
#include "common/system.h"
#include "common/registry.h"
#include "common/settings.h"
#include "integration/apply.h"
#include "integration/registration.h"
#include "integration/shortcuts.h"
#include "tests/fuzz/fuzz.h"
#include "tests/fuzz/registry_state.h"
#include "tests/unit/test_support.h"
#include "uninstall/removal.h"
#include "uninstall/startup.h"
#include "uninstall/batch_file.h"
#include "uninstall/departure.h"
#include "uninstall/listed_files.h"
#include "uninstall/uninstall_run.h"

namespace {
using fuzz::Outcome;
using fuzz::Random;

// ---- the injecting table ----

enum CallKind {
    Open,
    Create,
    Query,
    Set,
    DeleteVal,
    DeleteKey,
    EnumKey,
    DeleteKeyEx,
    EnumValue,
    DeleteOpened
};
const char* const KindNames[] = {
    "open key",   "create key", "query value",       "set value",   "delete value",
    "delete key", "enum keys",  "delete key (view)", "enum values", "delete opened key"};

size_t Calls = 0;              // registry calls so far in the run
size_t FailAt = SIZE_MAX;      // the call that fails
LONG FailWith = ERROR_SUCCESS; // and how
CallKind FailedKind = Open;
std::string FailedTarget;
bool FailedIsAnswer = false; // the failure reads as the registry's "not there"
// Calls for which "not found" is an answer, not a failure.
bool LooksUp(CallKind kind) {
    return kind == Open || kind == Query || kind == DeleteVal || kind == DeleteKey ||
           kind == DeleteKeyEx;
}
std::vector<std::string> Outside; // writes that went elsewhere
std::vector<fuzz::Place> Places;
std::map<HKEY, std::pair<HKEY, std::wstring>> Handles; // opened key -> root, path

std::pair<HKEY, std::wstring> Target(HKEY key, LPCWSTR sub) {
    std::pair<HKEY, std::wstring> base;
    auto it = Handles.find(key);
    if (it != Handles.end())
        base = it->second;
    else
        base = {key, L""};
    std::wstring name = sub ? sub : L"";
    if (!name.empty())
        base.second = base.second.empty() ? name : base.second + L"\\" + name;
    return base;
}

std::string Describe(const std::pair<HKEY, std::wstring>& target, LPCWSTR value = nullptr) {
    std::string text = fuzz::Narrow(std::wstring(RootName(target.first)) + L"\\" + target.second);
    if (value)
        text += " [" + fuzz::Narrow(value) + "]";
    return text;
}

// A cut refuses every call from FailAt on, as a process ended there leaves the registry: nothing
// after it lands, no compensating write either.
bool Cutting = false;

bool Fails(CallKind kind, const std::pair<HKEY, std::wstring>& target, LPCWSTR value = nullptr) {
    size_t call = Calls++;
    if (Cutting && call > FailAt)
        return true;
    if (call != FailAt)
        return false;
    FailedKind = kind;
    FailedTarget = Describe(target, value);
    FailedIsAnswer = FailWith == ERROR_FILE_NOT_FOUND && LooksUp(kind);
    return true;
}

void Write(const std::pair<HKEY, std::wstring>& target, LPCWSTR value) {
    if (!fuzz::WithinPlaces(Places, target.first, target.second, 0))
        Outside.push_back(Describe(target, value));
}

const RegistryFunctions& Real() {
    return RealRegistryFunctions();
}

LONG WINAPI InjectOpen(HKEY key, LPCWSTR sub, DWORD options, REGSAM access, PHKEY result) {
    auto target = Target(key, sub);
    if (Fails(Open, target)) {
        *result = nullptr;
        return FailWith;
    }
    LONG error = Real().OpenKey(key, sub, options, access, result);
    if (error == ERROR_SUCCESS)
        Handles[*result] = target;
    return error;
}

LONG WINAPI InjectCreate(HKEY key, LPCWSTR sub, DWORD reserved, LPWSTR keyClass, DWORD options,
                         REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result,
                         LPDWORD disposition) {
    auto target = Target(key, sub);
    Write(target, nullptr);
    if (Fails(Create, target)) {
        *result = nullptr;
        return FailWith;
    }
    LONG error = Real().CreateKey(key, sub, reserved, keyClass, options, access, security, result,
                                  disposition);
    if (error == ERROR_SUCCESS)
        Handles[*result] = target;
    return error;
}

LONG WINAPI InjectQuery(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                        LPDWORD size) {
    if (Fails(Query, Target(key, nullptr), name))
        return FailWith;
    return Real().QueryValue(key, name, reserved, type, data, size);
}

LONG WINAPI InjectSet(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                      DWORD size) {
    auto target = Target(key, nullptr);
    Write(target, name);
    if (Fails(Set, target, name))
        return FailWith;
    return Real().SetValue(key, name, reserved, type, data, size);
}

LONG WINAPI InjectDeleteValue(HKEY key, LPCWSTR name) {
    auto target = Target(key, nullptr);
    Write(target, name);
    if (Fails(DeleteVal, target, name))
        return FailWith;
    return Real().DeleteValue(key, name);
}

LONG WINAPI InjectDeleteKey(HKEY key, LPCWSTR sub) {
    auto target = Target(key, sub);
    Write(target, nullptr);
    if (Fails(DeleteKey, target))
        return FailWith;
    return Real().DeleteKey(key, sub);
}

LONG WINAPI InjectEnumKey(HKEY key, DWORD index, LPWSTR name, LPDWORD size, LPDWORD reserved,
                          LPWSTR keyClass, LPDWORD classSize, PFILETIME written) {
    if (Fails(EnumKey, Target(key, nullptr)))
        return FailWith;
    return Real().EnumKey(key, index, name, size, reserved, keyClass, classSize, written);
}

LONG WINAPI InjectDeleteKeyEx(HKEY key, LPCWSTR sub, REGSAM view, DWORD reserved) {
    auto target = Target(key, sub);
    Write(target, nullptr);
    if (Fails(DeleteKeyEx, target))
        return FailWith;
    return Real().DeleteKeyEx(key, sub, view, reserved);
}

LONG WINAPI InjectEnumValue(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD reserved,
                            LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    if (Fails(EnumValue, Target(key, nullptr)))
        return FailWith;
    return Real().EnumValue(key, index, name, nameSize, reserved, type, data, dataSize);
}

LONG WINAPI InjectDeleteOpenedKey(HKEY key) {
    auto target = Target(key, nullptr);
    Write(target, nullptr);
    if (Fails(DeleteOpened, target))
        return FailWith;
    return Real().DeleteOpenedKey(key);
}

const RegistryFunctions Injecting = {
    InjectOpen,      InjectCreate,  InjectQuery,       InjectSet,       InjectDeleteValue,
    InjectDeleteKey, InjectEnumKey, InjectDeleteKeyEx, InjectEnumValue, InjectDeleteOpenedKey};

std::vector<std::wstring> Diagnostics;
DiagnosticSink PreviousSink = nullptr;

void Keep(const wchar_t* line) {
    Diagnostics.push_back(line);
}

// ---- the machine and the two steps ----

void SetRaw(HKEY root, const wchar_t* path, REGSAM view, const wchar_t* name, DWORD type,
            const void* data, DWORD size) {
    HKEY key;
    if (RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_WRITE | view, nullptr, &key, nullptr) ==
        ERROR_SUCCESS) {
        if (name || data)
            RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(key);
    }
}

void SetText(HKEY root, const wchar_t* path, const wchar_t* name, const wchar_t* text,
             REGSAM view = 0) {
    SetRaw(root, path, view, name, REG_SZ, text, DWORD((wcslen(text) + 1) * sizeof(wchar_t)));
}

// What an earlier version left for its own user: extensions it took, with the previous owners it
// saved per user, ".ace" among them.
void SeedEarlierVersion() {
    DWORD one = 1;
    for (const wchar_t* extension : {L".tgz", L".ace", L".arj"}) {
        std::wstring record = std::wstring(L"Software\\Bundlo\\Setup\\") + extension;
        SetText(HKEY_CLASSES_ROOT, extension, L"", L"Bundlo");
        SetRaw(HKEY_CURRENT_USER, record.c_str(), 0, L"Exist", REG_DWORD, &one, 4);
        SetText(HKEY_CURRENT_USER, record.c_str(), L"Type",
                wcscmp(extension, L".tgz") == 0 ? L"bundlo.ZIP" : L"Other.Archive");
    }
}

// What other programs and an earlier installation left: owners of some extensions, "New"
// entries of other forms, a key without a class, a volume extension of someone else's, an
// earlier uninstall entry and the saved state of an earlier installation.
void SeedMachine() {
    SetText(HKEY_CLASSES_ROOT, L".zip", L"", L"CompressedFolder");
    const BYTE zip[22] = {0x50, 0x4B, 0x05, 0x06};
    SetRaw(HKEY_CLASSES_ROOT, L".zip\\ShellNew", 0, L"Data", REG_BINARY, zip, sizeof zip);
    const wchar_t item[] = L"@%SystemRoot%\\zipfldr.dll,-1";
    SetRaw(HKEY_CLASSES_ROOT, L".zip\\ShellNew", 0, L"ItemName", REG_EXPAND_SZ, item, sizeof item);
    SetText(HKEY_CLASSES_ROOT, L".bdl", L"", L"Other.Bdl");
    SetText(HKEY_CLASSES_ROOT, L".bdl\\ShellNew", L"Command", L"other.exe /new \"%1\"");
    SetText(HKEY_CLASSES_ROOT, L".7z", L"", L"Other.7z");
    SetText(HKEY_CLASSES_ROOT, L".7z", L"PerceivedType", L"compressed");
    SetText(HKEY_CLASSES_ROOT, L".iso", L"", L"Windows.IsoFile");
    SetText(HKEY_CLASSES_ROOT, L".jar", L"", L"jarfile");
    SetRaw(HKEY_CLASSES_ROOT, L".lzh\\OpenWithList\\other.exe", 0, nullptr, 0, nullptr, 0);
    SetText(HKEY_CLASSES_ROOT, L".b05", L"", L"Backup.Volume");
    SetText(HKEY_LOCAL_MACHINE,
            L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Bundlo archiver",
            L"DisplayIcon", L"C:\\windows\\notepad.exe", KEY_WOW64_64KEY);
}

IntegrationSettings Everything() {
    IntegrationSettings settings = EveryArchiveType();
    settings.shellExtension = 1;
    settings.menuIcons = 1;
    // The shortcuts make no registry call; leaving them out halves the time of a run.
    return settings;
}

enum Step { ApplyStep, RemoveStep };

bool RunStep(Step step) {
    if (step == ApplyStep) {
        wchar_t group[PathCapacity];
        return ApplyIntegration(Everything(), group, PathCapacity);
    }
    RemoveFromRegistry();
    return true;
}

// One run of a step: counted, with the k-th call failing (none when k is SIZE_MAX).
size_t Counted(Step step, size_t k, LONG error, bool* result) {
    Calls = 0;
    FailAt = k;
    FailedIsAnswer = false;
    FailWith = error;
    Handles.clear();
    Diagnostics.clear();
    OverrideRegistryFunctions(&Injecting);
    // The store is looked for afresh, as in each run of the program.
    ReleaseSettings();
    *result = RunStep(step);
    OverrideRegistryFunctions(nullptr);
    return Calls;
}

fuzz::RegistrySnapshot Start[2], CleanEnd[2], WholeBefore, PlacesBefore;
// What the registry below the places holds after the last injection's check, so that the next
// restore need not read it again.
fuzz::RegistrySnapshot Current;
bool CurrentKnown = false;
size_t CallsOf[2] = {0, 0};
size_t Injections = 0, Reported = 0, Answers = 0;
double Spent[4]; // restoring, the faulted run, the clean run, the snapshot (FUZZ_TIMING=1)
double Now() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return double(now.QuadPart) / double(frequency.QuadPart);
}
std::vector<std::wstring> PlaceholderFiles;

const LONG Errors[] = {ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND};

void Prepare() {
    CoInitialize(nullptr);
    PreviousSink = OverrideDiagnosticSink(Keep);
    Places = fuzz::IntegrationPlaces();
    // The files the integration names beside the program: this campaign's folder.
    for (const wchar_t* name :
         {L"Bundlo.exe", L"bdlext.dll", L"bdlext64.dll", L"Bundlo.chm", L"Bdl.txt"}) {
        std::wstring path = fuzz::ModuleFolder() + L"\\" + name;
        if (!fuzz::PathExists(path)) {
            fuzz::WriteFileBytes(path, "placeholder");
            PlaceholderFiles.push_back(path);
        }
    }
    DeleteFileW((fuzz::ModuleFolder() + L"\\Bundlo.ini").c_str());
    fuzz::SeedWindowsShellClasses();
    WholeBefore = fuzz::TakeSnapshot(fuzz::WholeAreas());
    PlacesBefore = fuzz::TakeSnapshot(Places);
    // The start: a prefix without the archiver, whatever ran in it before.
    ReleaseSettings();
    RemoveFromRegistry();

    SeedMachine();
    SeedEarlierVersion();
    Start[ApplyStep] = fuzz::TakeSnapshot(Places);
    bool result = false;
    CallsOf[ApplyStep] = Counted(ApplyStep, SIZE_MAX, ERROR_SUCCESS, &result);
    CleanEnd[ApplyStep] = fuzz::TakeSnapshot(Places);
    Start[RemoveStep] = CleanEnd[ApplyStep];
    CallsOf[RemoveStep] = Counted(RemoveStep, SIZE_MAX, ERROR_SUCCESS, &result);
    CleanEnd[RemoveStep] = fuzz::TakeSnapshot(Places);
}

size_t Inputs() {
    return 2 * (CallsOf[ApplyStep] + CallsOf[RemoveStep]);
}

// Input i: the step, the error and k, in this order: apply with access denied for every k, then
// with file not found, then the removal likewise.
void RunFault(Random&, size_t index, Outcome& outcome) {
    Step step = ApplyStep;
    if (index >= 2 * CallsOf[ApplyStep]) {
        step = RemoveStep;
        index -= 2 * CallsOf[ApplyStep];
    }
    size_t calls = CallsOf[step];
    LONG error = Errors[index / calls];
    size_t k = index % calls;
    const char* stepName = step == ApplyStep ? "ApplyIntegration" : "RemoveRegistrations";
    const char* errorName =
        error == ERROR_ACCESS_DENIED ? "ERROR_ACCESS_DENIED" : "ERROR_FILE_NOT_FOUND";
    outcome.Input = std::string(stepName) + ", call " + std::to_string(k) + " of " +
                    std::to_string(calls) + " fails with " + errorName;
    double t0 = Now();
    if (!fuzz::RestoreSnapshot(Places, Start[step], CurrentKnown ? &Current : nullptr)) {
        CurrentKnown = false;
        outcome.Fail("the start could not be restored");
        return;
    }
    CurrentKnown = false;
    Outside.clear();
    bool result = false;
    double t1 = Now();
    size_t made = Counted(step, k, error, &result);
    double t2 = Now();
    bool answer = FailedIsAnswer;
    Injections++;
    outcome.Input += ": " + std::string(KindNames[FailedKind]) + " " + FailedTarget;
    FUZZ_CHECK(outcome, made > k, "the faulted run made only %zu calls", made);
    for (const std::string& write : Outside)
        outcome.Fail("wrote outside the integration's keys: %s", write.c_str());
    // A refused write of a value is reported; a deletion of something already gone is no
    // failure, and one a later pass of a tree deletion makes up for is none either.
    bool write = FailedKind == Create || FailedKind == Set ||
                 (FailedKind == DeleteVal && error == ERROR_ACCESS_DENIED);
    if (write && made > k) {
        Reported++;
        FUZZ_CHECK(outcome, !Diagnostics.empty(), "the failed %s of %s gave no diagnostic line",
                   KindNames[FailedKind], FailedTarget.c_str());
    }

    if (answer) {
        Answers++;
        return;
    }
    bool cleanResult = false;
    Counted(step, SIZE_MAX, ERROR_SUCCESS, &cleanResult);
    double t3 = Now();
    FUZZ_CHECK(outcome, cleanResult, "the clean run after it stopped");
    FUZZ_CHECK(outcome, Diagnostics.empty(), "the clean run after it reported %s",
               Diagnostics.empty() ? "" : fuzz::Narrow(Diagnostics[0]).c_str());
    Current = fuzz::TakeSnapshot(Places);
    CurrentKnown = true;
    double t4 = Now();
    Spent[0] += t1 - t0;
    Spent[1] += t2 - t1;
    Spent[2] += t3 - t2;
    Spent[3] += t4 - t3;
    for (const std::string& line : fuzz::CompareSnapshots(CleanEnd[step], Current))
        outcome.Fail("after the clean run: %s", line.c_str());
}

// The registry as it was, outside the integration's keys and inside them.
void Finish(Outcome& outcome) {
    // Outside the integration's keys nothing changed in the whole areas, all injections
    // included; inside them the machine goes back to what it was.
    for (const std::string& line :
         fuzz::CompareSnapshots(WholeBefore, fuzz::TakeSnapshot(fuzz::WholeAreas()), 12,
                                [](HKEY root, const std::wstring&path) {
                                    // Explorer's cache of the shell folders, which Wine's shell
                                    // writes whenever a shortcut's folder is looked up.
                                    size_t cache = path.size() >= 14 ? path.size() - 14 : 0;
                                    return fuzz::WithinPlaces(Places, root, path, 0) ||
                                           _wcsicmp(path.c_str() + cache, L"\\Shell Folders") == 0;
                                }))
        outcome.Fail("outside the integration's keys: %s", line.c_str());
    fuzz::RestoreSnapshot(Places, PlacesBefore);
    for (const std::wstring& path : PlaceholderFiles)
        DeleteFileW(path.c_str());
    OverrideDiagnosticSink(PreviousSink);
    CoUninitialize();
}

void FinishFaults(Outcome& outcome) {
    fuzz::AddFigure("injections", Injections);
    fuzz::AddFigure("calls of the apply", CallsOf[ApplyStep]);
    fuzz::AddFigure("calls of the removal", CallsOf[RemoveStep]);
    fuzz::AddFigure("refused writes reported", Reported);
    fuzz::AddFigure("not-found answers without a clean run", Answers);
    if (getenv("FUZZ_TIMING"))
        for (double spent : Spent)
            fuzz::AddFigure("ms", uint64_t(spent * 1000));
    Finish(outcome);
}

fuzz::Registration Faults({"faults",
                           "every registry call of the apply and the removal failing once", 0, 30,
                           Prepare, RunFault, FinishFaults, Inputs});

// ---- cuts: each run ended at registry call k, for every k ----
//
// The first setup, a second setup with other choices, a setup over an earlier version's per-user
// records, and the removal: each cut at every call k of its clean run (every call from k on
// refused). After each cut the same command, run cleanly, must reach the clean run's end, and
// the removal after it the clean removal's end.

enum CutRun { FirstSetup, SecondSetup, EarlierSetup, Removal, CutRuns };
const char* const CutRunNames[] = {"the first setup", "a second setup with other choices",
                                   "a setup over an earlier version's records", "the removal"};
fuzz::RegistrySnapshot CutStart[CutRuns], CutEnd[CutRuns], CutRemoved[CutRuns];
size_t CutCalls[CutRuns];

IntegrationSettings OtherChoices() {
    IntegrationSettings settings = Everything();
    settings.associate[0] = settings.associate[1] = settings.associate[7] = 0;
    settings.shellExtension = 0;
    return settings;
}

// The registry part of the command: the setup's OK (choices saved, applied, the uninstall entry
// written) or the whole removal.
void RunCommand(CutRun run) {
    ReleaseSettings();
    if (run == Removal) {
        RemoveFromRegistry();
        return;
    }
    IntegrationSettings settings = run == SecondSetup ? OtherChoices() : Everything();
    SaveIntegrationSettings(settings);
    wchar_t group[PathCapacity];
    ApplyIntegration(settings, group, PathCapacity);
    RegisterUninstallEntry();
}

size_t CountedCommand(CutRun run, size_t cutAt) {
    Calls = 0;
    FailAt = cutAt;
    FailWith = ERROR_ACCESS_DENIED;
    Cutting = cutAt != SIZE_MAX;
    Handles.clear();
    Diagnostics.clear();
    OverrideRegistryFunctions(&Injecting);
    RunCommand(run);
    OverrideRegistryFunctions(nullptr);
    Cutting = false;
    return Calls;
}

void PrepareFileCuts();

void PrepareCuts() {
    Prepare();
    // The start of the faults campaign holds the earlier version's records; the first setup's
    // has none of them.
    fuzz::RestoreSnapshot(Places, Start[ApplyStep]);
    ReleaseSettings();
    RemoveFromRegistry();
    SeedMachine();
    CutStart[FirstSetup] = fuzz::TakeSnapshot(Places);
    SeedEarlierVersion();
    CutStart[EarlierSetup] = fuzz::TakeSnapshot(Places);
    for (CutRun run : {FirstSetup, SecondSetup, EarlierSetup, Removal}) {
        if (run == SecondSetup)
            CutStart[run] = CutEnd[FirstSetup];
        if (run == Removal)
            CutStart[run] = CutEnd[EarlierSetup];
        fuzz::RestoreSnapshot(Places, CutStart[run]);
        CutCalls[run] = CountedCommand(run, SIZE_MAX);
        CutEnd[run] = fuzz::TakeSnapshot(Places);
        CountedCommand(Removal, SIZE_MAX);
        CutRemoved[run] = fuzz::TakeSnapshot(Places);
    }
    PrepareFileCuts();
}

// ---- the removal's file steps, cut at each one ----
//
// A copy of this program, named Uninstall.exe, in a folder of its own with its list and files,
// runs the whole silent removal in a child process (fuzz.exe removal-child) and ends itself
// before its k-th change of a file or folder (the batch file's start among them); then the same
// removal runs again to its end. The installation's folder and the registry must end as after a
// removal that was never cut. The batch file is not started: what it does happens after the
// removal.

const int CutExitCode = 0xC07;
const wchar_t* const InstallationFiles[] = {L"Bundlo.exe", L"bdlext.dll", L"license.txt",
                                            L"docs\\readme.txt",
                                            L"Bundlo.ini.0123456789abcdef.tmp"};
const char ListText[] = "docs\r\nBundlo.exe\r\nbdlext.dll\r\ndocs\\readme.txt\r\n"
                        "Uninstall.exe\r\nUninstall.lst\r\nlicense.txt\r\n";
std::wstring Installation;
fuzz::RegistrySnapshot FileCutStart, FileCutEnd;
std::vector<std::wstring> FileCutFolderEnd;
bool FileCutFolderGone = false;
size_t FileChanges = 0;
int FileCutCode = 0;

std::vector<std::wstring> FolderContents(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do
        if (wcscmp(data.cFileName, L".") != 0 && wcscmp(data.cFileName, L"..") != 0)
            names.push_back(data.cFileName);
    while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

// The installation as the setup leaves it, with a settings store's leftover temporary file.
bool MakeInstallation() {
    fuzz::RemoveTree(Installation);
    CreateDirectoryW(Installation.c_str(), nullptr);
    CreateDirectoryW((Installation + L"\\docs").c_str(), nullptr);
    bool made = CopyFileW((fuzz::ModuleFolder() + L"\\fuzz.exe").c_str(),
                          (Installation + L"\\Uninstall.exe").c_str(), FALSE) &&
                fuzz::WriteFileBytes(Installation + L"\\Uninstall.lst", ListText);
    for (const wchar_t* name : InstallationFiles)
        made = fuzz::WriteFileBytes(Installation + L"\\" + name, "x") && made;
    return made && fuzz::RestoreSnapshot(Places, FileCutStart) &&
           SetString(InView(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY), L"\\Software\\Bundlo\\Setup",
                     L"Folder", Installation.c_str()) == ERROR_SUCCESS;
}

// The child's exit code: CutExitCode when it was cut, else its changes above the removal's own
// code.
DWORD RunRemovalChild(long cutAt) {
    DWORD code = RunChild(L"\"" + Installation + L"\\Uninstall.exe\" removal-child " +
                          std::to_wstring(cutAt));
    // The batch folders the child made and never started.
    wchar_t temporary[PathCapacity];
    if (GetTemporaryFolder(true, temporary))
        for (const std::wstring& name : FolderContents(temporary))
            if (name.compare(0, 4, L"Bdl-") == 0)
                fuzz::RemoveTree(std::wstring(temporary) + L"\\" + name);
    return code;
}

void PrepareFileCuts() {
    Installation = fuzz::MakeScratchFolder(L"cuts") + L"\\Bundlo";
    FileCutStart = CutEnd[EarlierSetup];
    if (!MakeInstallation())
        return;
    DWORD code = RunRemovalChild(-1);
    FileChanges = code == DWORD(-1) ? 0 : code >> 8;
    FileCutCode = int(code & 0xFF);
    FileCutEnd = fuzz::TakeSnapshot(Places);
    FileCutFolderEnd = FolderContents(Installation);
    FileCutFolderGone = GetFileAttributesW(Installation.c_str()) == INVALID_FILE_ATTRIBUTES;
}

void RunFileCut(size_t k, Outcome& outcome) {
    outcome.Input = "the removal cut before file change " + std::to_string(k) + " of " +
                    std::to_string(FileChanges);
    CurrentKnown = false;
    if (!MakeInstallation()) {
        outcome.Fail("the installation could not be made");
        return;
    }
    DWORD cut = RunRemovalChild(long(k));
    Injections++;
    FUZZ_CHECK(outcome, cut == DWORD(CutExitCode), "the run was not cut (exit code %lu)",
               static_cast<unsigned long>(cut));
    // Cut between the program's move and its folder's removal: nothing is left to run, and
    // nothing but the empty folder to remove.
    if (GetFileAttributesW((Installation + L"\\Uninstall.exe").c_str()) ==
        INVALID_FILE_ATTRIBUTES) {
        if (!FolderContents(Installation).empty())
            outcome.Fail("the program left before the rest of its folder");
        return;
    }
    DWORD again = RunRemovalChild(-1);
    FUZZ_CHECK(outcome, again != DWORD(-1) && int(again & 0xFF) == FileCutCode,
               "the removal run again ended with %lu, the uncut one with %d",
               static_cast<unsigned long>(again & 0xFF), FileCutCode);
    for (const std::string& line : fuzz::CompareSnapshots(FileCutEnd, fuzz::TakeSnapshot(Places)))
        outcome.Fail("the removal run again: %s", line.c_str());
    std::vector<std::wstring> left = FolderContents(Installation);
    if (left != FileCutFolderEnd) {
        std::wstring names;
        for (const std::wstring& name : left)
            names += name + L" ";
        outcome.Fail("the removal run again left in the folder: %s", fuzz::Narrow(names).c_str());
    }
}

size_t CutInputs() {
    size_t total = FileChanges;
    for (size_t calls : CutCalls)
        total += calls;
    return total;
}

void RunCut(Random&, size_t index, Outcome& outcome) {
    int run = 0;
    while (run < CutRuns && index >= CutCalls[run])
        index -= CutCalls[run++];
    if (run == CutRuns) {
        RunFileCut(index, outcome);
        return;
    }
    CutRun cut = CutRun(run);
    outcome.Input = std::string(CutRunNames[cut]) + " cut at call " + std::to_string(index) +
                    " of " + std::to_string(CutCalls[cut]);
    if (!fuzz::RestoreSnapshot(Places, CutStart[cut], CurrentKnown ? &Current : nullptr)) {
        CurrentKnown = false;
        outcome.Fail("the start could not be restored");
        return;
    }
    CurrentKnown = false;
    Outside.clear();
    CountedCommand(cut, index);
    Injections++;
    outcome.Input += ": " + std::string(KindNames[FailedKind]) + " " + FailedTarget;
    for (const std::string& write : Outside)
        outcome.Fail("wrote outside the integration's keys: %s", write.c_str());
    CountedCommand(cut, SIZE_MAX);
    Current = fuzz::TakeSnapshot(Places);
    for (const std::string& line : fuzz::CompareSnapshots(CutEnd[cut], Current))
        outcome.Fail("the same command run again: %s", line.c_str());
    if (cut == Removal) {
        CurrentKnown = true;
        return;
    }
    CountedCommand(Removal, SIZE_MAX);
    Current = fuzz::TakeSnapshot(Places);
    CurrentKnown = true;
    for (const std::string& line : fuzz::CompareSnapshots(CutRemoved[cut], Current))
        outcome.Fail("the removal after it: %s", line.c_str());
}

void FinishCuts(Outcome& outcome) {
    for (int run = 0; run < CutRuns; run++)
        fuzz::AddFigure(CutRunNames[run], CutCalls[run]);
    fuzz::AddFigure("file changes of the removal", FileChanges);
    fuzz::AddFigure("cuts", Injections);
    if (FileChanges == 0)
        outcome.Fail("the removal in its own folder made no change at all");
    // The program moves into the batch file's folder, and its own folder goes: a settings
    // save's leftover and the list with it.
    if (!FileCutFolderGone)
        outcome.Fail("the uncut removal left its folder with %zu entries", FileCutFolderEnd.size());
    fuzz::RemoveTree(Installation.substr(0, Installation.size() - 7));
    Finish(outcome);
}

fuzz::Registration Cuts({"cuts", "every setup and removal cut short at each registry call", 0, 30,
                         PrepareCuts, RunCut, FinishCuts, CutInputs});

} // namespace

namespace {
// The batch file is left unstarted: what it does comes after the removal.
BOOL WINAPI PretendToStart(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL,
                           DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION process) {
    process->hProcess = process->hThread = nullptr;
    return TRUE;
}
} // namespace

namespace fuzz {
int RemovalChild(long cutAt) {
    static long changes = 0;
    static long cut = 0;
    cut = cutAt;
    FileChangeHook = [] {
        if (changes++ == cut)
            TerminateProcess(GetCurrentProcess(), CutExitCode);
    };
    CreateProcessOverride = PretendToStart;
    CoInitialize(nullptr);
    Silent = true;
    RunUninstall();
    CoUninitialize();
    return int((changes << 8) | (ExitCode & 0xFF));
}
} // namespace fuzz
