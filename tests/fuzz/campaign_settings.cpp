// "Bundlo.ini" beside the program, through the real store (the campaign that the unit test
// RandomFilesLoadAndRoundTrip started):
// - a file written here from entries, in one of the four encodings, loads exactly those entries
//   (a reading of the format written here independently), the three Global switches settled;
// - whatever a complete load gave, writes through the registry operations included, the save
//   puts back every entry, read from the saved bytes by that same reading, and a second load
//   gives the same list; a file with Global\SaveSettings=0 keeps its bytes;
// - a damaged file (a zero character, or a read that fails part way) is never written, nothing
//   is served from it and every write is refused.
#include <windows.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/file.h"
#include "common/registry.h"
#include "common/settings.h"
#include "tests/fuzz/fuzz.h"
#include "tests/unit/test_support.h"

namespace {
using fuzz::Outcome;
using fuzz::Random;

struct Entry {
    std::wstring Name;
    std::wstring Value;
    int Kind; // SettingsKind
    bool operator==(const Entry& other) const {
        return Name == other.Name && Value == other.Value && Kind == other.Kind;
    }
};

std::string Describe(const std::vector<Entry>& entries) {
    std::string text;
    for (const Entry& e : entries)
        text += fuzz::Narrow(e.Name) + "=" + "NTR"[e.Kind] + ":" + fuzz::Narrow(e.Value) + " | ";
    return text.substr(0, 3000);
}

std::wstring IniPath;

void Prepare() {
    IniPath = fuzz::ModuleFolder() + L"\\Bundlo.ini";
    ReleaseSettings();
}

std::vector<std::wstring> Beside() {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((IniPath + L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (wcscmp(data.cFileName, L"Bundlo.ini") != 0)
            names.push_back(data.cFileName);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

void Finish(Outcome& outcome) {
    ReleaseSettings();
    DeleteFileW(IniPath.c_str());
    FUZZ_CHECK(outcome, Beside().empty(), "saves left files beside the settings file");
}

// ---- the independent reading of the format ----

// ParseInt64 as a DWORD: a sign, decimal digits wrapping at 64 bits, the low 32 bits.
uint32_t Number(const std::wstring& text) {
    size_t i = 0;
    bool negative = !text.empty() && text[0] == L'-';
    if (negative)
        i++;
    uint64_t value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; i++)
        value = value * 10 + uint64_t(text[i] - L'0');
    if (negative && int64_t(value) >= 0)
        value = uint64_t(-int64_t(value));
    return uint32_t(value);
}

bool AsciiLetter(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

// One line as an entry: a name that begins with a letter, up to the first "="; a quoted text
// (the closing quote optional), "bin:" and hexadecimal, or anything else as a number.
bool ParseLine(const std::wstring& line, Entry& entry) {
    size_t equals = line.find(L'=');
    if (line.empty() || !AsciiLetter(line[0]) || equals == std::wstring::npos)
        return false;
    entry.Name = line.substr(0, equals);
    std::wstring value = line.substr(equals + 1);
    if (!value.empty() && value[0] == L'"') {
        value.erase(0, 1);
        if (!value.empty() && value.back() == L'"')
            value.pop_back();
        entry.Kind = SettingsText;
    } else if (value.compare(0, 4, L"bin:") == 0) {
        value.erase(0, 4);
        entry.Kind = SettingsRaw;
    } else {
        entry.Kind = SettingsNumber;
    }
    entry.Value = value;
    return true;
}

// The lines of a decoded text: split at any run of line ends, blanks cut from their ends.
std::vector<Entry> ParseText(const std::wstring& text) {
    std::vector<Entry> entries;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find_first_of(L"\r\n", start);
        if (end == std::wstring::npos)
            end = text.size();
        std::wstring line = text.substr(start, end - start);
        while (!line.empty() && (line.back() == L' ' || line.back() == L'\t'))
            line.pop_back();
        Entry entry;
        if (ParseLine(line, entry))
            entries.push_back(entry);
        start = end + 1;
    }
    return entries;
}

// The three switches as a load settles them: the first of each name becomes 0 or 1, and a
// missing one is added as 1.
std::vector<Entry> Settle(std::vector<Entry> entries, bool* saveSettings) {
    const wchar_t* switches[] = {L"Global\\AppData", L"Global\\Integration",
                                 L"Global\\SaveSettings"};
    for (const wchar_t* name : switches) {
        auto it = std::find_if(entries.begin(), entries.end(),
                               [&](const Entry& e) { return e.Name == name; });
        bool on = it == entries.end() || Number(it->Value) != 0;
        if (it == entries.end())
            entries.push_back({name, L"1", SettingsNumber});
        else
            *it = {name, on ? L"1" : L"0", SettingsNumber};
        if (wcscmp(name, L"Global\\SaveSettings") == 0)
            *saveSettings = on;
    }
    return entries;
}

// The saved file: UTF-16 with its mark, one entry per "\r\n"-ended line, each in the form its
// kind is written in; false when it is not that.
bool ParseSaved(const std::string& bytes, std::vector<Entry>& entries, std::string& why) {
    if (bytes.size() < 2 || bytes[0] != '\xFF' || bytes[1] != '\xFE' || bytes.size() % 2 != 0) {
        why = "not UTF-16 with its mark";
        return false;
    }
    std::wstring text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        text += wchar_t(uint8_t(bytes[i]) | (uint8_t(bytes[i + 1]) << 8));
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos) {
            why = "a line without its line end";
            return false;
        }
        std::wstring line = text.substr(start, end - start);
        size_t equals = line.find(L'=');
        if (equals == std::wstring::npos) {
            why = "a line without =";
            return false;
        }
        Entry entry;
        entry.Name = line.substr(0, equals);
        std::wstring value = line.substr(equals + 1);
        if (value.size() >= 2 && value[0] == L'"' && value.back() == L'"') {
            entry.Kind = SettingsText;
            entry.Value = value.substr(1, value.size() - 2);
        } else if (value.compare(0, 4, L"bin:") == 0) {
            entry.Kind = SettingsRaw;
            entry.Value = value.substr(4);
        } else {
            entry.Kind = SettingsNumber;
            entry.Value = value;
        }
        entries.push_back(entry);
        start = end + 2;
    }
    return true;
}

std::vector<Entry> Loaded() {
    std::vector<Entry> entries;
    for (const SettingsEntry* entry = FirstSettingsEntry(); entry; entry = entry->Next)
        entries.push_back({entry->Name, entry->Value, entry->Kind});
    return entries;
}

std::vector<Entry> SortedByName(std::vector<Entry> entries) {
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return a.Name < b.Name; });
    return entries;
}

