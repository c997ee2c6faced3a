#include "integration/templates.h"

#include <stdlib.h>
#include <wchar.h>

#include "common/file.h"
#include "common/files.h"
#include "common/paths.h"
#include "common/registry.h"
#include "common/text.h"
#include "common/system.h"
#include "integration/choices.h"
#include "integration/record.h"

// An empty archive of the archiver's own format: signature, main header, end-of-archive header,
// each header behind the CRC32 of its four bytes.
unsigned char OwnFormatTemplate[24] = {
    0x00, 'd',  'l',  '!',  0x1A, 0x07, 0x01, 0x00, 0xC1, 0xDF, 0x5F, 0x56,
    0x03, 0x01, 0x04, 0x00, 0x1D, 0x77, 0x56, 0x51, 0x03, 0x05, 0x04, 0x00,
};
// The end-of-central-directory record of an empty ZIP archive.
unsigned char ZipTemplate[22] = {0x00, 0x4B, 0x05, 0x06};

namespace {

// How the entry that was there before the take-over is kept, in "ShellNewSaved" under the
// extension's saved-state key. Without the value the state comes from an earlier version, which
// kept only "FileName" or "NullFile" in the text "ShellNew".
enum PreviousEntry : DWORD {
    NoPreviousEntry = 0,       // the extension had no "ShellNew" key
    PreviousEntryKept = 1,     // every value is kept under PreviousEntryKey
    PreviousEntryTooLarge = 2, // it could not be kept whole, so the archiver leaves it alone
    PreviousEntryOldState = 0xFFFFFFFF,
};
const wchar_t SavedMarker[] = L"ShellNewSaved";
const wchar_t PreviousEntryKey[] = L"\\PreviousShellNew"; // below the record's key
const size_t SavedValueLimit = 32;
// "<type>:<name as hex>:<data as hex>": hexadecimal keeps any name and bytes intact through the
// registry and the settings file alike.
const size_t SavedValueCapacity =
    12 + 4 * RegistryValueNameCapacity + 2 * RegistryValueDataCapacity;

void TemplateKeyOf(const wchar_t* extension, wchar_t (&key)[TemplateKeyCapacity]) {
    FormatText(key, L"%s\\ShellNew", extension);
}

// False when the program's path is unknown or does not fit: no template can be named then.
bool TemplatePathOf(ArchiveKind kind, wchar_t (&path)[PathCapacity]) {
    return GetProgramFile(kind == ArchiveKind::OwnFormat ? L"bdlnew.dat" : L"zipnew.dat", path);
}

bool EncodeValue(const RegistryValue& value, wchar_t* text) {
    int head = FormatText(text, SavedValueCapacity, L"%lu:", value.Type);
    size_t nameBytes = wcslen(value.Name) * sizeof(wchar_t);
    if (head < 0 || !BytesToHex(reinterpret_cast<const unsigned char*>(value.Name), nameBytes,
                                text + head, SavedValueCapacity - head))
        return false;
    size_t used = wcslen(text);
    if (used + 2 > SavedValueCapacity)
        return false;
    text[used++] = L':';
    return BytesToHex(value.Data, value.Size, text + used, SavedValueCapacity - used);
}

bool DecodeValue(const wchar_t* text, RegistryValue* value) {
    const wchar_t* name = wcschr(text, L':');
    const wchar_t* data = name ? wcschr(name + 1, L':') : nullptr;
    if (!data || name == text)
        return false;
    value->Type = DWORD(wcstoul(text, nullptr, 10));
    size_t nameBytes = 0, dataBytes = 0;
    unsigned char* nameOut = reinterpret_cast<unsigned char*>(value->Name);
    if (!HexToBytes(name + 1, size_t(data - name - 1), nameOut,
                    (RegistryValueNameCapacity - 1) * sizeof(wchar_t), &nameBytes) ||
        nameBytes % sizeof(wchar_t) != 0 ||
        !HexToBytes(data + 1, wcslen(data + 1), value->Data, RegistryValueDataCapacity, &dataBytes))
        return false;
    value->Name[nameBytes / sizeof(wchar_t)] = 0;
    value->Size = DWORD(dataBytes);
    return true;
}

// Whether the key's "FileName" is the one the archiver writes: only that value is its to take.
// Refused, nobody knows: `refused` says so.
bool HoldsOwnTemplate(const wchar_t* key, ArchiveKind kind, bool* refused, Reach reach) {
    wchar_t own[PathCapacity];
    *refused = false;
    // A template the archiver cannot name is none it wrote.
    if (!TemplatePathOf(kind, own))
        return false;
    wchar_t fileName[TemplateKeyCapacity];
    ReadResult read = ReadDone;
    bool found = GetString(ClassesRoot(reach), key, L"FileName", fileName, L"", &read);
    *refused = read == ReadRefused;
    return found && CompareNoCase(fileName, own) == 0;
}

// The key's values as far as they can be told: none, some, or unknown (refused).
enum ValuesPresent { NoValues, SomeValues, ValuesUnknown };
ValuesPresent FindValues(const wchar_t* key, Reach reach) {
    RegistryValue value;
    switch (ReadValueAt(ClassesRoot(reach), key, 0, &value)) {
    case NoMoreValues:
        return NoValues;
    case ValueUnreadable:
        return ValuesUnknown;
    default:
        return SomeValues;
    }
}

// False when a saved value could not be read or written back.
bool GiveBackSavedValues(const wchar_t* key, const StateRecord& record, Reach reach) {
    for (DWORD i = 0; i < SavedValueLimit; i++) {
        wchar_t name[16];
        FormatText(name, L"%lu", i);
        wchar_t text[SavedValueCapacity];
        ReadResult read = ReadDone;
        bool found =
            GetRecordString(record, PreviousEntryKey, name, text, L"", SavedValueCapacity, &read);
        if (read == ReadRefused)
            return false;
        if (!found || text[0] == 0)
            break;
        RegistryValue value;
        if (DecodeValue(text, &value) &&
            SetTypedValue(ClassesRoot(reach), key, value) != ERROR_SUCCESS)
            return false;
    }
    return true;
}

// A key left without values would still offer the type in Explorer's New menu; one that holds
// values (another program's, written since) stays.
bool DropIfValueless(const wchar_t* key, Reach reach) {
    switch (FindValues(key, reach)) {
    case NoValues:
        return DeleteEmptyKey(ClassesRoot(reach), key) != KeyRefused;
    case SomeValues:
        return true;
    default:
        return false;
    }
}

} // namespace

