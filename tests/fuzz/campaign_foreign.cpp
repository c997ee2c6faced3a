// Values of other programs, through the setup and the uninstall: a few extensions of the archive
// types (".bdl" and ".zip" with their "New" entries most often), old volume extensions and
// ".rev" are seeded as other programs leave them: classes of every type (texts too long for any
// buffer, without their terminator, of an odd size, with a zero inside, expandable, binary,
// numbers), other values, "ShellNew" keys with values of every type and size (names and data
// around and beyond what the program keeps, more values than it keeps), sub-keys. Then the
// extensions are taken over as the setup takes them and given back as the uninstall does: in one
// input of eight (and whenever ".rev" is seeded) through the setup's whole sequence and
// RemoveRegistrations, else through AssociateExtension for the seeded extensions. Afterwards
// every seeded key holds exactly what it held, with only the leftovers the round-trip tests name:
// a key that had no class keeps an empty one, and the volume extensions that had none take the
// class ".bdl" had before.
#include <windows.h>
#include <objbase.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "common/paths.h"
#include "common/registry.h"
#include "common/settings.h"
#include "integration/apply.h"
#include "integration/associations.h"
#include "integration/choices.h"
#include "integration/record.h"
#include "integration/registration.h"
#include "tests/fuzz/fuzz.h"
#include "tests/fuzz/registry_state.h"
#include "tests/unit/test_support.h"
#include "uninstall/removal.h"

