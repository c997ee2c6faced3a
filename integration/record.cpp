#include "integration/record.h"

#include <wchar.h>

#include "common/diagnostics.h"
#include "common/files.h"
#include "common/paths.h"
#include "common/settings.h"
#include "common/text.h"
#include "common/system.h"

namespace {

const wchar_t MachineRecordRoot[] = L"\\Software\\Bundlo\\Setup";
const wchar_t UserRecordRoot[] = L"\\Software\\Bundlo\\Setup";
const wchar_t FolderValue[] = L"Folder";
// Below an extension's record: the values of its previous "New" entry.
const wchar_t PreviousEntrySub[] = L"\\PreviousShellNew";

bool Compose(const StateRecord& record, const wchar_t* sub, wchar_t (&path)[RecordKeyCapacity]) {
    return FormatText(path, L"%s%s", record.Key, sub ? sub : L"") >= 0;
}

bool RecordOf(const RegistryRoot& root, const wchar_t* base, const wchar_t* extension,
              StateRecord& record) {
    record.Where = root;
    // An extension is one name: a backslash in it would reach another extension's record.
    return extension[0] == L'.' && wcschr(extension, L'\\') == nullptr &&
           FormatText(record.Key, L"%s\\%s", base, extension) >= 0;
}

// A record is whole once its "Exist" is written, which every writer puts last, and when it
// has its "Type" (earlier versions wrote "Exist" first). Anything less is what a run cut while
// writing it left: it is no previous owner at all, least of all one of "" (a blank class, an
// empty "New" entry), and is treated as absent and written again. The per-user key also holds
// the user's choice for the type ("Set"), which is no record.
RecordLookup Holds(const StateRecord& record) {
    ReadResult exist = ReadMissing, type = ReadMissing;
    GetRecordDword(record, L"", L"Exist", 0, &exist);
    wchar_t text[4];
    GetRecordString(record, L"", L"Type", text, L"", 4, &type);
    if (exist == ReadRefused || type == ReadRefused)
        return RecordUnknown;
    return exist == ReadMissing || type == ReadMissing ? RecordMissing : RecordFound;
}

// Every value of one key of a record, copied whole, but the one named `last`, which is left to
// the caller.
bool CopyValues(const StateRecord& from, const StateRecord& to, const wchar_t* sub,
                const wchar_t* last) {
    wchar_t source[RecordKeyCapacity];
    if (!Compose(from, sub, source))
        return false;
    for (DWORD index = 0;; index++) {
        RegistryValue value;
        ValueReading reading;
        reading = ReadValueAt(from.Where, source, index, &value);
        if (reading == NoMoreValues)
            return true;
        if (reading != ValueRead)
            return false;
        if (CompareNoCase(value.Name, L"Set") == 0 || CompareNoCase(value.Name, last) == 0)
            continue; // the user's choice, not the record; or the completion, written last
        wchar_t target[RecordKeyCapacity];
        if (!Compose(to, sub, target))
            return false;
        if (SetTypedValue(to.Where, target, value) != ERROR_SUCCESS)
            return false;
    }
}

} // namespace

REGSAM RecordView() {
    return ProgramRegistryView(true);
}

bool MachineRecordOf(const wchar_t* extension, StateRecord& record, Reach reach) {
    return RecordOf(InView(HKEY_LOCAL_MACHINE, RecordView(), reach), MachineRecordRoot, extension,
                    record);
}

RecordLookup FindRecordOf(const wchar_t* extension, StateRecord& record, Reach reach) {
    StateRecord user;
    if (!MachineRecordOf(extension, record, reach) ||
        !RecordOf(InView(HKEY_CURRENT_USER, 0, reach), UserRecordRoot, extension, user))
        return RecordUnknown;
    RecordLookup machine = Holds(record);
    if (machine != RecordMissing)
        return machine;
    record = user;
    return Holds(user);
}

bool MoveUserRecordToMachine(const wchar_t* extension, Reach reach) {
    StateRecord machine, user;
    if (!MachineRecordOf(extension, machine, reach) ||
        !RecordOf(InView(HKEY_CURRENT_USER, 0, reach), UserRecordRoot, extension, user))
        return false;
    if (Holds(machine) != RecordMissing || Holds(user) != RecordFound)
        return true; // nothing to move, or nothing that can be read
    // What a cut copy left goes first; "Exist" comes last, and with it the machine's record
    // becomes the one read. Until then the per-user one still is.
    DeleteRecordTree(machine, L"");
    ReadResult read = ReadDone;
    DWORD existed = GetRecordDword(user, L"", L"Exist", 1, &read);
    if (read == ReadDone && CopyValues(user, machine, L"", L"Exist") &&
        CopyValues(user, machine, PreviousEntrySub, L"") &&
        SetRecordDword(machine, L"", L"Exist", existed) == ERROR_SUCCESS)
        return true;
    DeleteRecordTree(machine, L"");
    ReportFailure(L"copy the saved state of an earlier version", user.Key, ERROR_CAN_NOT_COMPLETE);
    return false;
}

