// Longer than most files: the settings store is one piece of state (the entries, the file's
// switches, damaged or closed) that loads, saves and answers the registry operations; its parts
// share that state and nothing else would use them.
#include "common/settings.h"

#include <shlobj.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "common/diagnostics.h"
#include "common/file.h"
#include "common/files.h"
#include "common/paths.h"
#include "common/registry.h"
#include "common/text.h"

namespace {

const wchar_t SettingsFileName[] = L"Bundlo.ini";
// The archiver may be writing the file at this moment; it holds it only briefly.
const int OpenAttempts = 7;
const DWORD OpenRetryDelay = 50; // milliseconds between attempts

// The store is process-wide: the registry operations consult it from anywhere. Its destruction
// at process exit writes the file back, so that every way out of the program keeps the changes.
struct SettingsStore {
    wchar_t Path[PathCapacity] = {};
    bool Attempted = false;
    bool Active = false;
    bool AppData = true;
    bool Integration = true;
    bool SaveSettings = true;
    bool Damaged = false; // a file exists but was not read whole
    bool Closed = false;  // let go of for the rest of the run by CloseSettingsFile
    SettingsEntry* Head = nullptr;
    SettingsEntry* Tail = nullptr;

    ~SettingsStore() {
        SaveSettingsFile();
        ReleaseSettings();
    }
};

SettingsStore Store;

void FreeEntry(SettingsEntry* entry) {
    free(entry->Name);
    free(entry->Value);
    free(entry);
}

void AppendEntry(const wchar_t* name, size_t nameLength, const wchar_t* value, SettingsKind kind) {
    SettingsEntry* entry = static_cast<SettingsEntry*>(malloc(sizeof(SettingsEntry)));
    if (entry == nullptr)
        MemoryExit();
    entry->Name = nullptr;
    entry->Value = nullptr;
    entry->Next = nullptr;
    entry->Kind = kind;
    // Linked only when complete, so that running out of memory leaves a consistent list.
    entry->Name = DuplicateText(name, nameLength);
    entry->Value = DuplicateText(value, wcslen(value));
    if (entry->Name == nullptr || entry->Value == nullptr) {
        FreeEntry(entry);
        MemoryExit();
    }
    if (Store.Tail)
        Store.Tail->Next = entry;
    else
        Store.Head = entry;
    Store.Tail = entry;
}

SettingsEntry* FindEntry(const wchar_t* name) {
    for (SettingsEntry* entry = Store.Head; entry; entry = entry->Next)
        if (wcscmp(entry->Name, name) == 0)
            return entry;
    return nullptr;
}

void SetEntry(const wchar_t* name, const wchar_t* value, SettingsKind kind) {
    SettingsEntry* entry = FindEntry(name);
    if (entry == nullptr) {
        AppendEntry(name, wcslen(name), value, kind);
        return;
    }
    wchar_t* copy = DuplicateText(value, wcslen(value));
    if (copy == nullptr)
        MemoryExit();
    free(entry->Value);
    entry->Value = copy;
    entry->Kind = kind;
}

// Unlinks every entry whose name equals `name`, or begins with it when `prefix` is set.
void RemoveEntries(const wchar_t* name, bool prefix) {
    size_t length = wcslen(name);
    SettingsEntry* previous = nullptr;
    SettingsEntry* entry = Store.Head;
    while (entry) {
        SettingsEntry* next = entry->Next;
        bool match =
            prefix ? wcsncmp(entry->Name, name, length) == 0 : wcscmp(entry->Name, name) == 0;
        if (match) {
            if (previous)
                previous->Next = next;
            else
                Store.Head = next;
            if (Store.Tail == entry)
                Store.Tail = previous;
            FreeEntry(entry);
        } else {
            previous = entry;
        }
        entry = next;
    }
}

DWORD ReadNumber(const wchar_t* name, DWORD fallback) {
    const SettingsEntry* entry = FindEntry(name);
    return entry ? DWORD(uint64_t(ParseInt64(entry->Value))) : fallback;
}

void WriteNumber(const wchar_t* name, DWORD value) {
    wchar_t text[20];
    Int64ToText(int64_t(value), text, 20);
    SetEntry(name, text, SettingsNumber);
}

void FreeEntries() {
    SettingsEntry* entry = Store.Head;
    while (entry) {
        SettingsEntry* next = entry->Next;
        FreeEntry(entry);
        entry = next;
    }
    Store.Head = nullptr;
    Store.Tail = nullptr;
}

// A store that may not be served or written any more takes every request and drops it: with
// integration off the registry operations leave the registry alone as well.
void Seal() {
    FreeEntries();
    Store.Active = false;
    Store.Attempted = true;
    Store.Integration = false;
    Store.SaveSettings = false;
}

bool IsSealed() {
    return Store.Damaged || Store.Closed;
}

// A line break would start another entry, which could stand in for any other; a name needs its
// leading letter and ends at its first "=".
bool ReadsBackAsOneEntry(const wchar_t* name, const wchar_t* value) {
    return IsAsciiLetter(name[0]) && wcspbrk(name, L"=\r\n") == nullptr &&
           wcspbrk(value, L"\r\n") == nullptr;
}

enum OpenOutcome { Opened, Vanished, Refused };

OpenOutcome OpenSettingsFile(File& file, const wchar_t* path) {
    for (int attempt = 1;; attempt++) {
        if (file.Open(path, 0))
            return Opened;
        DWORD error = GetLastError();
        if (!FileExists(path))
            return Vanished;
        if (attempt == OpenAttempts) {
            SetLastError(error); // the refusal, for the report
            return Refused;
        }
        Sleep(OpenRetryDelay);
    }
}

// Absolute paths and HKEY_CLASSES_ROOT always belong to the registry.
bool TakenByFile(HKEY root, const wchar_t* path) {
    if (!Store.Active)
        return false;
    if (root != nullptr && root != HKEY_CURRENT_USER && root != HKEY_LOCAL_MACHINE)
        return false;
    return path == nullptr || path[0] != L'\\';
}

void ParseEntryLine(const wchar_t* line) {
    if (!IsAsciiLetter(line[0]))
        return;
    const wchar_t* equals = wcschr(line, L'=');
    if (equals == nullptr)
        return;
    const wchar_t* value = equals + 1;
    if (value[0] == L'"') {
        value++;
        size_t length = wcslen(value);
        if (length > 0 && value[length - 1] == L'"') {
            wchar_t* unquoted = DuplicateText(value, length - 1);
            if (unquoted == nullptr)
                MemoryExit();
            try {
                AppendEntry(line, equals - line, unquoted, SettingsText);
            } catch (...) {
                free(unquoted);
                throw;
            }
            free(unquoted);
            return;
        }
        AppendEntry(line, equals - line, value, SettingsText);
    } else if (wcsncmp(value, L"bin:", 4) == 0) {
        AppendEntry(line, equals - line, value + 4, SettingsRaw);
    } else {
        AppendEntry(line, equals - line, value, SettingsNumber);
    }
}

void ApplySwitches() {
    Store.AppData = ReadNumber(L"Global\\AppData", 1) != 0;
    Store.Integration = ReadNumber(L"Global\\Integration", 1) != 0;
    Store.SaveSettings = ReadNumber(L"Global\\SaveSettings", 1) != 0;
    WriteNumber(L"Global\\AppData", Store.AppData ? 1 : 0);
    WriteNumber(L"Global\\Integration", Store.Integration ? 1 : 0);
    WriteNumber(L"Global\\SaveSettings", Store.SaveSettings ? 1 : 0);
}

} // namespace

