// The record of what the setup replaced (per extension: whether its key existed, its previous
// class, its previous "New" entry) and of the installation it belongs to. It is machine state:
// HKEY_LOCAL_MACHINE\Software\Bundlo\Setup in the 64-bit view (the one view of 32-bit Windows),
// where every administrator, SYSTEM and either build find the same record, reached by absolute
// paths so that no settings file ever serves or drops it. Earlier versions kept it under the
// installing user's HKEY_CURRENT_USER\Software\Bundlo\Setup; that place is still read.
#pragma once
#include <windows.h>
#include <stddef.h>

#include "common/registry.h"

const size_t RecordKeyCapacity = 128;

// One record key: its root, with the view it lives in and the reach of the run that found it,
// and its absolute path.
struct StateRecord {
    RegistryRoot Where = RegistryRoot(nullptr);
    wchar_t Key[RecordKeyCapacity] = L"";
};

// The machine's record of the extension, where the setup writes. False when the key does not
// fit: a cut key would be another extension's.
bool MachineRecordOf(const wchar_t* extension, StateRecord& record,
                     Reach reach = Reach::AsSettingsSay);
// Where the extension's record is read: the machine's when it has one, else the per-user one of
// an earlier version. RecordUnknown when the registry refused to say: nothing may be given back
// on a guess then.
enum RecordLookup { RecordFound, RecordMissing, RecordUnknown };
RecordLookup FindRecordOf(const wchar_t* extension, StateRecord& record,
                          Reach reach = Reach::AsSettingsSay);
// A record kept by an earlier version is copied into the machine's place, so that the removal
// finds it whoever runs it. False when it could not be read or written whole.
bool MoveUserRecordToMachine(const wchar_t* extension, Reach reach = Reach::AsSettingsSay);

// Makes the machine's record of an extension partial before it is written anew: its "Exist",
// written last, marks a whole record, so that a run cut while writing leaves no mix of the old
// record and the new one. False when refused.
bool StartRecordOf(const StateRecord& record);

// The registry operations on a record key, with a sub-key path after it (or "").
KeyPresence FindRecordKey(const StateRecord& record, const wchar_t* sub);
DWORD GetRecordDword(const StateRecord& record, const wchar_t* sub, const wchar_t* name,
                     DWORD fallback, ReadResult* result = nullptr);
bool GetRecordString(const StateRecord& record, const wchar_t* sub, const wchar_t* name,
                     wchar_t* out, const wchar_t* fallback, size_t capacity,
                     ReadResult* result = nullptr);
LONG SetRecordString(const StateRecord& record, const wchar_t* sub, const wchar_t* name,
                     const wchar_t* text);
LONG SetRecordDword(const StateRecord& record, const wchar_t* sub, const wchar_t* name,
                    DWORD value);
void DeleteRecordTree(const StateRecord& record, const wchar_t* sub);

// Which installation the machine's record belongs to, as the removal must know before it touches
// anything: this copy's (the recorded folder is this copy's program folder, known by the file
// system's identity however either is spelled: a short name, a junction, another drive letter),
// another copy's, or none (a machine set up by an earlier version, or never). A recorded folder
// that is gone or cannot be opened is not provably this copy's, and counts as another copy's.
// RecordRefused when the registry refused the read: the record may name this copy or another, and
// nothing may be acted on by it. Read past a settings file's integration switch: the record is
// machine state, which no settings file names.
enum InstallationRecord {
    RecordOfThisCopy,
    RecordOfAnotherCopy,
    NoInstallationRecord,
    RecordRefused
};
InstallationRecord FindInstallationRecord();
// Whether `path` names an entry directly in `folder`: the folder part of the path and `folder` are
// the same folder by the file system's identity, however each is spelled. The entry itself need
// not exist any more (the removal may have deleted it). False for a path that is not a full one,
// and when either folder cannot be opened: nothing is taken for this copy's on a guess.
bool LiesIn(const wchar_t* path, const wchar_t* folder);
// Names this copy's folder as the installation the record belongs to. False when refused.
bool RecordInstallation();
// Deletes the machine's record and the per-user one of earlier versions: only once every
// extension has been given back.
void DeleteRecords(Reach reach);
// The view the machine's record lives in, which the product key of that view shares.
REGSAM RecordView();
