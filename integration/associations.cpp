#include "integration/associations.h"

#include <shlobj.h>

#include "common/paths.h"
#include "common/registry.h"
#include "common/text.h"
#include "common/diagnostics.h"
#include "common/system.h"
#include "integration/choices.h"
#include "integration/record.h"
#include "integration/templates.h"
#include "lang/localise.h"
#include "resources/resource.h"

namespace {

const size_t CommandCapacity = 2080;

void VolumeExtension(unsigned number, wchar_t* extension) {
    FormatText(extension, 32, L".b%02u", number);
}

// What the extension was before the archiver took it over, kept in the machine's record. False
// when the previous state cannot be kept whole (the class unreadable, the key or its "New" entry
// refused to a read, or a write of the state refused): it could never be given back, so the
// extension must not be taken now; a later run tries again. "Exist" goes last: until it is
// written the record is no record, and a run cut before it writes the whole record again.
bool SaveState(const wchar_t* extension, bool hasTemplate, Reach reach) {
    KeyContents contents = FindKeyContents(ClassesRoot(reach), extension);
    if (contents == KeyContentsUnknown)
        return false;
    // An empty key is what a take-over cut between making the key and naming the class leaves,
    // and then the record of that take-over says the key was not there: giving it back deletes
    // it. Without such a record another program made the empty key, and it stays.
    bool existed = contents == KeyFilled;
    if (contents == KeyEmpty) {
        StateRecord earlier;
        ReadResult read = ReadDone;
        RecordLookup lookup = FindRecordOf(extension, earlier, reach);
        if (lookup == RecordUnknown)
            return false;
        existed = lookup == RecordMissing || GetRecordDword(earlier, L"", L"Exist", 1, &read) != 0;
        if (read == ReadRefused)
            return false;
        // The machine's whole record of that take-over still tells the state before it. Written
        // again, a run cut after the record was started would leave no record that says so.
        if (!existed && earlier.Where.Root == HKEY_LOCAL_MACHINE)
            return true;
    }
    StateRecord record;
    if (!MachineRecordOf(extension, record, reach) || !StartRecordOf(record))
        return false;
    wchar_t previous[ClassNameCapacity];
    TextReading reading = ReadWholeText(ClassesRoot(reach), extension, L"", previous);
    if ((reading != TextRead && reading != TextMissing) ||
        SetRecordString(record, L"", L"Type", previous) != ERROR_SUCCESS)
        return false;
    if (hasTemplate && !SavePreviousTemplateEntry(extension, record, reach))
        return false;
    return SetRecordDword(record, L"", L"Exist", existed ? 1 : 0) == ERROR_SUCCESS;
}

// Whether the key holds a class value at all, empty, unreadable or refused included: only a key
// without one is free to take without saving it.
bool HasClass(const wchar_t* extension, Reach reach) {
    wchar_t className[ClassNameCapacity];
    return ReadWholeText(ClassesRoot(reach), extension, L"", className) != TextMissing;
}

bool SetClass(const wchar_t* key, const wchar_t* className, Reach reach) {
    return SetString(ClassesRoot(reach), key, L"", className) == ERROR_SUCCESS;
}

// Gives the old-style volume extensions that still name the archiver the class ".bdl" had
// before, or deletes their keys when it had none. False when one of them could not be read or
// given back: it still names the archiver, and a later run gives it back.
bool ReleaseVolumes(const wchar_t* previous, Reach reach) {
    bool released = true;
    for (unsigned n = 0; n < 100; n++) {
        wchar_t volume[32];
        VolumeExtension(n, volume);
        KeyContents contents = FindKeyContents(ClassesRoot(reach), volume);
        if (contents == KeyAbsent)
            continue;
        // Left empty by a removal cut between the class and the key: nobody's any more.
        if (contents == KeyEmpty) {
            if (previous[0] == 0)
                released = DeleteEmptyKey(ClassesRoot(reach), volume) != KeyRefused && released;
            continue;
        }
        // Earlier versions took up to .b99; a volume extension that another program owns now
        // was never the archiver's to give back.
        Ownership owner = contents == KeyFilled ? FindOwnership(volume, reach) : OwnerUnknown;
        if (owner != Owned) {
            released = released && owner == NotOwned;
            continue;
        }
        if (previous[0] != 0) {
            released = SetClass(volume, previous, reach) && released;
            continue;
        }
        // The volume had no class when it was taken: the class goes, and the key with it only
        // when nothing else is in it (it may have been another program's, with values of its
        // own).
        if (!DeleteValue(ClassesRoot(reach), volume, L"")) {
            released = false;
            continue;
        }
        KeyContents left = FindKeyContents(ClassesRoot(reach), volume);
        if (left == KeyEmpty)
            released = DeleteEmptyKey(ClassesRoot(reach), volume) != KeyRefused && released;
        else if (left == KeyContentsUnknown)
            released = false;
    }
    return released;
}

} // namespace