void FindSettingsFile(wchar_t* path) {
    path[0] = 0;
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&LoadSettingsFile), &module))
        module = nullptr;
    DWORD length = module ? GetModuleFileNameW(module, path, PathCapacity) : 0;
    // A cut module name would point at some other folder.
    if (length == 0 || length >= PathCapacity)
        path[0] = 0;
    else
        ReplaceNamePart(path, SettingsFileName, PathCapacity);
    if (path[0] != 0 && FileExists(path))
        return;
    wchar_t folder[PathCapacity];
    if (GetAppDataFolder(folder, PathCapacity, false))
        JoinPath(folder, SettingsFileName, path, PathCapacity);
}

bool GetAppDataFolder(wchar_t* destination, size_t capacity, bool create) {
    if (capacity == 0)
        return false;
    destination[0] = 0;
    // The shell writes up to MAX_PATH characters, whatever the caller's capacity.
    wchar_t folder[PathCapacity];
    folder[0] = 0;
    {
        OwnedTaskMemory list;
        if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_APPDATA,
                                              reinterpret_cast<PIDLIST_ABSOLUTE*>(list.put()))) ||
            !list || !SHGetPathFromIDListW(static_cast<PCIDLIST_ABSOLUTE>(list.get()), folder))
            folder[0] = 0;
    }
    // A cut name would be some other folder, which must neither be reported nor created.
    if (folder[0] == 0 || !JoinPath(folder, L"Bundlo", destination, capacity))
        return false;
    if (FileExists(destination))
        return true;
    return create && MakeDir(destination) == MakeDirCreated;
}