// ---- the generator ----

enum Encoding { Utf16Le, Utf16Be, Utf8, Ansi };

// A character that the encoding carries as itself.
wchar_t TextChar(Random& random, Encoding encoding) {
    static const wchar_t symbols[] = L"=\"\\ \tbin:x0123456789;[]%$";
    switch (random.Below(encoding == Ansi ? 3 : 5)) {
    case 0:
        return random.From(symbols);
    case 1:
        return wchar_t(L' ' + random.Below(95));
    case 2:
        return encoding == Ansi ? wchar_t(0xA0 + random.Below(0x5F))
                                : wchar_t(0xA0 + random.Below(0x160));
    case 3:
        return wchar_t(0x400 + random.Below(0x9000));
    default:
        // Anything but the zero, the line ends and (in UTF-8) surrogates.
        for (;;) {
            wchar_t c = wchar_t(1 + random.Below(0xFFFE));
            if (c != L'\r' && c != L'\n' && (encoding != Utf8 || c < 0xD800 || c > 0xDFFF))
                return c;
        }
    }
}

std::wstring RandomText(Random& random, Encoding encoding, size_t limit) {
    std::wstring text;
    for (size_t n = random.Below(limit); n > 0; n--)
        text += TextChar(random, encoding);
    return text;
}

std::wstring RandomLine(Random& random, Encoding encoding) {
    static const wchar_t* const names[] = {
        L"Global\\AppData",
        L"Global\\Integration",
        L"Global\\SaveSettings",
        L"HKCU\\Setup\\ShellExt",
        L"HKCU\\Setup\\Links\\Desktop",
        L"HKLM\\exe32",
        L"General\\LanguageFolder",
        L"a",
        L"Z=",
    };
    static const wchar_t* const switchValues[] = {L"0", L"1",          L"2",  L"-1",    L"x",
                                                  L"",  L"4294967296", L" 1", L"\"0\"", L"01"};
    std::wstring line;
    switch (random.Below(10)) {
    case 0: // not an entry
        line = std::wstring(1, random.From(L";#[ 9=_\\")) + RandomText(random, encoding, 30);
        break;
    case 1: // a switch
        line = std::wstring(names[random.Below(3)]) + L"=" + switchValues[random.Below(10)];
        break;
    case 2: // a raw value
        line =
            std::wstring(names[3 + random.Below(6)]) + L"=bin:" + RandomText(random, encoding, 20);
        break;
    case 3: // a quoted text, the closing quote sometimes missing, quotes inside
        line = std::wstring(names[random.Below(9)]) + L"=\"" + RandomText(random, encoding, 40) +
               (random.OneIn(4) ? L"" : L"\"");
        break;
    default: { // a name of its own
        std::wstring name(
            1, wchar_t(random.Coin() ? L'a' + random.Below(26) : L'A' + random.Below(26)));
        name += RandomText(random, encoding, 30);
        size_t equals = name.find(L'=');
        if (equals != std::wstring::npos)
            name.erase(equals);
        line = name + L"=" + (random.Coin() ? L"\"" : L"") + RandomText(random, encoding, 40);
        if (random.OneIn(50))
            line += std::wstring(3000 + random.Below(5000), L'v');
        break;
    }
    }
    // Blanks at the end go; those at the start are part of the line.
    if (random.OneIn(5))
        line += random.Coin() ? L" \t" : L" ";
    return line;
}