namespace {

// Takes the extension for the archiver's class, with the state it had saved first at the first
// take-over; the archiver's own format takes its volume extensions along. False when the
// extension was not taken.
bool TakeOver(const wchar_t* extension, Ownership owner, ArchiveKind kind, Reach reach) {
    // A second apply must not overwrite what was saved at the first take-over; what an earlier
    // version saved for its own user only becomes the machine's.
    if (owner == Owned)
        MoveUserRecordToMachine(extension, reach);
    else if (!SaveState(extension, kind != ArchiveKind::Other, reach))
        return false;
    bool taken = SetClass(extension, kind == ArchiveKind::Zip ? L"Bundlo.ZIP" : L"Bundlo", reach);
    if (kind == ArchiveKind::OwnFormat) {
        for (unsigned n = 0; n < 30; n++) {
            wchar_t volume[32];
            VolumeExtension(n, volume);
            // No state is saved for volume extensions, so one that another program owns stays
            // with it rather than being lost for good.
            if (!IsOwnedExtension(volume, reach) && HasClass(volume, reach))
                continue;
            SetClass(volume, L"Bundlo", reach);
        }
    }
    return taken;
}

// An extension the archiver owns with no record anywhere (the record lost with a user's hive, say):
// only the archiver's class and "New" entry go, since what was there before is unknown.
bool ReleaseUnrecorded(const wchar_t* extension, ArchiveKind kind, Reach reach) {
    ReportFailure(L"give back without a saved previous owner", extension, ERROR_NOT_FOUND);
    if (kind != ArchiveKind::Other && !RemoveOwnTemplateEntry(extension, kind, reach))
        return false;
    return DeleteValue(ClassesRoot(reach), extension, L"");
}

// Gives back what the record saved: the "New" entry alone while the extension stays associated,
// else the class too (or the whole key, when the extension had none before).
bool GiveBack(const wchar_t* extension, Ownership owner, bool associate, ArchiveKind kind,
              Reach reach) {
    bool hasTemplate = kind != ArchiveKind::Other;
    StateRecord record;
    RecordLookup lookup = FindRecordOf(extension, record, reach);
    // Giving back what could not be read would give back the wrong thing, for good.
    if (lookup == RecordUnknown)
        return false;
    ReadResult existRead = ReadDone, typeRead = ReadDone;
    bool existed = true;
    wchar_t previous[ClassNameCapacity] = L"";
    if (lookup == RecordFound) {
        existed = GetRecordDword(record, L"", L"Exist", 1, &existRead) != 0;
        GetRecordString(record, L"", L"Type", previous, L"", ClassNameCapacity, &typeRead);
        if (existRead == ReadRefused || typeRead == ReadRefused)
            return false;
    }
    if (IsOwnClassName(previous))
        previous[0] = 0;
    bool released = true;
    // The volume extensions follow the archiver's own format, even when another program has
    // taken ".bdl" since: left naming the archiver's class, they would point at nothing once
    // the class is removed.
    if (!associate && kind == ArchiveKind::OwnFormat)
        released = ReleaseVolumes(existed ? previous : L"", reach);

    // Only what still points to the archiver is given back; its class goes last, so that while
    // any step before fails, a later run still finds the extension the archiver's and finishes.
    // An extension another program took since keeps its class, but not the archiver's "New"
    // entry, which would offer a template that is gone.
    if (owner != Owned && !associate) {
        if (hasTemplate && !RemoveOwnTemplateEntry(extension, kind, reach))
            return false;
        // A key that had none before and is empty now is what a take-over cut before naming the
        // class left, or a give-back cut before deleting the key.
        if (lookup == RecordFound && !existed &&
            FindKeyContents(ClassesRoot(reach), extension) == KeyEmpty)
            return DeleteEmptyKey(ClassesRoot(reach), extension) != KeyRefused && released;
        return released;
    }
    if (lookup == RecordMissing && !associate)
        return ReleaseUnrecorded(extension, kind, reach) && released;
    if (hasTemplate && !RestoreTemplateEntry(extension, kind, existed, record, reach))
        return false;
    if (associate)
        return true;
    if (existed)
        return SetClass(extension, previous, reach) && released;
    // Everything under an extension that had no key before is the archiver's, unless another
    // program added a sub-key since: then only the class goes.
    switch (DeleteEmptyKey(ClassesRoot(reach), extension)) {
    case KeyGone:
        return released;
    case KeyHasSubKeys:
        return SetClass(extension, L"", reach) && released;
    default:
        return false;
    }
}

} // namespace

bool AssociateExtension(const wchar_t* extension, uint32_t request, ArchiveKind kind, Reach reach) {
    PrepareTemplateImages();
    bool associate = (request & TakeExtension) != 0;
    bool hasTemplate = kind != ArchiveKind::Other;
    // An extension whose class cannot be read may be the archiver's (with its state saved at
    // the first take-over) or another program's: either way it is left as it is.
    Ownership owner = FindOwnership(extension, reach);
    if (owner == OwnerUnknown)
        return false;
    // Not taken, the extension's "New" entry is still the one the state saved: replaced now,
    // the next take-over would save the archiver's own entry as the previous one.
    if (associate && !TakeOver(extension, owner, kind, reach))
        return false;
    bool wantTemplate = hasTemplate && WantTemplate((request & WithShellExtension) != 0, kind) &&
                        MayReplaceTemplateEntry(extension, reach);
    if (associate && wantTemplate)
        CreateTemplateEntry(extension, kind, reach);
    if (associate && (wantTemplate || !hasTemplate))
        return true;
    return GiveBack(extension, owner, associate, kind, reach);
}