namespace {
using fuzz::Outcome;
using fuzz::Random;

std::vector<fuzz::Place> Places;
fuzz::RegistrySnapshot Baseline;
size_t FullRuns = 0, ValuesSeeded = 0;

std::wstring Lower(std::wstring text) {
    if (!text.empty())
        CharLowerBuffW(&text[0], DWORD(text.size()));
    return text;
}

std::vector<std::wstring> Extensions() {
    std::vector<std::wstring> all;
    for (size_t row = 0; row < ArchiveTypeCount; row++)
        for (const wchar_t* group = ArchiveTypeTable[row].Group; group != nullptr;) {
            wchar_t extension[ExtensionCapacity];
            group = SplitExtension(group, extension, ExtensionCapacity);
            all.push_back(extension);
        }
    return all;
}

size_t RowOf(const std::wstring& extension) {
    for (size_t row = 0; row < ArchiveTypeCount; row++)
        for (const wchar_t* group = ArchiveTypeTable[row].Group; group != nullptr;) {
            wchar_t e[ExtensionCapacity];
            group = SplitExtension(group, e, ExtensionCapacity);
            if (Lower(e) == Lower(extension))
                return row;
        }
    return SIZE_MAX;
}

void Prepare() {
    CoInitialize(nullptr);
    DeleteFileW((fuzz::ModuleFolder() + L"\\Bundlo.ini").c_str());
    for (const wchar_t* name : {L"Bundlo.exe", L"bdlext.dll", L"bdlext64.dll"}) {
        std::wstring path = fuzz::ModuleFolder() + L"\\" + name;
        if (!fuzz::PathExists(path))
            fuzz::WriteFileBytes(path, "placeholder");
    }
    Places = fuzz::IntegrationPlaces();
    // The start: a prefix without the archiver, whatever ran in it before.
    ReleaseSettings();
    RemoveFromRegistry();
    fuzz::SeedWindowsShellClasses();
    Baseline = fuzz::TakeSnapshot(Places);
}

void Finish(Outcome& outcome) {
    FUZZ_CHECK(outcome, fuzz::RestoreSnapshot(Places, Baseline), "the start could not be restored");
    fuzz::AddFigure("whole setups and removals", FullRuns);
    fuzz::AddFigure("foreign values", ValuesSeeded);
    CoUninitialize();
}

// ---- the generator ----

struct Value {
    std::wstring Name;
    DWORD Type;
    std::string Bytes;
};

std::string TextBytes(const std::wstring& text, bool terminated) {
    std::string bytes(reinterpret_cast<const char*>(text.data()), text.size() * 2);
    if (terminated)
        bytes.append(2, '\0');
    return bytes;
}

std::wstring ClassLike(Random& random) {
    static const wchar_t* const names[] = {
        L"Other.Archive", L"CompressedFolder", L"Other.7z",      L"OtherRar.Archive",
        L"jarfile",       L"Windows.IsoFile",  L"Backup.Volume", L"bundlo.txt"};
    return std::wstring(names[random.Below(8)]) +
           (random.Coin() ? std::to_wstring(random.Below(99)) : L"");
}

// A class of another program: a plain one mostly, else one the program cannot keep whole.
Value RandomClass(Random& random) {
    Value v{L"", REG_SZ, ""};
    switch (random.Below(14)) {
    case 0:
        v.Bytes = TextBytes(std::wstring(513 + random.Below(600), L'L'), true);
        break;
    case 1:
        v.Bytes = TextBytes(ClassLike(random), false);
        break; // no terminator
    case 2:
        v.Bytes = TextBytes(ClassLike(random), true) + "x";
        break; // odd size
    case 3:
        v.Bytes = TextBytes(ClassLike(random) + std::wstring(1, L'\0') + L"tail", true);
        break;
    case 4:
        v.Type = REG_EXPAND_SZ;
        v.Bytes = TextBytes(L"%Other%.Class", true);
        break;
    case 5:
        v.Type = REG_BINARY;
        v.Bytes = std::string("\x01\x02\x03", 3);
        break;
    case 6:
        v.Type = REG_DWORD;
        v.Bytes = std::string("\x05\x00\x00\x00", 4);
        break;
    case 7:
        v.Bytes = TextBytes(L"", true);
        break; // an empty class
    case 8:
        v.Bytes = "";
        break; // no data at all
    case 9:
        v.Type = REG_MULTI_SZ;
        v.Bytes = TextBytes(std::wstring(L"a\0b\0", 4), true);
        break;
    case 10:
        v.Bytes = TextBytes(std::wstring(255 + random.Below(4), L'M'), true);
        break;
    default:
        v.Bytes = TextBytes(ClassLike(random), true);
        break;
    }
    return v;
}

// A value of any type and size, its name too.
Value RandomValue(Random& random, const std::wstring& name) {
    Value v{name, REG_SZ, ""};
    static const DWORD types[] = {REG_SZ,    REG_EXPAND_SZ, REG_BINARY, REG_DWORD,
                                  REG_QWORD, REG_MULTI_SZ,  REG_NONE,   0x1234};
    v.Type = types[random.Below(8)];
    size_t size;
    switch (random.Below(6)) {
    case 0:
        size = 0;
        break;
    case 1:
        size = 2040 + random.Below(20);
        break; // around what the program keeps (2048)
    case 2:
        size = 3000 + random.Below(3000);
        break;
    default:
        size = random.Below(64);
        break;
    }
    if ((v.Type == REG_SZ || v.Type == REG_EXPAND_SZ) && random.Coin()) {
        std::wstring text;
        for (size_t i = 0; i < size / 2; i++)
            text += random.OneIn(20) ? L'%' : wchar_t(L'a' + random.Below(26));
        v.Bytes = TextBytes(text, !random.OneIn(4));
    } else {
        for (size_t i = 0; i < size; i++)
            v.Bytes += char(random.Next());
    }
    return v;
}

std::wstring ValueName(Random& random, size_t i) {
    static const wchar_t* const names[] = {L"NullFile", L"FileName", L"Data",     L"Command",
                                           L"ItemName", L"Handler",  L"IconPath", L"MenuText",
                                           L"Config",   L""};
    switch (random.Below(8)) {
    case 0:
        return std::wstring(250 + random.Below(12), L'N') + std::to_wstring(i); // around 256
    case 1:
        return L"v" + std::to_wstring(i);
    default:
        return names[random.Below(10)];
    }
}

struct SeedKey {
    std::wstring Path;
    std::vector<Value> Values;
};

void Write(const SeedKey& key) {
    HKEY opened;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.Path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                        &opened, nullptr) != ERROR_SUCCESS)
        return;
    for (const Value& v : key.Values) {
        // Followed by no zero, so that a text without its terminator is stored so.
        std::string bytes = v.Bytes + "\xFF\xFF";
        RegSetValueExW(opened, v.Name.c_str(), 0, v.Type,
                       reinterpret_cast<const BYTE*>(bytes.data()), DWORD(v.Bytes.size()));
    }
    RegCloseKey(opened);
}

std::string Show(const SeedKey& key) {
    std::string text = "[" + fuzz::Narrow(key.Path) + "]";
    for (const Value& v : key.Values)
        text += " " + (v.Name.empty() ? std::string("@") : fuzz::Narrow(v.Name.substr(0, 40))) +
                "=" + std::to_string(v.Type) + ":" + fuzz::Escape(v.Bytes, 80);
    return text;
}

