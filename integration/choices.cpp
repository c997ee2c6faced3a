#include "integration/choices.h"

#include <wchar.h>

#include "common/registry.h"
#include "common/system.h"
#include "common/text.h"
#include "resources/resource.h"

// The check box's id and its key name come from its one name in resource.h.
#define ARCHIVE_TYPE(group, primary, checkBox)                                                     \
    { group, primary, checkBox, #checkBox }
const ArchiveType ArchiveTypeTable[ArchiveTypeCount] = {
    ARCHIVE_TYPE(L".bdl", L".bdl", IDC_ASSOCBDL),
    ARCHIVE_TYPE(L".zip", L".zip", IDC_ASSOCZIP),
    ARCHIVE_TYPE(L".cab", L".cab", IDC_ASSOCCAB),
    ARCHIVE_TYPE(L".arj", L".arj", IDC_ASSOCARJ),
    ARCHIVE_TYPE(L".lz.tlz", L".lz", IDC_ASSOCLZ),
    ARCHIVE_TYPE(L".lzh.lha", L".lzh", IDC_ASSOCLZH),
    ARCHIVE_TYPE(L".7z", L".7z", IDC_ASSOC7Z),
    ARCHIVE_TYPE(L".tar", L".tar", IDC_ASSOCTAR),
    ARCHIVE_TYPE(L".gz.tgz", L".gz", IDC_ASSOCGZ),
    ARCHIVE_TYPE(L".uue.xxe.uu", L".uue", IDC_ASSOCUUE),
    ARCHIVE_TYPE(L".bz2.tbz2.bz.tbz", L".bz2", IDC_ASSOCBZ2),
    ARCHIVE_TYPE(L".jar", L".jar", IDC_ASSOCJAR),
    ARCHIVE_TYPE(L".iso", L".iso", IDC_ASSOCISO),
    ARCHIVE_TYPE(L".z.taz", L".z", IDC_ASSOCZ),
    ARCHIVE_TYPE(L".xz.txz", L".xz", IDC_ASSOCXZ),
    ARCHIVE_TYPE(L".zipx", L".zipx", IDC_ASSOCZIPX),
    ARCHIVE_TYPE(L".zst.tzst", L".zst", IDC_ASSOCZST),
    ARCHIVE_TYPE(L".001", L".001", IDC_ASSOC001),
};
#undef ARCHIVE_TYPE

bool SetupKeyOf(const wchar_t* extension, const wchar_t* sub, wchar_t (&key)[SetupKeyCapacity]) {
    return FormatText(key, L"Setup\\%s%s", extension, sub) >= 0;
}

namespace {

const size_t JarRow = 11;
const size_t IsoRow = 12;

uint8_t StoredFlag(const wchar_t* path, const wchar_t* name, DWORD fallback) {
    return GetUserDword(path, name, fallback) != 0 ? 1 : 0;
}

} // namespace

const wchar_t* SplitExtension(const wchar_t* group, wchar_t* extension, size_t capacity) {
    CopyText(extension, group, capacity);
    if (group[0] == 0)
        return nullptr;
    const wchar_t* next = wcschr(group + 1, L'.');
    if (next == nullptr)
        return nullptr;
    size_t length = size_t(next - group);
    if (length < capacity)
        extension[length] = 0;
    return next;
}

bool IsOwnClassName(const wchar_t* className) {
    return CompareNoCase(className, L"Bundlo") == 0 || CompareNoCase(className, L"Bundlo.ZIP") == 0;
}

Ownership FindOwnership(const wchar_t* extension, Reach reach) {
    wchar_t className[ClassNameCapacity];
    switch (ReadWholeText(ClassesRoot(reach), extension, L"", className)) {
    case TextRead:
        return IsOwnClassName(className) ? Owned : NotOwned;
    case TextRefused:
        return OwnerUnknown;
    default:
        return NotOwned; // missing, or no text the archiver ever writes
    }
}

bool IsOwnedExtension(const wchar_t* extension, Reach reach) {
    return FindOwnership(extension, reach) == Owned;
}

void LoadIntegrationSettings(IntegrationSettings& settings) {
    for (size_t row = 0; row < ArchiveTypeCount; row++) {
        wchar_t key[SetupKeyCapacity];
        SetupKeyOf(ArchiveTypeTable[row].Primary, L"", key); // every table extension fits
        settings.associate[row] = StoredFlag(key, L"Set", 1);
        // Java archives and disc images usually belong to another program, which keeps them
        // unless the archiver already has them.
        if ((row == JarRow || row == IsoRow) && !IsOwnedExtension(ArchiveTypeTable[row].Primary)) {
            wchar_t className[ClassNameCapacity];
            GetString(HKEY_CLASSES_ROOT, ArchiveTypeTable[row].Primary, L"", className, L"");
            if (className[0] != 0 || row == JarRow)
                settings.associate[row] = 0;
        }
    }
    settings.linkDesktop = StoredFlag(L"Setup\\Links", L"Desktop", 0);
    settings.linkStartMenu = StoredFlag(L"Setup\\Links", L"StartMenu", 0);
    settings.linkProgramGroup = StoredFlag(L"Setup\\Links", L"Programs", 1);
    settings.shellExtension = StoredFlag(L"Setup", L"ShellExt", 1);
    bool windows11 = IsWindows11OrLater();
    settings.cascadedMenu = StoredFlag(L"Setup", L"CascadedMenu", windows11 ? 1 : 0);
    settings.menuIcons = StoredFlag(L"Setup", L"MenuIcons", 1);
    settings.legacyMenu = StoredFlag(L"Setup", L"LegacyMenu", 0);
    settings.reserved27 = 0;
    // Windows 11 shows a flat menu only through its new context menu, which the user must have
    // chosen explicitly.
    if (windows11 && GetUserDword(L"Setup", L"NewContextMenu", 0) == 0)
        settings.cascadedMenu = 1;
}

void ApplyInitText(const wchar_t* text, IntegrationSettings& settings) {
    const wchar_t* p = text;
    while (p[0] != 0 && p[1] != 0) {
        wchar_t letter = UpperChar(p[0]);
        if (letter == L'A') {
            size_t digits = 0;
            while (digits < 20 && IsDigit(p[1 + digits])) {
                settings.Flag(digits) = p[1 + digits] == L'1' ? 1 : 0;
                digits++;
            }
            p += 1 + digits;
            continue;
        }
        uint8_t on = p[1] == L'1' ? 1 : 0;
        switch (letter) {
        case L'C':
            settings.cascadedMenu = on;
            break;
        case L'D':
            settings.linkDesktop = on;
            break;
        case L'I':
            settings.menuIcons = on;
            break;
        case L'M':
            settings.linkStartMenu = on;
            break;
        case L'P':
            settings.linkProgramGroup = on;
            break;
        case L'S':
            settings.shellExtension = on;
            break;
        default:
            break;
        }
        p += 2;
    }
}

void SaveIntegrationSettings(const IntegrationSettings& settings) {
    for (size_t row = 0; row < ArchiveTypeCount; row++) {
        wchar_t key[SetupKeyCapacity];
        SetupKeyOf(ArchiveTypeTable[row].Primary, L"", key);
        SetUserDword(key, L"Set", settings.associate[row]);
    }
    SetUserDword(L"Setup\\Links", L"Desktop", settings.linkDesktop);
    SetUserDword(L"Setup\\Links", L"StartMenu", settings.linkStartMenu);
    SetUserDword(L"Setup\\Links", L"Programs", settings.linkProgramGroup);
    SetUserDword(L"Setup", L"ShellExt", settings.shellExtension);
    SetUserDword(L"Setup", L"CascadedMenu", settings.cascadedMenu);
    SetUserDword(L"Setup", L"MenuIcons", settings.menuIcons);
    SetUserDword(L"Setup", L"LegacyMenu", settings.legacyMenu);
}