bool SavePreviousTemplateEntry(const wchar_t* extension, const StateRecord& record, Reach reach) {
    wchar_t key[TemplateKeyCapacity];
    TemplateKeyOf(extension, key);
    // The form earlier versions read back, kept for them.
    wchar_t fileName[TemplateKeyCapacity];
    ReadResult fileNameRead = ReadDone, nullFileRead = ReadDone;
    GetString(ClassesRoot(reach), key, L"FileName", fileName, L"", &fileNameRead);
    wchar_t nullFile[10];
    bool hasNullFile =
        GetString(ClassesRoot(reach), key, L"NullFile", nullFile, L"", &nullFileRead);
    if (fileNameRead == ReadRefused || nullFileRead == ReadRefused)
        return false;
    if (SetRecordString(record, L"", L"ShellNew",
                        fileName[0] == 0 && hasNullFile ? L"*" : fileName) != ERROR_SUCCESS)
        return false;

    DeleteRecordTree(record, PreviousEntryKey);
    KeyPresence presence = FindKey(ClassesRoot(reach), key);
    if (presence == KeyUnknown)
        return false;
    if (presence == KeyMissing)
        return SetRecordDword(record, L"", SavedMarker, NoPreviousEntry) == ERROR_SUCCESS;
    PreviousEntry outcome = PreviousEntryKept;
    for (DWORD i = 0;; i++) {
        RegistryValue value;
        ValueReading reading = ReadValueAt(ClassesRoot(reach), key, i, &value);
        if (reading == NoMoreValues)
            break;
        if (reading == ValueUnreadable)
            return false;
        wchar_t text[SavedValueCapacity];
        wchar_t name[16];
        FormatText(name, L"%lu", i);
        if (reading == ValueTooLarge || i >= SavedValueLimit || !EncodeValue(value, text)) {
            outcome = PreviousEntryTooLarge;
            break;
        }
        if (SetRecordString(record, PreviousEntryKey, name, text) != ERROR_SUCCESS)
            return false;
    }
    return SetRecordDword(record, L"", SavedMarker, outcome) == ERROR_SUCCESS;
}

bool MayReplaceTemplateEntry(const wchar_t* extension, Reach reach) {
    StateRecord record;
    RecordLookup lookup = FindRecordOf(extension, record, reach);
    if (lookup == RecordUnknown)
        return false;
    if (lookup == RecordMissing)
        return true;
    ReadResult read = ReadDone;
    return GetRecordDword(record, L"", SavedMarker, PreviousEntryOldState, &read) !=
               PreviousEntryTooLarge &&
           read != ReadRefused;
}
void PrepareTemplateImages() {
    OwnFormatTemplate[0] = 'B';
    ZipTemplate[0] = 'P';
}