bool StartRecordOf(const StateRecord& record) {
    wchar_t path[RecordKeyCapacity];
    return Compose(record, L"", path) && DeleteValue(record.Where, path, L"Exist");
}

KeyPresence FindRecordKey(const StateRecord& record, const wchar_t* sub) {
    wchar_t path[RecordKeyCapacity];
    if (!Compose(record, sub, path))
        return KeyUnknown;
    return FindKey(record.Where, path);
}

DWORD GetRecordDword(const StateRecord& record, const wchar_t* sub, const wchar_t* name,
                     DWORD fallback, ReadResult* result) {
    wchar_t path[RecordKeyCapacity];
    if (!Compose(record, sub, path)) {
        if (result)
            *result = ReadRefused;
        return fallback;
    }
    return GetDword(record.Where, path, name, fallback, result);
}

bool GetRecordString(const StateRecord& record, const wchar_t* sub, const wchar_t* name,
                     wchar_t* out, const wchar_t* fallback, size_t capacity, ReadResult* result) {
    wchar_t path[RecordKeyCapacity];
    if (!Compose(record, sub, path)) {
        CopyText(out, fallback, capacity);
        if (result)
            *result = ReadRefused;
        return false;
    }
    return GetString(record.Where, path, name, out, fallback, capacity, result);
}

LONG SetRecordString(const StateRecord& record, const wchar_t* sub, const wchar_t* name,
                     const wchar_t* text) {
    wchar_t path[RecordKeyCapacity];
    if (!Compose(record, sub, path))
        return ERROR_FILENAME_EXCED_RANGE;
    return SetString(record.Where, path, name, text);
}

LONG SetRecordDword(const StateRecord& record, const wchar_t* sub, const wchar_t* name,
                    DWORD value) {
    wchar_t path[RecordKeyCapacity];
    if (!Compose(record, sub, path))
        return ERROR_FILENAME_EXCED_RANGE;
    return SetDword(record.Where, path, name, value);
}

void DeleteRecordTree(const StateRecord& record, const wchar_t* sub) {
    wchar_t path[RecordKeyCapacity];
    if (!Compose(record, sub, path))
        return;
    DeleteKeyTree(record.Where, path);
}

InstallationRecord FindInstallationRecord() {
    wchar_t recorded[PathCapacity];
    ReadResult read = ReadDone;
    GetString(InView(HKEY_LOCAL_MACHINE, RecordView(), Reach::PastIntegrationSwitch),
              MachineRecordRoot, FolderValue, recorded, L"", &read);
    if (read == ReadMissing || (read == ReadDone && recorded[0] == 0))
        return NoInstallationRecord;
    if (read == ReadRefused)
        return RecordRefused;
    wchar_t folder[PathCapacity];
    GetProgramPath(folder);
    CutNamePart(folder);
    // A record that cannot be read whole is nobody's to act on.
    if (read != ReadDone || folder[0] == 0)
        return RecordOfAnotherCopy;
    // By identity: the same folder reached through another spelling is this installation, and a
    // text that names nothing (the folder is gone) is nobody's to undo from here.
    return SameEntry(recorded, folder) ? RecordOfThisCopy : RecordOfAnotherCopy;
}

bool LiesIn(const wchar_t* path, const wchar_t* folder) {
    wchar_t container[PathCapacity];
    if (!IsFullPath(path) || !CopyPath(path, container))
        return false;
    // The folder part with its final separator, as the path spells it.
    *NamePart(container) = 0;
    return container[0] != 0 && SameEntry(container, folder);
}

bool RecordInstallation() {
    wchar_t folder[PathCapacity];
    GetProgramPath(folder);
    CutNamePart(folder);
    if (folder[0] == 0)
        return false;
    return SetString(InView(HKEY_LOCAL_MACHINE, RecordView()), MachineRecordRoot, FolderValue,
                     folder) == ERROR_SUCCESS;
}

void DeleteRecords(Reach reach) {
    DeleteKeyTree(InView(HKEY_LOCAL_MACHINE, RecordView(), reach), MachineRecordRoot);
    DeleteKeyTree(InView(HKEY_CURRENT_USER, 0, reach), UserRecordRoot);
}