namespace {

struct SortItem {
    const SettingsEntry* Entry;
    uint32_t Position;
};

// Entries of equal name keep their order, so that the first of them is still the one that
// counts after the file is read again.
int CompareSortItems(const void* a, const void* b) {
    const SortItem* left = static_cast<const SortItem*>(a);
    const SortItem* right = static_cast<const SortItem*>(b);
    int order = wcscmp(left->Entry->Name, right->Entry->Name);
    if (order != 0)
        return order;
    return left->Position < right->Position ? -1 : left->Position > right->Position;
}

void AppendChars(Array<wchar_t>& text, const wchar_t* chars) {
    size_t length = wcslen(chars);
    if (length > UINT32_MAX)
        MemoryExit();
    uint32_t start = text.Count;
    text.Extend(uint32_t(length));
    memcpy(text.Data + start, chars, length * sizeof(wchar_t));
}

} // namespace

void StringList::Add(const wchar_t* line, size_t length) {
    if (length >= UINT32_MAX)
        MemoryExit();
    uint32_t start = Text.Count;
    Text.Extend(uint32_t(length) + 1);
    memcpy(Text.Data + start, line, length * sizeof(wchar_t));
    Text.Data[start + length] = 0;
    Count++;
}

const wchar_t* StringList::Next() {
    if (ReadPosition >= Text.Count)
        return nullptr;
    const wchar_t* line = Text.Data + ReadPosition;
    ReadPosition += wcslen(line) + 1;
    return line;
}

bool ComposeSettingsKey(HKEY root, const wchar_t* path, const wchar_t* name, wchar_t* key,
                        size_t capacity) {
    if (capacity == 0)
        return false;
    key[0] = 0;
    const wchar_t* prefix = root == HKEY_CURRENT_USER    ? L"HKCU\\"
                            : root == HKEY_LOCAL_MACHINE ? L"HKLM\\"
                                                         : L"";
    if (name == nullptr)
        name = L"";
    wchar_t composed[SettingsKeyCapacity];
    // Room for the separator as well; a cut key would name another entry, or with a deletion a
    // whole group of them.
    if (FormatText(composed, L"%s%s", prefix, path ? path : L"") < 0 ||
        wcslen(composed) + 1 + wcslen(name) >= SettingsKeyCapacity)
        return false;
    JoinPath(composed, name, composed);
    if (wcslen(composed) >= capacity)
        return false;
    CopyText(key, composed, capacity);
    return true;
}

TextEncoding DetectTextEncoding(const unsigned char* bytes, size_t size) {
    if (size >= 4 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF &&
        IsValidUtf8(bytes + 3, size - 3))
        return TextUtf8;
    size_t first;
    if (size >= 3 && bytes[0] == 0xFF && bytes[1] == 0xFE)
        first = 3;
    else if (size >= 3 && bytes[0] == 0xFE && bytes[1] == 0xFF)
        first = 2;
    else
        return TextAnsi;
    // Text in UTF-16 has high bytes of zero (ASCII) or other control values; ANSI text has none.
    for (size_t i = first; i < size; i += 2)
        if (bytes[i] < 0x20 && bytes[i] != 0x0D && bytes[i] != 0x0A)
            return TextUtf16;
    return TextAnsi;
}

