#include "integration/associations.h"

#include <shlobj.h>

#include "common/paths.h"
#include "common/registry.h"
#include "common/text.h"
#include "integration/templates.h"
#include "lang/localise.h"
#include "resources/resource.h"

namespace {

const size_t ClassCapacity = 512;
const size_t StateKeyCapacity = 80;
const size_t CommandCapacity = 2080;

void VolumeExtension(unsigned number, wchar_t* extension) {
    FormatText(extension, 32, L".b%02u", number);
}

// What the extension was before the archiver took it over, kept under its "Setup" key. False
// when the previous class cannot be kept whole (unreadable, or refused by the store): it could
// never be given back, so the extension must not be taken.
bool SaveState(const wchar_t* extension, const wchar_t* stateKey, bool hasTemplate) {
    wchar_t previous[ClassCapacity];
    if (ReadWholeText(HKEY_CLASSES_ROOT, extension, L"", previous, ClassCapacity) ==
            TextUnreadable ||
        SetUserString(stateKey, L"Type", previous) != ERROR_SUCCESS)
        return false;
    SetUserDword(stateKey, L"Exist", KeyExists(HKEY_CLASSES_ROOT, extension) ? 1 : 0);
    if (hasTemplate)
        SavePreviousTemplateEntry(extension);
    return true;
}

bool HasClass(const wchar_t* extension) {
    wchar_t className[ClassCapacity];
    GetString(HKEY_CLASSES_ROOT, extension, L"", className, L"", ClassCapacity);
    return className[0] != 0;
}

void SetClass(const wchar_t* key, const wchar_t* className) {
    SetString(HKEY_CLASSES_ROOT, key, L"", className);
}

// Gives the old-style volume extensions that still name the archiver the class ".bdl" had
// before, or deletes their keys when it had none.
void ReleaseVolumes(const wchar_t* previous) {
    for (unsigned n = 0; n < 100; n++) {
        wchar_t volume[32];
        VolumeExtension(n, volume);
        // Earlier versions took up to .b99; a volume extension that another program owns now
        // was never the archiver's to give back.
        if (!IsOwnedExtension(volume))
            continue;
        if (previous[0] != 0)
            SetClass(volume, previous);
        else
            DeleteEmptyKey(HKEY_CLASSES_ROOT, volume);
    }
}

} // namespace

void AssociateExtension(const wchar_t* extension, bool associate, bool shellExtension,
                        bool isOwnFormat, bool isZip) {
    PrepareTemplateImages();
    bool hasTemplate = isOwnFormat || isZip;
    wchar_t stateKey[StateKeyCapacity];
    FormatText(stateKey, StateKeyCapacity, L"Setup\\%s", extension);

    if (associate) {
        // A second apply must not overwrite what was saved at the first take-over.
        if (!IsOwnedExtension(extension) && !SaveState(extension, stateKey, hasTemplate))
            return;
        SetClass(extension, isZip ? L"Bundlo.ZIP" : L"Bundlo");
        if (isOwnFormat) {
            for (unsigned n = 0; n < 30; n++) {
                wchar_t volume[32];
                VolumeExtension(n, volume);
                // No state is saved for volume extensions, so one that another program owns
                // stays with it rather than being lost for good.
                if (!IsOwnedExtension(volume) && HasClass(volume))
                    continue;
                SetClass(volume, L"Bundlo");
            }
        }
    }
    bool wantTemplate = hasTemplate && WantTemplate(shellExtension, isOwnFormat, isZip) &&
                        MayReplaceTemplateEntry(extension);
    if (associate && wantTemplate)
        CreateTemplateEntry(extension, isOwnFormat);

    bool owned = IsOwnedExtension(extension);
    bool existed = GetUserDword(stateKey, L"Exist", 1) != 0;
    wchar_t previous[ClassCapacity];
    GetUserString(stateKey, L"Type", previous, L"", ClassCapacity);
    if (IsOwnClassName(previous))
        previous[0] = 0;
    // The volume extensions follow the archiver's own format, even when another program has
    // taken ".bdl" since: left naming the archiver's class, they would point at nothing once
    // the class is removed.
    if (!associate && isOwnFormat)
        ReleaseVolumes(existed ? previous : L"");

    // Only what still points to the archiver is given back.
    if (!owned || (associate && wantTemplate))
        return;
    if (!associate) {
        if (existed) {
            SetClass(extension, previous);
        } else {
            SetClass(extension, L"");
            DeleteEmptyKey(HKEY_CLASSES_ROOT, extension);
        }
    }
    if (hasTemplate) {
        RestoreTemplateEntry(extension, isOwnFormat, existed);
        // The extension key stayed while its "ShellNew" sub-key was there; with the template
        // gone it is the archiver's last trace of an extension that had no key before.
        if (!associate && !existed)
            DeleteEmptyKey(HKEY_CLASSES_ROOT, extension);
    }
}

void AssociateAllTypes(const IntegrationSettings& settings) {
    for (size_t row = 0; row < ArchiveTypeCount; row++) {
        for (const wchar_t* group = ArchiveTypeTable[row].Group; group != nullptr;) {
            wchar_t extension[ExtensionCapacity];
            group = SplitExtension(group, extension, ExtensionCapacity);
            AssociateExtension(extension, settings.associate[row] != 0,
                               settings.shellExtension != 0, row == OwnFormatRow, row == ZipRow);
        }
    }
}

bool WriteClassKeys() {
    wchar_t archiver[PathCapacity];
    GetProgramPath(archiver, PathCapacity);
    ReplaceNamePart(archiver, L"Bundlo.exe", PathCapacity);
    wchar_t command[CommandCapacity];
    FormatText(command, CommandCapacity, L"\"%s\" \"%%1\"", archiver);
    wchar_t archiveIcon[CommandCapacity];
    FormatText(archiveIcon, CommandCapacity, L"%s,0", archiver);
    wchar_t recoveryIcon[CommandCapacity];
    FormatText(recoveryIcon, CommandCapacity, L"%s,1", archiver);

    if (SetString(HKEY_CLASSES_ROOT, L"Bundlo", L"", LoadText(IDS_BUNDLOARC)) ==
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
        if (c.Description == IDS_BDLRECVOL)
            SetClass(L".rev", L"Bundlo.REV");
        if (c.Description != 0)
            SetString(HKEY_CLASSES_ROOT, c.Name, L"", LoadText(c.Description));
        wchar_t key[64];
        FormatText(key, 64, L"%s\\shell\\open\\command", c.Name);
        SetString(HKEY_CLASSES_ROOT, key, L"", command);
        // An icon someone chose for the class stays.
        FormatText(key, 64, L"%s\\DefaultIcon", c.Name);
        wchar_t icon[PathCapacity];
        GetString(HKEY_CLASSES_ROOT, key, L"", icon, L"", PathCapacity);
        if (icon[0] == 0)
            SetString(HKEY_CLASSES_ROOT, key, L"", c.Icon);
    }
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
    return true;
}