bool WantTemplate(bool shellExtension, ArchiveKind kind) {
    if (!shellExtension)
        return false;
    if (kind == ArchiveKind::OwnFormat && GetUserDword(L"Setup\\MenuItems", L"NewBDL", 1) == 0)
        return false;
    if (kind == ArchiveKind::Zip && GetUserDword(L"Setup\\MenuItems", L"NewZIP", 1) == 0)
        return false;
    return true;
}

void CreateTemplateEntry(const wchar_t* extension, ArchiveKind kind, Reach reach) {
    wchar_t path[PathCapacity];
    if (!TemplatePathOf(kind, path))
        return;
    wchar_t key[TemplateKeyCapacity];
    TemplateKeyOf(extension, key);
    DeleteEmptyKey(ClassesRoot(reach), key);

    bool isOwnFormat = kind == ArchiveKind::OwnFormat;
    const unsigned char* bytes = isOwnFormat ? OwnFormatTemplate : ZipTemplate;
    size_t size = isOwnFormat ? sizeof OwnFormatTemplate : sizeof ZipTemplate;
    ScanEntry entry;
    ZeroBuffer(&entry, sizeof entry);
    if (!GetEntryInfo(path, &entry) || entry.Size != size) {
        // A template cut short by a failed write is deleted as the File goes, since it was
        // never closed; one that could not be created at all is left as it is.
        File file;
        if (file.Create(path, 0) && file.Write(bytes, uint32_t(size)))
            file.Close();
    }
    SetString(ClassesRoot(reach), key, L"FileName", path);
}

bool RemoveOwnTemplateEntry(const wchar_t* extension, ArchiveKind kind, Reach reach) {
    wchar_t key[TemplateKeyCapacity];
    TemplateKeyOf(extension, key);
    bool refused = false;
    if (HoldsOwnTemplate(key, kind, &refused, reach))
        return DeleteValue(ClassesRoot(reach), key, L"FileName") && DropIfValueless(key, reach);
    if (refused)
        return false;
    // A "New" key with nothing in it is what a run cut between deleting the archiver's
    // "FileName" and its key left, but only where the record says there was none before the
    // archiver's: another program's empty key, or one nobody recorded, stays.
    if (FindKeyContents(ClassesRoot(reach), key) != KeyEmpty)
        return true;
    StateRecord record;
    ReadResult existRead = ReadDone, savedRead = ReadDone;
    RecordLookup lookup = FindRecordOf(extension, record, reach);
    if (lookup == RecordUnknown)
        return false;
    if (lookup == RecordMissing)
        return true;
    bool existed = GetRecordDword(record, L"", L"Exist", 1, &existRead) != 0;
    DWORD saved = GetRecordDword(record, L"", SavedMarker, PreviousEntryOldState, &savedRead);
    if (existRead == ReadRefused || savedRead == ReadRefused)
        return false;
    if (existed && saved != NoPreviousEntry)
        return true;
    return DeleteEmptyKey(ClassesRoot(reach), key) != KeyRefused;
}

bool RestoreTemplateEntry(const wchar_t* extension, ArchiveKind kind, bool existed,
                          const StateRecord& record, Reach reach) {
    wchar_t key[TemplateKeyCapacity];
    TemplateKeyOf(extension, key);
    if (!existed) {
        // Everything under an extension that had no key before is the archiver's.
        return DeleteEmptyKey(ClassesRoot(reach), key) != KeyRefused;
    }
    ReadResult read = ReadDone;
    DWORD saved = GetRecordDword(record, L"", SavedMarker, PreviousEntryOldState, &read);
    if (read == ReadRefused)
        return false;
    if (saved == PreviousEntryTooLarge)
        return true; // the archiver never replaced it
    bool refused = false;
    if (HoldsOwnTemplate(key, kind, &refused, reach) &&
        !DeleteValue(ClassesRoot(reach), key, L"FileName"))
        return false;
    if (refused)
        return false;
    if (saved == PreviousEntryKept)
        return GiveBackSavedValues(key, record, reach);
    if (saved == PreviousEntryOldState) {
        wchar_t text[TemplateKeyCapacity];
        GetRecordString(record, L"", L"ShellNew", text, L"", TemplateKeyCapacity, &read);
        if (read == ReadRefused)
            return false;
        if (text[0] == L'*' &&
            SetString(ClassesRoot(reach), key, L"NullFile", L"") != ERROR_SUCCESS)
            return false;
        if (text[0] != L'*' && text[0] != 0 &&
            SetString(ClassesRoot(reach), key, L"FileName", text) != ERROR_SUCCESS)
            return false;
    }
    return DropIfValueless(key, reach);
}