bool DecodeTextLines(const unsigned char* bytes, size_t size, StringList& lines) {
    if (size >= UINT32_MAX - 1)
        MemoryExit();
    // No encoding yields more characters than bytes, so bytes + 1 always holds the text.
    Array<wchar_t> wide(uint32_t(size) + 1);
    wide.Data[0] = 0;
    TextEncoding encoding = DetectTextEncoding(bytes, size);
    if (encoding == TextUtf16) {
        bool bigEndian = bytes[0] == 0xFE;
        size_t count = 0;
        for (size_t i = 2; i + 1 < size; i += 2) {
            wchar_t c = bigEndian ? wchar_t((bytes[i] << 8) | bytes[i + 1])
                                  : wchar_t(bytes[i] | (bytes[i + 1] << 8));
            if (c == 0)
                return false;
            wide.Data[count++] = c;
        }
        wide.Data[count] = 0;
    } else {
        size_t skip = encoding == TextUtf8 && size >= 3 ? 3 : 0;
        uint32_t length = uint32_t(size - skip);
        if (memchr(bytes + skip, 0, length) != nullptr)
            return false;
        Array<char> narrow(length + 1);
        memcpy(narrow.Data, bytes + skip, length);
        narrow.Data[length] = 0;
        if (encoding == TextUtf8)
            Utf8ToWide(narrow.Data, wide.Data, wide.Count);
        else
            ToWide(narrow.Data, wide.Data, wide.Count);
    }
    const wchar_t* pos = wide.Data;
    while (*pos) {
        const wchar_t* start = pos;
        while (*pos && *pos != L'\r' && *pos != L'\n')
            pos++;
        const wchar_t* end = pos;
        while (end > start && IsSpaceOrTab(end[-1]))
            end--;
        if (end > start)
            lines.Add(start, end - start);
        while (*pos == L'\r' || *pos == L'\n')
            pos++;
    }
    return true;
}

bool ReadTextLines(const wchar_t* fileName, StringList& lines) {
    File file;
    return file.Open(fileName, 0) && ReadTextLines(file, lines);
}

bool ReadTextLines(File& file, StringList& lines) {
    Array<unsigned char> bytes;
    for (;;) {
        uint32_t start = bytes.Count;
        bytes.Extend(4096);
        int32_t read = file.Read(bytes.Data + start, 4096);
        bytes.Resize(start + uint32_t(read > 0 ? read : 0));
        if (read <= 0)
            break;
    }
    // A failed read looks like the end of the file; taken for it, the save at exit would write
    // the part read so far over the whole.
    if (file.ReadFailed)
        return false;
    file.Close();
    return DecodeTextLines(bytes.Data, bytes.Count, lines);
}

void LoadSettingsFile() {
    if (Store.Active || Store.Attempted)
        return;
    Store.Attempted = true;
    wchar_t path[PathCapacity];
    FindSettingsFile(path);
    if (path[0] == 0 || !FileExists(path))
        return;
    CopyText(Store.Path, path, PathCapacity);
    File file;
    OpenOutcome opened = OpenSettingsFile(file, path);
    if (opened == Vanished) {
        Store.Path[0] = 0;
        return;
    }
    // Anything less than the whole file, memory running out included, is not the user's
    // configuration: serving it would act on a part, saving it would destroy the rest.
    bool whole = false;
    DWORD error = opened == Refused ? GetLastError() : ERROR_INVALID_DATA;
    if (opened == Opened) {
        try {
            StringList lines;
            if (ReadTextLines(file, lines)) {
                while (const wchar_t* line = lines.Next())
                    ParseEntryLine(line);
                Store.Active = true;
                ApplySwitches();
                whole = true;
            } else if (file.ReadFailed) {
                error = GetLastError();
            }
        } catch (...) {
            error = ERROR_NOT_ENOUGH_MEMORY;
        }
    }
    if (!whole) {
        ReportFailure(L"read the settings file", path, error != 0 ? error : ERROR_READ_FAULT);
        Seal();
        Store.Damaged = true;
    }
}

bool IsSettingsFileDamaged() {
    return Store.Damaged;
}

void CloseSettingsFile() {
    LoadSettingsFile();
    if (!Store.Active)
        return;
    SaveSettingsFile();
    // Never written again, but still answering for the product's keys, so that none of them
    // reaches the registry; its integration switch still counts for the rest of the run.
    Store.SaveSettings = false;
    Store.Closed = true;
}

bool IsSettingsFileActive() {
    return Store.Active;
}

const wchar_t* SettingsFilePath() {
    return Store.Path;
}