// The keys of one extension as another program may leave them.
std::vector<SeedKey> SeedExtension(Random& random, const std::wstring& extension, bool volume) {
    std::vector<SeedKey> keys;
    if (random.OneIn(6))
        return keys; // no key at all
    SeedKey top{extension, {}};
    if (!random.OneIn(volume ? 3 : 6)) {
        Value c = RandomClass(random);
        top.Values.push_back(c);
    }
    for (size_t n = random.Below(3); n > 0; n--)
        top.Values.push_back(
            RandomValue(random, random.Coin() ? L"Content Type" : L"PerceivedType"));
    keys.push_back(top);
    if (random.OneIn(4)) {
        SeedKey with{extension + L"\\OpenWithProgids", {}};
        with.Values.push_back({ClassLike(random), REG_NONE, ""});
        keys.push_back(with);
    }
    bool template_ = extension == L".bdl" || extension == L".zip";
    if (template_ ? !random.OneIn(4) : random.OneIn(6)) {
        SeedKey shellNew{extension + L"\\ShellNew", {}};
        size_t count = random.OneIn(6) ? 30 + random.Below(6) : random.Below(6);
        for (size_t i = 0; i < count; i++)
            shellNew.Values.push_back(RandomValue(random, ValueName(random, i)));
        keys.push_back(shellNew);
        if (random.OneIn(6))
            keys.push_back({extension + L"\\ShellNew\\Config", {RandomValue(random, L"x")}});
    }
    return keys;
}

// The leftovers the round-trip tests name, laid over the seeded state: a key without a class
// keeps an empty one; a volume extension without a class takes the one ".bdl" had, or goes when
// nothing at all was in it; ".rev" that named no class and held nothing else goes with the
// archiver (RevGoesOnlyWhileItBelongsToTheArchiver).
bool Allowed(const std::wstring& id, const fuzz::KeyState* seeded, const fuzz::KeyState* final,
             const fuzz::KeyState* bdl, const fuzz::KeyState* rev) {
    std::wstring name = id.substr(id.rfind(L'|') + 1);
    if (!final && name == L".rev" && rev && rev->Values.size() <= 1) {
        auto cls = rev->Values.find(L"");
        return cls == rev->Values.end() || (cls->second.second.Type == REG_SZ &&
                                            cls->second.second.Bytes == std::string(2, '\0'));
    }
    bool volume = name.size() == 4 && name.compare(0, 2, L".b") == 0 && iswdigit(name[2]) &&
                  iswdigit(name[3]);
    if (volume && !final && seeded && seeded->Values.empty())
        return true;
    if (name.find(L'\\') != std::wstring::npos || !final)
        return false;
    auto cls = final->Values.find(L"");
    if (cls == final->Values.end())
        return false;
    // Everything but the class as it was.
    std::map<std::wstring, std::pair<std::wstring, fuzz::RegistryData>> rest = final->Values;
    rest.erase(L"");
    std::map<std::wstring, std::pair<std::wstring, fuzz::RegistryData>> before;
    if (seeded) {
        if (seeded->Values.count(L""))
            return false; // it had a class: that must be back as it was
        before = seeded->Values;
    }
    if (rest.size() != before.size())
        return false;
    for (const auto& v : before) {
        auto it = rest.find(v.first);
        if (it == rest.end() || it->second.second != v.second.second)
            return false;
    }
    const fuzz::RegistryData& now = cls->second.second;
    if (seeded && now.Type == REG_SZ && now.Bytes == std::string(2, '\0'))
        return true; // an empty class in a key that had none
    if (volume && bdl) {
        auto previous = bdl->Values.find(L"");
        return previous != bdl->Values.end() && previous->second.second == now;
    }
    return false;
}