std::string Encode(const std::wstring& text, Encoding encoding) {
    std::string bytes;
    switch (encoding) {
    case Utf16Le:
        bytes = "\xFF\xFE";
        for (wchar_t c : text) {
            bytes += char(c & 0xFF);
            bytes += char(c >> 8);
        }
        break;
    case Utf16Be:
        bytes = "\xFE\xFF";
        for (wchar_t c : text) {
            bytes += char(c >> 8);
            bytes += char(c & 0xFF);
        }
        break;
    case Utf8: {
        bytes = "\xEF\xBB\xBF";
        int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0,
                                       nullptr, nullptr);
        std::string utf8(size_t(size), '\0');
        WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &utf8[0], size, nullptr,
                            nullptr);
        bytes += utf8;
        break;
    }
    case Ansi:
        for (wchar_t c : text)
            bytes += char(c); // 0x20-0xFF only
        break;
    }
    return bytes;
}

// What the ANSI code page makes of the bytes: the reading of an ANSI file.
std::wstring FromAnsi(const std::string& bytes) {
    if (bytes.empty())
        return L"";
    int size = MultiByteToWideChar(CP_ACP, 0, bytes.data(), int(bytes.size()), nullptr, 0);
    std::wstring text(size_t(size), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), int(bytes.size()), &text[0], size);
    return text;
}

// ---- the checks ----

void CheckDamaged(Outcome& outcome, const std::string& bytes) {
    FUZZ_CHECK(outcome, !IsSettingsFileActive(), "a damaged file is active");
    FUZZ_CHECK(outcome, !IsIntegrationEnabled(), "a damaged file lets integration through");
    FUZZ_CHECK(outcome, FirstSettingsEntry() == nullptr, "a damaged file serves entries");
    FUZZ_CHECK(outcome, SetUserString(L"Setup", L"Written", L"x") == ERROR_ACCESS_DENIED,
               "a write was not refused");
    wchar_t text[16];
    GetUserString(L"Setup", L"ShellExt", text, L"default", 16);
    FUZZ_CHECK(outcome, wcscmp(text, L"default") == 0, "a read was served: %s",
               fuzz::Narrow(text).c_str());
    FUZZ_CHECK(outcome, !SaveSettingsFile(), "a damaged file was saved");
    ReleaseSettings();
    std::string after;
    fuzz::ReadFileBytes(IniPath, after);
    FUZZ_CHECK(outcome, after == bytes, "a damaged file was written (%zu bytes, was %zu)",
               after.size(), bytes.size());
}

