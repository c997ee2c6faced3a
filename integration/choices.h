// The integration choices of the setup: which archive types the archiver opens, which shortcuts
// exist and how the shell extension appears, their per-user storage under the "Setup" keys of
// the product key, and the /init text that presets them for unattended installs.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "common/registry.h"

// 28 one-byte flags, each 0 or 1. A zero-filled record means that nothing is integrated.
struct IntegrationSettings {
    uint8_t associate[18]; // one per row of ArchiveTypeTable
    uint8_t reserved18[2]; // written only by the A run of the init text, never read
    uint8_t linkDesktop;
    uint8_t linkStartMenu;
    uint8_t linkProgramGroup;
    uint8_t shellExtension;
    uint8_t cascadedMenu;
    uint8_t menuIcons;
    uint8_t legacyMenu; // classic context menu handlers on Windows 11
    uint8_t reserved27; // always 0

    uint8_t& Flag(size_t index) { return reinterpret_cast<uint8_t*>(this)[index]; }
};
static_assert(sizeof(IntegrationSettings) == 28, "the record is 28 one-byte flags");

const size_t ArchiveTypeCount = 18;
const size_t ExtensionCapacity = 50;
// A class name of the registry, another program's included, in characters with the terminator:
// one that does not fit is never taken for a shorter one.
const size_t ClassNameCapacity = 512;

// The per-user key under which the setup keeps what it knows of one extension, "Setup\<extension>",
// with a sub-key path after it (or ""). False when it does not fit: a cut key would be another
// extension's.
const size_t SetupKeyCapacity = 80;
bool SetupKeyOf(const wchar_t* extension, const wchar_t* sub, wchar_t (&key)[SetupKeyCapacity]);

struct ArchiveType {
    const wchar_t* Group;   // every extension of the type, each with its dot, run together
    const wchar_t* Primary; // the first of them; names the type's settings key
    int CheckBoxId;
    const char* CheckBoxKey;
};
extern const ArchiveType ArchiveTypeTable[ArchiveTypeCount];

// Row 0 is the archiver's own format, row 1 is ZIP.
const size_t OwnFormatRow = 0;
const size_t ZipRow = 1;
// What an archive type brings besides its class: the archiver's own format a "New" template and
// its volume extensions, ZIP a template and a class of its own, any other type nothing.
enum class ArchiveKind { Other, OwnFormat, Zip };
// The kind of a row of ArchiveTypeTable.
inline ArchiveKind ArchiveKindOfRow(size_t row) {
    return row == OwnFormatRow ? ArchiveKind::OwnFormat
           : row == ZipRow     ? ArchiveKind::Zip
                               : ArchiveKind::Other;
}

// Copies the first extension of `group` (".bz2" of ".bz2.tbz2.bz.tbz") into `extension` and
// returns where the next one begins, or null when it was the last.
const wchar_t* SplitExtension(const wchar_t* group, wchar_t* extension, size_t capacity);

void LoadIntegrationSettings(IntegrationSettings& settings);
// Lays the letter-value pairs of an /init text over the record; unnamed flags keep their value.
void ApplyInitText(const wchar_t* text, IntegrationSettings& settings);
void SaveIntegrationSettings(const IntegrationSettings& settings);
// Whether the extension's class is Bundlo or Bundlo.ZIP, in any letter case. OwnerUnknown when
// the registry refused the read: the extension may be either's, and must be left as it is.
enum Ownership { NotOwned, Owned, OwnerUnknown };
Ownership FindOwnership(const wchar_t* extension, Reach reach = Reach::AsSettingsSay);
// FindOwnership(...) == Owned.
bool IsOwnedExtension(const wchar_t* extension, Reach reach = Reach::AsSettingsSay);
// True when a class name is one of the archiver's own archive classes.
bool IsOwnClassName(const wchar_t* className);