const SettingsEntry* FirstSettingsEntry() {
    return Store.Head;
}

bool IsIntegrationEnabled(Reach reach) {
    LoadSettingsFile();
    return Store.Integration || (reach == Reach::PastIntegrationSwitch && !Store.Damaged);
}

namespace {
// The settings file as the registry operations see it. Each request loads the file on first use
// and is taken (served, or refused while the file is sealed) when it names the file's keys.
// Whether a request the file did not take may reach the registry is IsIntegrationEnabled's
// answer. The writes refuse with ERROR_INVALID_DATA a name or text that would not read back from
// the file as this one entry (a line break, a name without its leading letter or with "=").
class SettingsFileStore final : public RegistryStore {
  public:
    bool TestKey(HKEY root, const wchar_t* path, bool* exists) override;
    bool ReadNumber(HKEY root, const wchar_t* path, const wchar_t* name, DWORD fallback,
                    DWORD* value) override;
    bool ReadText(HKEY root, const wchar_t* path, const wchar_t* name, wchar_t* out,
                  const wchar_t* fallback, size_t capacity) override;
    bool WriteText(HKEY root, const wchar_t* path, const wchar_t* name, const wchar_t* text,
                   LONG* result) override;
    bool WriteNumber(HKEY root, const wchar_t* path, const wchar_t* name, DWORD value,
                     LONG* result) override;
    bool DeleteValue(HKEY root, const wchar_t* path, const wchar_t* name) override;
    bool DeleteKey(HKEY root, const wchar_t* path) override;
    bool LetsRequestsThrough(Reach reach) override { return IsIntegrationEnabled(reach); }
};

bool SettingsFileStore::TestKey(HKEY root, const wchar_t* path, bool* exists) {
    LoadSettingsFile();
    *exists = false;
    if (!TakenByFile(root, path))
        return false;
    wchar_t key[SettingsKeyCapacity];
    if (!ComposeSettingsKey(root, path, L"", key, SettingsKeyCapacity))
        return true;
    size_t length = wcslen(key);
    for (const SettingsEntry* entry = Store.Head; entry; entry = entry->Next)
        if (wcsncmp(entry->Name, key, length) == 0) {
            *exists = true;
            break;
        }
    return true;
}

bool SettingsFileStore::ReadNumber(HKEY root, const wchar_t* path, const wchar_t* name,
                                   DWORD fallback, DWORD* value) {
    LoadSettingsFile();
    *value = fallback;
    if (!TakenByFile(root, path))
        return false;
    wchar_t key[SettingsKeyCapacity];
    if (ComposeSettingsKey(root, path, name, key, SettingsKeyCapacity))
        *value = ::ReadNumber(key, fallback); // the entry's number, not this method
    return true;
}

bool SettingsFileStore::ReadText(HKEY root, const wchar_t* path, const wchar_t* name, wchar_t* out,
                                 const wchar_t* fallback, size_t capacity) {
    LoadSettingsFile();
    if (!TakenByFile(root, path))
        return false;
    wchar_t key[SettingsKeyCapacity];
    const SettingsEntry* entry =
        ComposeSettingsKey(root, path, name, key, SettingsKeyCapacity) ? FindEntry(key) : nullptr;
    CopyText(out, entry ? entry->Value : fallback ? fallback : L"", capacity);
    return true;
}

bool SettingsFileStore::WriteText(HKEY root, const wchar_t* path, const wchar_t* name,
                                  const wchar_t* text, LONG* result) {
    LoadSettingsFile();
    *result = ERROR_SUCCESS;
    if (IsSealed()) {
        *result = ERROR_ACCESS_DENIED;
        return true;
    }
    if (!TakenByFile(root, path))
        return false;
    if (text == nullptr)
        text = L"";
    wchar_t key[SettingsKeyCapacity];
    if (!ComposeSettingsKey(root, path, name, key, SettingsKeyCapacity))
        *result = ERROR_INVALID_PARAMETER;
    else if (!ReadsBackAsOneEntry(key, text))
        *result = ERROR_INVALID_DATA;
    else
        SetEntry(key, text, SettingsText);
    return true;
}

bool SettingsFileStore::WriteNumber(HKEY root, const wchar_t* path, const wchar_t* name,
                                    DWORD value, LONG* result) {
    LoadSettingsFile();
    *result = ERROR_SUCCESS;
    if (IsSealed()) {
        *result = ERROR_ACCESS_DENIED;
        return true;
    }
    if (!TakenByFile(root, path))
        return false;
    wchar_t key[SettingsKeyCapacity];
    if (!ComposeSettingsKey(root, path, name, key, SettingsKeyCapacity))
        *result = ERROR_INVALID_PARAMETER;
    else if (!ReadsBackAsOneEntry(key, L""))
        *result = ERROR_INVALID_DATA;
    else
        ::WriteNumber(key, value);
    return true;
}

bool SettingsFileStore::DeleteValue(HKEY root, const wchar_t* path, const wchar_t* name) {
    LoadSettingsFile();
    if (!TakenByFile(root, path))
        return false;
    wchar_t key[SettingsKeyCapacity];
    if (ComposeSettingsKey(root, path, name, key, SettingsKeyCapacity))
        RemoveEntries(key, false);
    return true;
}

bool SettingsFileStore::DeleteKey(HKEY root, const wchar_t* path) {
    LoadSettingsFile();
    if (!TakenByFile(root, path))
        return false;
    wchar_t key[SettingsKeyCapacity];
    if (ComposeSettingsKey(root, path, L"", key, SettingsKeyCapacity))
        RemoveEntries(key, true);
    return true;
}

SettingsFileStore FileStore;
} // namespace