// Writes through the registry operations, as the setup makes them: those that would not read
// back as one entry are refused, the rest land in the list.
void WriteThroughRegistry(Random& random, Outcome& outcome, std::vector<Entry>& model) {
    static const wchar_t* const paths[] = {L"Setup", L"Setup\\Links", L"General", L"Setup\\.zip"};
    static const wchar_t* const names[] = {L"Type", L"ShellExt", L"Desktop",      L"x",
                                           L"",     L"a=b",      L"line\r\nbreak"};
    for (size_t n = random.Below(5); n > 0; n--) {
        std::wstring path = paths[random.Below(4)];
        std::wstring name = names[random.Below(7)];
        std::wstring key = L"HKCU\\" + path + L"\\" + name;
        bool number = random.Coin();
        std::wstring text = RandomText(random, Utf16Le, 20);
        if (random.OneIn(6))
            text += random.Coin() ? L"\n" : L"\r";
        DWORD value = DWORD(random.Next());
        LONG result = number ? SetUserDword(path.c_str(), name.c_str(), value)
                             : SetUserString(path.c_str(), name.c_str(), text.c_str());
        bool refused = name.find_first_of(L"=\r\n") != std::wstring::npos ||
                       (!number && text.find_first_of(L"\r\n") != std::wstring::npos);
        outcome.Input += ", write " + fuzz::Escape(key, 80) +
                         (number ? " number" : " text " + fuzz::Escape(text, 80));
        FUZZ_CHECK(outcome, (result == ERROR_SUCCESS) == !refused, "write of %s gave %ld",
                   fuzz::Narrow(key).c_str(), result);
        if (refused)
            continue;
        Entry entry{key, number ? std::to_wstring(value) : text,
                    number ? SettingsNumber : SettingsText};
        auto it =
            std::find_if(model.begin(), model.end(), [&](const Entry& e) { return e.Name == key; });
        if (it == model.end())
            model.push_back(entry);
        else
            *it = entry;
        // Read back at once.
        if (!number) {
            wchar_t back[64];
            GetUserString(path.c_str(), name.c_str(), back, L"", 64);
            FUZZ_CHECK(outcome, text == back, "text %s read back as %s", fuzz::Narrow(text).c_str(),
                       fuzz::Narrow(back).c_str());
        } else {
            FUZZ_CHECK(outcome, GetUserDword(path.c_str(), name.c_str(), 0) == value,
                       "number %lu did not read back", value);
        }
    }
}

// The save puts back every entry of the list, and the next load reads the same list.
void CheckSave(Outcome& outcome, const std::vector<Entry>& list, bool saveSettings,
               const std::string& bytesBefore) {
    bool saved = SaveSettingsFile();
    std::string after;
    fuzz::ReadFileBytes(IniPath, after);
    FUZZ_CHECK(outcome, Beside().empty(), "the save left files beside the settings file");
    if (!saveSettings) {
        FUZZ_CHECK(outcome, !saved, "a file with SaveSettings=0 was saved");
        FUZZ_CHECK(outcome, after == bytesBefore, "a file with SaveSettings=0 changed");
        return;
    }
    FUZZ_CHECK(outcome, saved, "the save failed");
    std::vector<Entry> written;
    std::string why;
    if (!ParseSaved(after, written, why)) {
        outcome.Fail("the saved file is malformed: %s", why.c_str());
        return;
    }
    FUZZ_CHECK(outcome, SortedByName(list) == written,
               "the save wrote %zu entries, the list has %zu: wrote %s; list %s", written.size(),
               list.size(), Describe(written).c_str(), Describe(SortedByName(list)).c_str());
    ReleaseSettings();
    LoadSettingsFile();
    FUZZ_CHECK(outcome, IsSettingsFileActive() && !IsSettingsFileDamaged(),
               "the saved file did not load");
    FUZZ_CHECK(outcome, Loaded() == written, "the saved file loads as %s",
               Describe(Loaded()).c_str());
}

