// Registry snapshots for the campaigns that compare machines: every key below a set of places,
// with every value as its type and bytes, read and written without the program's registry
// layer. Key paths and value names compare without regard to case, as the registry does.
#pragma once
#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace fuzz {

struct RegistryData {
    DWORD Type;
    std::string Bytes;
    bool operator==(const RegistryData& o) const { return Type == o.Type && Bytes == o.Bytes; }
    bool operator!=(const RegistryData& o) const { return !(*this == o); }
};

struct KeyState {
    std::wstring Name; // the path as the registry spells it
    std::map<std::wstring, std::pair<std::wstring, RegistryData>>
        Values; // lower name -> name, data
};

// "<root>|<view>|<path>" in lower case -> the key.
typedef std::map<std::wstring, KeyState> RegistrySnapshot;

// A place to watch: a root, a key path below it, and the views to read it in (0 for the one
// view of a process, or KEY_WOW64_32KEY / KEY_WOW64_64KEY).
struct Place {
    HKEY Root;
    std::wstring Path;
    REGSAM View;
    std::vector<std::wstring> Skip; // sub-keys of Path left out (lower case), such as Wine's own
};

// The places the integration can touch: the extensions and classes of HKEY_CLASSES_ROOT, the
// shell extension's keys and handler keys, the product's keys, App Paths, the uninstall entry,
// the approval list and Default Programs, each in both views.
std::vector<Place> IntegrationPlaces();
// The three whole areas of the issue: HKEY_CLASSES_ROOT, HKEY_CURRENT_USER\Software and
// HKEY_LOCAL_MACHINE\Software, in both views.
std::vector<Place> WholeAreas();

RegistrySnapshot TakeSnapshot(const std::vector<Place>& places);
// Makes the registry below the places what the snapshot says: keys and values it lacks are
// removed, others written. False when a change failed. `current`, when given, is what the
// registry holds now (a snapshot just taken), which spares taking another.
bool RestoreSnapshot(const std::vector<Place>& places, const RegistrySnapshot& target,
                     const RegistrySnapshot* current = nullptr);
// The differences, one line each, at most `limit` lines; empty when equal. Keys for which
// `ignore` (root, path) holds are left out.
std::vector<std::string>
CompareSnapshots(const RegistrySnapshot& expected, const RegistrySnapshot& actual,
                 size_t limit = 12, bool (*ignore)(HKEY root, const std::wstring& path) = nullptr);

// Windows always has the "Drive" and "Folder" classes, each with its name as its default
// value; Wine's fresh prefix has neither, and the handler keys would bring empty ones. The
// campaigns start from a machine like Windows.
void SeedWindowsShellClasses();

// Whether a key (root, resolved path, view) lies within the places, for a write.
bool WithinPlaces(const std::vector<Place>& places, HKEY root, const std::wstring& path,
                  REGSAM view);

} // namespace fuzz