void PlugInSettingsStore() {
    PlugInRegistryStore(&FileStore);
}

bool SaveSettingsFile() {
    if (!Store.Active || !Store.SaveSettings)
        return false;
    Array<SortItem> items;
    for (const SettingsEntry* entry = Store.Head; entry; entry = entry->Next)
        items.Append(SortItem{entry, items.Count});
    SortArray(items.Data, items.Count, sizeof(SortItem), CompareSortItems);

    Array<wchar_t> text;
    for (uint32_t i = 0; i < items.Count; i++) {
        const SettingsEntry* entry = items[i].Entry;
        AppendChars(text, entry->Name);
        AppendChars(text, entry->Kind == SettingsText  ? L"=\""
                          : entry->Kind == SettingsRaw ? L"=bin:"
                                                       : L"=");
        AppendChars(text, entry->Value);
        AppendChars(text, entry->Kind == SettingsText ? L"\"\r\n" : L"\r\n");
    }

    // The new content goes to a file of its own beside the old one, which is replaced only once
    // the new one is complete: a full disk or a killed process never costs the user the file.
    wchar_t temporary[PathCapacity];
    File file;
    if (!CreateTemporaryFile(file, Store.Path, temporary, PathCapacity))
        return false;
    static const unsigned char ByteOrderMark[2] = {0xFF, 0xFE};
    bool written = file.Write(ByteOrderMark, 2);
    const uint32_t chunk = 32768; // characters per write
    for (uint32_t done = 0; written && done < text.Count; done += chunk) {
        uint32_t count = text.Count - done < chunk ? text.Count - done : chunk;
        written = file.Write(text.Data + done, count * sizeof(wchar_t));
    }
    if (!written || !file.Flush() || !file.Close()) {
        DiscardFile(file);
        return false;
    }
    if (!MoveEntry(temporary, Store.Path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        RemoveFile(temporary);
        return false;
    }
    return true;
}

void RemoveSettingsLeftovers(const wchar_t* folder) {
    wchar_t mask[PathCapacity];
    if (!JoinPath(folder, L"*", mask))
        return;
    DirScan scan;
    scan.SetMask(mask);
    ScanEntry entry;
    // By the exact name a save gives its temporary: anything else here is the user's. A link or
    // folder of that name is no file of ours either, and what a link leads to is never reached.
    while (scan.Next(&entry))
        if (!entry.IsDirectory && !entry.IsReparsePoint &&
            IsTemporaryNameOf(NamePart(entry.Name), SettingsFileName))
            RemoveFileThroughHandle(entry.Name);
}

void ReleaseSettings() {
    FreeEntries();
    Store.Active = false;
    Store.Attempted = false;
    Store.Damaged = false;
    Store.Closed = false;
    Store.Path[0] = 0;
    // Without a file nothing switches integration off.
    Store.Integration = true;
    Store.AppData = true;
    Store.SaveSettings = true;
}