bool AssociateAllTypes(const IntegrationSettings& settings, Reach reach) {
    bool done = true;
    for (size_t row = 0; row < ArchiveTypeCount; row++) {
        for (const wchar_t* group = ArchiveTypeTable[row].Group; group != nullptr;) {
            wchar_t extension[ExtensionCapacity];
            group = SplitExtension(group, extension, ExtensionCapacity);
            uint32_t request = settings.associate[row] ? TakeExtension : GiveBackExtension;
            if (settings.shellExtension)
                request |= WithShellExtension;
            if (!AssociateExtension(extension, request, ArchiveKindOfRow(row), reach)) {
                ReportFailure((request & TakeExtension) ? L"take the file type"
                                                        : L"give back the file type",
                              extension, ERROR_CAN_NOT_COMPLETE);
                done = false;
            }
        }
    }
    return done;
}

bool ReleaseRetiredExtensions(Reach reach) {
    // Earlier versions took ".ace" over; this one no longer handles it and gives it back.
    if (AssociateExtension(L".ace", GiveBackExtension, ArchiveKind::Other, reach))
        return true;
    ReportFailure(L"give back the file type", L".ace", ERROR_CAN_NOT_COMPLETE);
    return false;
}

bool RevBelongsToArchiver(Reach reach) {
    // A class that cannot be read whole, too long or not text, may well be another program's.
    wchar_t className[ClassNameCapacity];
    switch (ReadWholeText(ClassesRoot(reach), L".rev", L"", className)) {
    case TextMissing:
        return true;
    case TextRead:
        return className[0] == 0 || CompareNoCase(className, L"Bundlo.REV") == 0;
    default:
        return false; // unreadable or refused
    }
}

void ReleaseRev(Reach reach) {
    if (!RevBelongsToArchiver(reach))
        return;
    // Another program's values or sub-keys under it (an OpenWithProgids list) stay with it, and
    // the key keeps an empty class, as every extension that had none does once the archiver had
    // it.
    RegistryValue value;
    ValueReading second = ReadValueAt(ClassesRoot(reach), L".rev", 1, &value);
    ValueReading first = ReadValueAt(ClassesRoot(reach), L".rev", 0, &value);
    bool onlyClass = second == NoMoreValues &&
                     (first == NoMoreValues || (first != ValueUnreadable && value.Name[0] == 0));
    if (!onlyClass || DeleteEmptyKey(ClassesRoot(reach), L".rev") == KeyHasSubKeys)
        SetClass(L".rev", L"", reach);
}

bool WriteClassKeys() {
    // Only the setup writes the classes, as the settings say.
    const Reach reach = Reach::AsSettingsSay;
    wchar_t archiver[PathCapacity];
    // Classes whose commands name no archiver would start nothing, or another program.
    if (!GetProgramFile(L"Bundlo.exe", archiver))
        return true;
    wchar_t command[CommandCapacity];
    FormatText(command, L"\"%s\" \"%%1\"", archiver);
    wchar_t archiveIcon[CommandCapacity];
    FormatText(archiveIcon, L"%s,0", archiver);
    wchar_t recoveryIcon[CommandCapacity];
    FormatText(recoveryIcon, L"%s,1", archiver);

    if (SetString(ClassesRoot(reach), L"Bundlo", L"", LoadText(IDS_BUNDLOARC)) ==
        ERROR_ACCESS_DENIED)
        return false;
    struct ClassKeys {
        const wchar_t* Name;
        unsigned Description;
        const wchar_t* Icon;
    };
    const ClassKeys classes[] = {
        {L"Bundlo", 0, archiveIcon},
        {L"Bundlo.ZIP", IDS_BUNDLOZIPARC, archiveIcon},
        {L"Bundlo.REV", IDS_BDLRECVOL, recoveryIcon},
    };
    for (const ClassKeys& c : classes) {
        // ".rev" is taken only while it names no other program: it has no saved state.
        if (c.Description == IDS_BDLRECVOL && RevBelongsToArchiver(reach))
            SetClass(L".rev", L"Bundlo.REV", reach);
        if (c.Description != 0)
            SetString(ClassesRoot(reach), c.Name, L"", LoadText(c.Description));
        wchar_t key[64];
        FormatText(key, L"%s\\shell\\open\\command", c.Name);
        SetString(ClassesRoot(reach), key, L"", command);
        // An icon someone chose for the class stays.
        FormatText(key, L"%s\\DefaultIcon", c.Name);
        wchar_t icon[PathCapacity];
        ReadResult read = ReadDone;
        GetString(ClassesRoot(reach), key, L"", icon, L"", &read);
        if (icon[0] == 0 && read != ReadRefused)
            SetString(ClassesRoot(reach), key, L"", c.Icon);
    }
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
    return true;
}