void RunForeign(Random& random, size_t, Outcome& outcome) {
    if (!fuzz::RestoreSnapshot(Places, Baseline)) {
        outcome.Fail("the start could not be restored");
        return;
    }
    ReleaseSettings();
    static const std::vector<std::wstring> all = Extensions();
    std::vector<std::wstring> chosen;
    chosen.push_back(random.Coin() ? L".bdl" : L".zip");
    for (size_t n = random.Below(4); n > 0; n--)
        chosen.push_back(all[random.Below(all.size())]);
    for (size_t n = random.Below(3); n > 0; n--) {
        wchar_t volume[8];
        swprintf(volume, 8, L".b%02u", unsigned(random.Below(32)));
        chosen.push_back(volume);
    }
    bool rev = random.OneIn(10);
    if (rev)
        chosen.push_back(L".rev");
    bool full = rev || random.OneIn(8);

    std::map<std::wstring, bool> seeded;
    for (const std::wstring& extension : chosen) {
        if (seeded.count(Lower(extension)))
            continue;
        seeded[Lower(extension)] = true;
        bool volume = extension.compare(0, 2, L".b") == 0 && iswdigit(extension[2]);
        std::vector<SeedKey> keys = SeedExtension(random, extension, volume);
        if (keys.empty())
            outcome.Input += "[" + fuzz::Narrow(extension) + "] (no key) ";
        for (const SeedKey& key : keys) {
            Write(key);
            ValuesSeeded += key.Values.size();
            outcome.Input += Show(key) + " ";
        }
    }
    IntegrationSettings settings = {};
    for (uint8_t& flag : settings.associate)
        flag = random.OneIn(5) ? 0 : 1;
    settings.shellExtension = random.OneIn(4) ? 0 : 1;
    settings.menuIcons = 1;
    if (random.OneIn(4)) {
        DWORD off = 0;
        HKEY key;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Bundlo\\Setup\\MenuItems", 0, nullptr, 0,
                            KEY_WRITE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
            RegSetValueExW(key, random.Coin() ? L"NewBDL" : L"NewZIP", 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&off), 4);
            RegCloseKey(key);
        }
        outcome.Input += "(a New entry turned off) ";
    }
    outcome.Input += full ? "through the whole setup and removal" : "through AssociateExtension";
    outcome.Input += ", shell extension " + std::to_string(settings.shellExtension) + ", types";
    for (uint8_t flag : settings.associate)
        outcome.Input += char('0' + flag);

    fuzz::RegistrySnapshot before = fuzz::TakeSnapshot(Places);
    if (full) {
        FullRuns++;
        // The setup dialog's confirmation, then the uninstall's removal.
        SaveIntegrationSettings(settings);
        wchar_t group[PathCapacity];
        ApplyIntegration(settings, group, PathCapacity);
        RegisterUninstallEntry();
        AssociateExtension(L".ace", GiveBackExtension, ArchiveKind::Other);
        ReleaseSettings();
        RemoveFromRegistry();
    } else {
        for (const std::wstring& extension : chosen) {
            size_t row = RowOf(extension);
            if (row == SIZE_MAX)
                continue;
            uint32_t request = settings.associate[row] ? TakeExtension : GiveBackExtension;
            if (settings.shellExtension)
                request |= WithShellExtension;
            AssociateExtension(extension.c_str(), request, ArchiveKindOfRow(row));
        }
        bool released = true;
        for (const std::wstring& extension : chosen) {
            size_t row = RowOf(extension);
            if (row != SIZE_MAX)
                released = AssociateExtension(extension.c_str(), GiveBackExtension,
                                              ArchiveKindOfRow(row)) &&
                           released;
        }
        FUZZ_CHECK(outcome, released, "an extension was not given back");
        // As the removal does once every extension is given back.
        DeleteKeyTree(HKEY_CURRENT_USER, L"");
        DeleteRecords(Reach::AsSettingsSay);
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Bundlo", KEY_WOW64_64KEY, 0);
    }
    fuzz::RegistrySnapshot after = fuzz::TakeSnapshot(Places);

    // Every seeded key as it was, but for the named leftovers; nothing of the archiver left.
    const fuzz::KeyState* bdl = nullptr;
    const fuzz::KeyState* revKey = nullptr;
    for (const auto& entry : before) {
        if (entry.first.size() > 5 && entry.first.compare(entry.first.size() - 5, 5, L"|.bdl") == 0)
            bdl = &entry.second;
        if (entry.first.size() > 5 && entry.first.compare(entry.first.size() - 5, 5, L"|.rev") == 0)
            revKey = &entry.second;
    }
    std::map<std::wstring, bool> ids;
    for (const auto& e : before)
        ids[e.first] = true;
    for (const auto& e : after)
        ids[e.first] = true;
    int reported = 0;
    for (const auto& id : ids) {
        auto b = before.find(id.first);
        auto a = after.find(id.first);
        const fuzz::KeyState* seededKey = b != before.end() ? &b->second : nullptr;
        const fuzz::KeyState* finalKey = a != after.end() ? &a->second : nullptr;
        // HKEY_CURRENT_USER\Software\Bundlo held only what this input seeded for the menu.
        if (id.first.find(L"hkey_current_user") == 0 && !finalKey)
            continue;
        fuzz::RegistrySnapshot one, other;
        if (seededKey)
            one[id.first] = *seededKey;
        if (finalKey)
            other[id.first] = *finalKey;
        std::vector<std::string> lines = fuzz::CompareSnapshots(one, other, 4);
        if (lines.empty() || Allowed(id.first, seededKey, finalKey, bdl, revKey))
            continue;
        // Keys below the handler keys and the approval list: the shell integration's, compared
        // by the round-trip tests, not values of other programs seeded here.
        if (!seededKey && id.first.find(L"shellex") != std::wstring::npos)
            continue;
        if (!seededKey && (id.first.find(L"registeredapplications") != std::wstring::npos ||
                           id.first.find(L"approved") != std::wstring::npos))
            continue;
        for (const std::string& line : lines)
            if (reported++ < 12)
                outcome.Fail("%s", line.c_str());
    }
}

fuzz::Registration ForeignCampaign({"foreign",
                                    "values of other programs through setup and uninstall", 600, 30,
                                    Prepare, RunForeign, Finish});

} // namespace
