#include "tests/fuzz/registry_state.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "common/registry.h"
#include "integration/registration.h"
#include "integration/shellext.h"
#include "tests/fuzz/fuzz.h"

namespace fuzz {
namespace {

std::wstring Lower(std::wstring text) {
    if (!text.empty())
        CharLowerBuffW(&text[0], DWORD(text.size()));
    return text;
}

std::wstring ViewName(REGSAM view) {
    return view == KEY_WOW64_32KEY ? L"32" : view == KEY_WOW64_64KEY ? L"64" : L"";
}

std::wstring Id(HKEY root, REGSAM view, const std::wstring& path) {
    return Lower(std::wstring(RootName(root)) + L"|" + ViewName(view) + L"|" + path);
}

void Walk(HKEY root, REGSAM view, const std::wstring& path, HKEY key,
          const std::vector<std::wstring>& skip, RegistrySnapshot& snapshot) {
    KeyState state;
    state.Name = path;
    DWORD subKeys = 0, maxSubKey = 0, values = 0, maxName = 0, maxData = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, &maxSubKey, nullptr, &values,
                     &maxName, &maxData, nullptr, nullptr);
    std::vector<wchar_t> name(maxName + 2);
    std::vector<BYTE> data(maxData + 2);
    for (DWORD i = 0;; i++) {
        DWORD nameSize = DWORD(name.size()), dataSize = DWORD(data.size()), type = 0;
        LONG result =
            RegEnumValueW(key, i, name.data(), &nameSize, nullptr, &type, data.data(), &dataSize);
        if (result == ERROR_MORE_DATA) {
            name.resize(name.size() * 2 + 64);
            data.resize(data.size() * 2 + 64);
            i--;
            continue;
        }
        if (result != ERROR_SUCCESS)
            break;
        std::wstring valueName(name.data(), nameSize);
        state.Values[Lower(valueName)] = {
            valueName, {type, std::string(reinterpret_cast<const char*>(data.data()), dataSize)}};
    }
    snapshot[Id(root, view, path)] = state;
    std::vector<wchar_t> child(maxSubKey + 2);
    std::vector<std::wstring> children;
    for (DWORD i = 0;; i++) {
        DWORD size = DWORD(child.size());
        LONG result =
            RegEnumKeyExW(key, i, child.data(), &size, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_MORE_DATA) {
            child.resize(child.size() * 2 + 64);
            i--;
            continue;
        }
        if (result != ERROR_SUCCESS)
            break;
        children.push_back(std::wstring(child.data(), size));
    }
    for (const std::wstring& name : children) {
        if (std::find(skip.begin(), skip.end(), Lower(name)) != skip.end())
            continue;
        HKEY opened;
        std::wstring childPath = path.empty() ? name : path + L"\\" + name;
        if (RegOpenKeyExW(key, name.c_str(), 0, KEY_READ | view, &opened) == ERROR_SUCCESS) {
            Walk(root, view, childPath, opened, {}, snapshot);
            RegCloseKey(opened);
        }
    }
}

struct Location {
    HKEY Root;
    REGSAM View;
    std::wstring Path;
};

Location Locate(const std::wstring& id, const RegistrySnapshot& a, const RegistrySnapshot& b) {
    size_t bar = id.find(L'|'), bar2 = id.find(L'|', bar + 1);
    std::wstring root = id.substr(0, bar), view = id.substr(bar + 1, bar2 - bar - 1);
    Location location;
    location.Root = root == L"hkey_classes_root"   ? HKEY_CLASSES_ROOT
                    : root == L"hkey_current_user" ? HKEY_CURRENT_USER
                                                   : HKEY_LOCAL_MACHINE;
    location.View = view == L"32" ? KEY_WOW64_32KEY : view == L"64" ? KEY_WOW64_64KEY : 0;
    auto it = a.find(id);
    location.Path = it != a.end() ? it->second.Name : b.find(id)->second.Name;
    return location;
}

std::string Show(const RegistryData& data) {
    char head[32];
    snprintf(head, sizeof head, "type %lu, ", data.Type);
    return head + Escape(data.Bytes, 160);
}

} // namespace