void RunSettings(Random& random, size_t, Outcome& outcome) {
    ReleaseSettings();
    std::string bytes;
    std::vector<Entry> expected;
    bool known = false; // the entries are known from the generator
    size_t kind = random.Below(10);
    if (kind < 5) {
        Encoding encoding = Encoding(random.Below(4));
        std::wstring text;
        const wchar_t* ends[] = {L"\r\n", L"\n", L"\r", L"\r\n\r\n", L"\n\r"};
        for (size_t n = random.Below(random.OneIn(20) ? 300 : 25); n > 0; n--)
            text += RandomLine(random, encoding) + ends[random.Below(5)];
        text += L"z=1\r\n"; // some plain ASCII, so that UTF-16 reads as UTF-16
        bytes = Encode(text, encoding);
        expected = ParseText(encoding == Ansi ? FromAnsi(bytes) : text);
        known = true;
    } else if (kind < 8) {
        // A well-formed file, mutated: bytes flipped, inserted, cut, a zero here and there.
        static const char pieces[][8] = {"=",  "\"", "\r", "\n", "bin:",     "\\",          " ",
                                         "\t", "A",  "z",  "0",  "\xFF\xFE", "\xEF\xBB\xBF"};
        Encoding encoding = Encoding(random.Below(4));
        std::wstring text;
        for (size_t n = random.Below(12); n > 0; n--)
            text += RandomLine(random, encoding) + L"\r\n";
        bytes = Encode(text, encoding);
        // A long file made of the short one; an empty one stays empty.
        if (random.OneIn(50) && !bytes.empty())
            while (bytes.size() < 200000)
                bytes += bytes;
        for (size_t m = 1 + random.Below(8); m > 0 && !bytes.empty(); m--) {
            size_t at = random.Below(bytes.size());
            switch (random.Below(5)) {
            case 0:
                bytes[at] = char(random.Next());
                break;
            case 1:
                bytes.insert(at, pieces[random.Below(13)]);
                break;
            case 2:
                bytes.erase(at, 1 + random.Below(4));
                break;
            case 3:
                bytes.insert(at, 1, '\0');
                break;
            default:
                bytes.resize(at);
                break;
            }
        }
    } else {
        // Random bytes after a random mark, with lone surrogates and no line ends at all.
        static const char marks[][4] = {"", "\xFF\xFE", "\xFE\xFF", "\xEF\xBB\xBF"};
        size_t size = random.OneIn(64) ? random.Below(300000) : random.Below(2048);
        bytes = marks[random.Below(4)];
        bool structured = random.Coin();
        while (bytes.size() < size) {
            if (structured && random.OneIn(3))
                bytes += "=\"\r\n\\ A0"[random.Below(8)];
            else if (random.OneIn(16))
                bytes += "\x00\xD8"[random.Below(2)];
            else
                bytes += char(random.Next());
        }
    }
    bool failingRead = random.OneIn(12);
    uint32_t failAt = uint32_t(random.Below(bytes.size() + 1));
    outcome.Input =
        (failingRead ? "a read failing after " + std::to_string(failAt) + " bytes of " : "") +
        std::string("file ") + fuzz::Escape(bytes, 6000);
    if (!fuzz::WriteFileBytes(IniPath, bytes)) {
        outcome.Fail("the settings file could not be written");
        return;
    }

    if (failingRead) {
        ReadsLeft = failAt;
        FileReadOverride = ReadFailingAt;
    }
    LoadSettingsFile();
    FileReadOverride = nullptr;
    if (failingRead) {
        FUZZ_CHECK(outcome, IsSettingsFileDamaged(), "a failed read did not damage the load");
        CheckDamaged(outcome, bytes);
        return;
    }
    if (IsSettingsFileDamaged()) {
        // Only a zero character keeps a file that can be read from being loaded.
        FUZZ_CHECK(outcome, bytes.find('\0') != std::string::npos,
                   "a file without a zero byte counted as damaged");
        FUZZ_CHECK(outcome, !known, "a file written from entries counted as damaged");
        CheckDamaged(outcome, bytes);
        return;
    }
    if (!IsSettingsFileActive()) {
        outcome.Fail("the file was not loaded");
        return;
    }
    bool saveSettings = true;
    std::vector<Entry> list = Loaded();
    if (known) {
        std::vector<Entry> settled = Settle(expected, &saveSettings);
        FUZZ_CHECK(outcome, list == settled, "loaded %s; expected %s", Describe(list).c_str(),
                   Describe(settled).c_str());
    } else {
        const Entry* save = nullptr;
        for (const Entry& e : list)
            if (e.Name == L"Global\\SaveSettings" && !save)
                save = &e;
        saveSettings = save && save->Value == L"1";
    }
    WriteThroughRegistry(random, outcome, list);
    FUZZ_CHECK(outcome, Loaded() == list, "after the writes the list is %s, expected %s",
               Describe(Loaded()).c_str(), Describe(list).c_str());
    CheckSave(outcome, list, saveSettings, bytes);
    ReleaseSettings();
}

fuzz::Registration SettingsCampaign({"settings",
                                     "Bundlo.ini: load, serve, save back, damaged never written",
                                     12000, 300, Prepare, RunSettings, Finish});

} // namespace