void SeedWindowsShellClasses() {
    for (const wchar_t* name : {L"Drive", L"Folder"}) {
        HKEY key;
        if (RegCreateKeyExW(HKEY_CLASSES_ROOT, name, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                            nullptr, &key, nullptr) != ERROR_SUCCESS)
            continue;
        if (RegQueryValueExW(key, L"", nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            RegSetValueExW(key, L"", 0, REG_SZ, reinterpret_cast<const BYTE*>(name),
                           DWORD((wcslen(name) + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
}

std::vector<Place> IntegrationPlaces() {
    std::vector<std::wstring> classes = {L".ace",
                                         L".rev",
                                         L"Bundlo",
                                         L"Bundlo.ZIP",
                                         L"Bundlo.REV",
                                         L"exefile\\shellex",
                                         L"Folder\\shellex",
                                         L"Drive\\shellex",
                                         L"*\\shellex",
                                         L"lnkfile\\shellex",
                                         std::wstring(L"CLSID\\") + ShellExtensionClsid32,
                                         std::wstring(L"CLSID\\") + ShellExtensionClsid64};
    const wchar_t* extensions =
        L".bdl .zip .cab .arj .lz .tlz .lzh .lha .7z .tar .gz .tgz .uue .xxe .uu .bz2 .tbz2 .bz "
        L".tbz .jar .iso .z .taz .xz .txz .zipx .zst .tzst .001 ";
    for (const wchar_t* p = extensions; *p;) {
        const wchar_t* end = wcschr(p, L' ');
        classes.push_back(std::wstring(p, end));
        p = end + 1;
    }
    for (int n = 0; n < 100; n++) {
        wchar_t volume[8];
        swprintf(volume, 8, L".b%02d", n);
        classes.push_back(volume);
    }
    std::vector<Place> places;
    // HKEY_CLASSES_ROOT is one for both views but for CLSID.
    for (const std::wstring& c : classes)
        places.push_back({HKEY_CLASSES_ROOT, c, KEY_WOW64_64KEY, {}});
    for (REGSAM view : {REGSAM(KEY_WOW64_64KEY), REGSAM(KEY_WOW64_32KEY)}) {
        for (const wchar_t* clsid : {ShellExtensionClsid32, ShellExtensionClsid64})
            if (view == KEY_WOW64_32KEY)
                places.push_back({HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + clsid, view, {}});
        for (const wchar_t* key :
             {L"Software\\Bundlo", L"Software\\RegisteredApplications",
              L"Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved",
              AppPathsKey + 1, UninstallKey + 1})
            places.push_back({HKEY_LOCAL_MACHINE, key, view, {}});
    }
    places.push_back({HKEY_CURRENT_USER, L"Software\\Bundlo", 0, {}});
    return places;
}

std::vector<Place> WholeAreas() {
    std::vector<Place> places;
    // HKEY_CLASSES_ROOT is one for both views but for CLSID.
    places.push_back({HKEY_CLASSES_ROOT, L"", KEY_WOW64_64KEY, {L"wow6432node"}});
    places.push_back({HKEY_CLASSES_ROOT, L"CLSID", KEY_WOW64_32KEY, {}});
    for (REGSAM view : {REGSAM(KEY_WOW64_64KEY), REGSAM(KEY_WOW64_32KEY)}) {
        // Wine keeps its own state below "Wine" and changes it as it runs; the classes are
        // compared through HKEY_CLASSES_ROOT.
        places.push_back(
            {HKEY_LOCAL_MACHINE, L"Software", view, {L"wine", L"classes", L"wow6432node"}});
    }
    places.push_back({HKEY_CURRENT_USER, L"Software", 0, {L"wine", L"classes"}});
    return places;
}

RegistrySnapshot TakeSnapshot(const std::vector<Place>& places) {
    RegistrySnapshot snapshot;
    for (const Place& place : places) {
        HKEY key;
        if (RegOpenKeyExW(place.Root, place.Path.empty() ? nullptr : place.Path.c_str(), 0,
                          KEY_READ | place.View, &key) != ERROR_SUCCESS)
            continue;
        Walk(place.Root, place.View, place.Path, key, place.Skip, snapshot);
        RegCloseKey(key);
    }
    return snapshot;
}

bool RestoreSnapshot(const std::vector<Place>& places, const RegistrySnapshot& target,
                     const RegistrySnapshot* known) {
    RegistrySnapshot current = known ? *known : TakeSnapshot(places);
    bool ok = true;
    // Keys the target lacks, deepest first.
    std::vector<std::pair<size_t, std::wstring>> extra;
    for (const auto& entry : current)
        if (!target.count(entry.first))
            extra.push_back({entry.second.Name.size(), entry.first});
    std::sort(extra.rbegin(), extra.rend());
    for (const auto& entry : extra) {
        Location at = Locate(entry.second, current, target);
        LONG result = RegDeleteKeyExW(at.Root, at.Path.c_str(), at.View, 0);
        ok = ok && (result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND);
    }
    // Keys and values to write, parents first.
    for (const auto& entry : target) {
        auto now = current.find(entry.first);
        if (now != current.end() && now->second.Values.size() == entry.second.Values.size()) {
            bool same = true;
            for (const auto& value : entry.second.Values) {
                auto v = now->second.Values.find(value.first);
                same = same && v != now->second.Values.end() &&
                       v->second.second == value.second.second &&
                       v->second.first == value.second.first;
            }
            if (same)
                continue;
        }
        Location at = Locate(entry.first, current, target);
        HKEY key;
        if (RegCreateKeyExW(at.Root, at.Path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | at.View,
                            nullptr, &key, nullptr) != ERROR_SUCCESS) {
            ok = false;
            continue;
        }
        if (now != current.end())
            for (const auto& value : now->second.Values) {
                auto wanted = entry.second.Values.find(value.first);
                if (wanted == entry.second.Values.end() ||
                    wanted->second.first != value.second.first)
                    RegDeleteValueW(key, value.second.first.c_str());
            }
        for (const auto& value : entry.second.Values) {
            const RegistryData& data = value.second.second;
            ok = RegSetValueExW(key, value.second.first.c_str(), 0, data.Type,
                                reinterpret_cast<const BYTE*>(data.Bytes.data()),
                                DWORD(data.Bytes.size())) == ERROR_SUCCESS &&
                 ok;
        }
        RegCloseKey(key);
    }
    return ok;
}

std::vector<std::string> CompareSnapshots(const RegistrySnapshot& expected,
                                          const RegistrySnapshot& actual, size_t limit,
                                          bool (*ignore)(HKEY root, const std::wstring& path)) {
    std::vector<std::string> lines;
    auto ignored = [&](const std::wstring& id) {
        if (!ignore)
            return false;
        Location at = Locate(id, expected, actual);
        return ignore(at.Root, at.Path);
    };
    auto add = [&](const std::string& line) {
        if (lines.size() < limit)
            lines.push_back(line);
        else if (lines.size() == limit)
            lines.push_back("...");
    };
    for (const auto& entry : expected) {
        if (ignored(entry.first))
            continue;
        auto it = actual.find(entry.first);
        if (it == actual.end()) {
            add("key missing: " + Narrow(entry.first));
            continue;
        }
        for (const auto& value : entry.second.Values) {
            auto v = it->second.Values.find(value.first);
            if (v == it->second.Values.end())
                add("value missing: " + Narrow(entry.first) + " [" + Narrow(value.second.first) +
                    "] " + Show(value.second.second));
            else if (v->second.second != value.second.second)
                add("value changed: " + Narrow(entry.first) + " [" + Narrow(value.second.first) +
                    "] " + Show(value.second.second) + " -> " + Show(v->second.second));
        }
        for (const auto& value : it->second.Values)
            if (!entry.second.Values.count(value.first))
                add("value added: " + Narrow(entry.first) + " [" + Narrow(value.second.first) +
                    "] " + Show(value.second.second));
    }
    for (const auto& entry : actual)
        if (!expected.count(entry.first) && !ignored(entry.first))
            add("key added: " + Narrow(entry.first));
    return lines;
}

bool WithinPlaces(const std::vector<Place>& places, HKEY root, const std::wstring& path,
                  REGSAM view) {
    std::wstring lower = Lower(path);
    // The program asks for the machine's classes by name; the places name them as
    // HKEY_CLASSES_ROOT, which is the same keys in this Wine.
    const std::wstring classes = L"software\\classes\\";
    if (root == HKEY_LOCAL_MACHINE && lower.compare(0, classes.size(), classes) == 0)
        return WithinPlaces(places, HKEY_CLASSES_ROOT, path.substr(classes.size()), view);
    for (const Place& place : places) {
        if (place.Root != root)
            continue;
        std::wstring prefix = Lower(place.Path);
        if (prefix.empty() || lower == prefix ||
            (lower.size() > prefix.size() && lower.compare(0, prefix.size(), prefix) == 0 &&
             lower[prefix.size()] == L'\\'))
            return true;
    }
    return false;
}

} // namespace fuzz
