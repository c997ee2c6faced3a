// "uninstall.lng": random and damaged language files, each written and loaded through the real
// parser (the campaign that the unit test RandomAndDamagedFiles started). Whatever the file, every
// entry and every lookup stays within its capacity (a guard behind each output buffer) and ends
// in a terminator; a file left undamaged gives exactly the entries written, by key, by string
// id, by dialog item, as a dialog's size and through the numbered strings of the program.
#include <windows.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "lang/langfile.h"
#include "lang/localise.h"
#include "tests/fuzz/fuzz.h"
#include "tests/unit/test_support.h"

namespace {
using fuzz::Guarded;
using fuzz::Outcome;
using fuzz::Random;

std::wstring Wide(const char* text) {
    return std::wstring(text, text + strlen(text));
}

std::wstring FilePath;
HANDLE Writer = INVALID_HANDLE_VALUE;
std::wstring Scratch;
size_t EntriesChecked = 0;

void Prepare() {
    Scratch = fuzz::MakeScratchFolder(L"lng");
    FilePath = Scratch + L"\\random.lng";
    // One writer stays open throughout, as an editor may hold the file while it is read.
    Writer = CreateFileW(FilePath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, CREATE_ALWAYS, 0, nullptr);
}

void Finish(Outcome& outcome) {
    FUZZ_CHECK(outcome, Writer != INVALID_HANDLE_VALUE, "the language file could not be made");
    CloseHandle(Writer);
    Language.Clear();
    fuzz::RemoveTree(Scratch);
    fuzz::AddFigure("entries of undamaged files checked", EntriesChecked);
}

// Every text of each key, in the order of the file: a key that occurs more than once may give
// any of its texts (which of them is not defined).
typedef std::map<std::string, std::vector<std::wstring>> Texts;

struct Expected {
    Texts Entries;
    bool RightToLeft = false;
};

// The file as a translator might write it, and what it must give.
std::wstring MakeBody(Random& random, bool wide, Expected& expected) {
    auto pick = [&](size_t n) { return random.Below(n); };
    const wchar_t plain[] = L"abcXYZ019 .,;:-*/";
    const wchar_t foreign[] = L"\x00e4\x0411\x05e9\x4e2d";
    const wchar_t* const escapes[][2] = {{L"\\n", L"\n"},  {L"\\t", L"\t"},  {L"\\r", L"\r"},
                                         {L"\\\\", L"\\"}, {L"\\\"", L"\""}, {L"\\q", L"\\q"}};
    const wchar_t* const lineEnds[] = {L"\r\n", L"\n", L"\r"};
    auto plainChar = [&] {
        return wide && pick(4) == 0 ? foreign[pick(4)] : plain[pick(sizeof plain / 2 - 1)];
    };
    std::string prefix = "s:";
    std::wstring body = L"***messages***";
    if (pick(3) == 0)
        body += L" (" + std::to_wstring(pick(100000)) + L") K0 marker line";
    int lines = random.OneIn(97) ? 400 : int(pick(25));
    bool longText = random.OneIn(500);
    for (int line = 0; line < lines; line++) {
        body += lineEnds[pick(3)];
        size_t kind = pick(14);
        if (kind == 0) {
            std::string name = pick(4) == 0 ? "" : "D" + std::to_string(pick(1000));
            const char* keyword[] = {"STRINGS", "DIALOG", "MENU"};
            size_t k = pick(3);
            body += L":" + Wide(keyword[k]) + (pick(2) ? L" " : L"\t") + Wide(name.c_str());
            prefix = k == 0 ? "s:" : (k == 1 ? "$" : "@") + name + ":";
        } else if (kind == 1) {
            expected.RightToLeft = pick(2) == 0;
            body += expected.RightToLeft ? L":DIRECTION RTL" : L":DIRECTION LTR";
        } else if (kind == 2) {
            // An identifier alone, or with its separator too far from the line start.
            size_t length = 1 + pick(150);
            body += L"J" + std::wstring(length, L'j') + (length >= 98 ? L" text" : L"");
        } else if (kind == 3) {
            // Comments, unknown directives and other lines that are no entry.
            const wchar_t* starts[] = {L";", L" ", L"\t", L":x", L"9", L"\\"};
            body += starts[pick(6)];
            for (size_t i = pick(random.OneIn(31) ? 300 : 40); i > 0; i--)
                body += pick(6) == 0 ? L'\\' : pick(6) == 0 ? L'"' : plainChar();
        } else if (kind == 4) {
            // A row of the program's key table, in the section it belongs to.
            const LanguageKeyRow& row = LanguageKeyTable[pick(LanguageKeyCount)];
            std::string key = row.Key;
            size_t colon = key.find(':');
            std::string section = key.substr(0, colon + 1), item = key.substr(colon + 1);
            if (section != prefix) {
                body += section == "s:" ? L":STRINGS"
                                        : L":DIALOG " + Wide(section.substr(1, colon - 1).c_str());
                body += lineEnds[pick(3)];
                prefix = section;
            }
            std::wstring text;
            for (size_t i = pick(random.OneIn(20) ? 1500 : 40); i > 0; i--)
                text += plainChar();
            text = L"t" + text + L"e";
            body += Wide(item.c_str()) + L" \"" + text + L"\"";
            expected.Entries[key].push_back(text);
        } else if (kind == 5) {
            // A dialog's size correction, in percent of width and height.
            const char* dialogs[] = {"SETUPDLG", "DONEDLG", "SETUPCONTEXTITEMS", "D1"};
            std::string dialog = dialogs[pick(4)];
            if ("$" + dialog + ":" != prefix) {
                body += L":DIALOG " + Wide(dialog.c_str());
                body += lineEnds[pick(3)];
                prefix = "$" + dialog + ":";
            }
            const wchar_t* numbers[] = {
                L"100",        L"120",        L"0",  L"-5", L"99999999999",         L"1",
                L"2147483647", L"2147483648", L"85", L"x",  L"18446744073709551716"};
            std::wstring text =
                std::wstring(numbers[pick(11)]) + (pick(8) ? L"*" : L"") + numbers[pick(11)];
            body += L"SIZE " + text;
            expected.Entries[prefix + "SIZE"].push_back(text);
        } else {
            std::string ident = "K" + std::to_string(line);
            if (pick(15) == 0)
                ident += "_" + std::string(40 + pick(50), 'L');
            std::wstring raw, text;
            size_t length = longText && line == 0 ? 70000 : pick(30);
            for (size_t i = 0; i < length; i++) {
                size_t e = pick(12);
                // Bare texts keep quotes and blanks away from their ends.
                bool end = i == 0 || i + 1 == length;
                wchar_t c = end ? L'a' + wchar_t(pick(26)) : plainChar();
                raw += e < 6 && !end ? escapes[e][0] : std::wstring(1, c);
                text += e < 6 && !end ? escapes[e][1] : std::wstring(1, c);
            }
            if (length > LanguageTextCapacity)
                raw = text = std::wstring(length, L'x');
            else if (pick(2) == 0 || length == 0)
                raw = L"\"" + raw + L"\"" + (pick(3) == 0 ? L" \t" : L"");
            const wchar_t* separators[] = {L" ", L"\t", L",", L" \t ", L",  "};
            body += Wide(ident.c_str()) + separators[pick(5)] + raw;
            expected.Entries[(prefix + ident).substr(0, LanguageKeyCapacity - 1)].push_back(
                text.substr(0, LanguageTextCapacity));
        }
    }
    return body;
}

std::wstring Cut(const std::wstring& text, size_t capacity) {
    return capacity == 0 ? L"" : text.substr(0, capacity - 1);
}

// One lookup into a guarded buffer: within the capacity, and when it finds something terminated
// and (when `want` is given) exactly the wanted text cut to the capacity. A lookup that finds
// nothing may leave the buffer as it was: its callers look at the result.
template <typename Lookup>
void CheckLookup(Outcome& outcome, const char* what, const std::string& key, size_t capacity,
                 Lookup lookup, const std::vector<std::wstring>* want) {
    Guarded buffer(capacity);
    bool found = lookup(buffer.Data(), capacity);
    FUZZ_CHECK(outcome, buffer.GuardIntact(), "%s %s wrote past its capacity %zu", what,
               key.c_str(), capacity);
    FUZZ_CHECK(outcome, !found || buffer.Terminated(), "%s %s left no terminator within %zu", what,
               key.c_str(), capacity);
    if (!want)
        return;
    FUZZ_CHECK(outcome, found, "%s %s not found", what, key.c_str());
    if (!found || !buffer.Terminated())
        return;
    bool one = false;
    for (const std::wstring& text : *want)
        one = one || buffer.Text() == Cut(text, capacity);
    FUZZ_CHECK(outcome, one, "%s %s with capacity %zu gave %s, expected %s%s", what, key.c_str(),
               capacity, fuzz::Escape(buffer.Text(), 200).c_str(),
               fuzz::Escape(Cut(want->back(), capacity), 200).c_str(),
               want->size() > 1 ? " or another of its texts" : "");
}

// The size correction as the file format defines it: two positive percentages that fit an int,
// not both 100.
bool ReferenceScale(const std::wstring& text, int* width, int* height) {
    size_t star = text.find(L'*');
    if (star == std::wstring::npos)
        return false;
    // A sign, then digits; a number too large for any percentage stays too large.
    auto number = [](const std::wstring& text) -> long long {
        size_t i = text.size() > 0 && text[0] == L'-' ? 1 : 0;
        long long value = 0;
        for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; i++)
            value = value > 100000000000ll ? value : value * 10 + (text[i] - L'0');
        return text.size() > 0 && text[0] == L'-' ? -value : value;
    };
    long long w = number(text.substr(0, star)), h = number(text.substr(star + 1));
    if (w <= 0 || h <= 0 || w > INT_MAX || h > INT_MAX || (w == 100 && h == 100))
        return false;
    *width = int(w);
    *height = int(h);
    return true;
}

void RunLanguageFile(Random& random, size_t, Outcome& outcome) {
    auto pick = [&](size_t n) { return random.Below(n); };
    bool wide = pick(2) == 1;
    Expected expected;
    std::wstring body = MakeBody(random, wide, expected);
    std::string bytes = std::string(random.OneIn(50) ? 8100 + pick(200) : pick(64), 'p');
    for (char& c : bytes)
        c = char(random.Next());
    bytes += Bytes(body, wide);
    if (random.OneIn(4000))
        bytes += Bytes(std::wstring(LanguageReadLimit / (wide ? 2 : 1), L'\n'), wide);
    bool damaged = pick(2) == 0;
    for (size_t k = damaged ? 1 + pick(4) : 0; k > 0 && !bytes.empty(); k--) {
        size_t at = pick(bytes.size());
        size_t what = pick(4);
        if (what == 0)
            bytes[at] = char(random.Next());
        else if (what == 1)
            bytes.insert(at, 1, "\\\r\n\"\0:* ,"[pick(9)]);
        else if (what == 2)
            bytes.erase(at, 1 + pick(8));
        else
            bytes.resize(at);
    }
    outcome.Input = std::string(damaged ? "damaged " : "") + (wide ? "UTF-16 " : "ANSI ") +
                    "file " + fuzz::Escape(bytes, 6000);

    DWORD written = 0;
    SetFilePointer(Writer, 0, nullptr, FILE_BEGIN);
    if (!WriteFile(Writer, bytes.data(), DWORD(bytes.size()), &written, nullptr) ||
        !SetEndOfFile(Writer)) {
        outcome.Fail("the language file could not be written");
        return;
    }
    LoadLanguageFile(FilePath.c_str());

    FUZZ_CHECK(outcome, Language.Entries.Count == Language.EntryIndex.Count,
               "%u entries but %u in the index", Language.Entries.Count, Language.EntryIndex.Count);
    Texts loaded;
    for (uint32_t i = 0; i < Language.Entries.Count; i++) {
        const LanguageEntry& entry = Language.Entries[i];
        if (strnlen(entry.Key, LanguageKeyCapacity) >= LanguageKeyCapacity ||
            wcsnlen(entry.Text, LanguageTextCapacity + 1) > LanguageTextCapacity) {
            outcome.Fail("entry %u is longer than its capacity", i);
            return;
        }
        loaded[entry.Key].push_back(entry.Text);
    }
    // Every entry by its key, at a capacity near its length; what a damaged file gives must at
    // least be served back as it was loaded.
    size_t looked = 0;
    for (const auto& entry : loaded) {
        if (looked++ > 60 && !random.OneIn(20))
            continue;
        size_t capacity = fuzz::CapacityAround(random, entry.second.back().size());
        CheckLookup(
            outcome, "FindText", entry.first, capacity,
            [&](wchar_t* out, size_t cap) { return FindText(entry.first.c_str(), out, cap); },
            &entry.second);
    }
    // Keys that are not there, close to those that are.
    for (int i = 0; i < 4 && !loaded.empty(); i++) {
        std::string key = loaded.begin()->first;
        key += "x";
        if (loaded.count(key) || key.size() >= LanguageKeyCapacity)
            continue;
        Guarded buffer(8);
        FUZZ_CHECK(outcome, !FindText(key.c_str(), buffer.Data(), 8), "FindText found %s",
                   key.c_str());
    }
    if (!damaged) {
        FUZZ_CHECK(outcome, expected.Entries == loaded, "%zu entries loaded, %zu written%s",
                   loaded.size(), expected.Entries.size(),
                   expected.Entries.size() == loaded.size() ? " (texts or keys differ)" : "");
        FUZZ_CHECK(outcome, expected.RightToLeft == Language.RightToLeft,
                   "reading direction %d, expected %d", Language.RightToLeft, expected.RightToLeft);
        EntriesChecked += expected.Entries.size();
    }
    const Texts& truth = damaged ? loaded : expected.Entries;

    // Numbered strings: by id from the file, and through LoadTextInto and LoadText, which fall
    // back to the program's own texts.
    for (size_t row = 0; row < LanguageKeyCount; row++) {
        const LanguageKeyRow& key = LanguageKeyTable[row];
        if (strncmp(key.Key, "s:", 2) != 0)
            continue;
        auto it = truth.find(key.Key);
        size_t capacity =
            fuzz::CapacityAround(random, it != truth.end() ? it->second.back().size() : 20);
        CheckLookup(
            outcome, "FindTextById", key.Key, capacity,
            [&](wchar_t* out, size_t cap) { return FindTextById(key.Id, out, cap); },
            it != truth.end() ? &it->second : nullptr);
        if (it == truth.end()) {
            Guarded buffer(4);
            FUZZ_CHECK(outcome, !FindTextById(key.Id, buffer.Data(), 4), "%s found by id", key.Key);
        }
        std::vector<std::wstring> own;
        if (it == truth.end()) {
            wchar_t text[4096] = L"";
            LoadStringW(nullptr, key.Id, text, 4096);
            own.push_back(text);
        }
        const std::vector<std::wstring>& want = it != truth.end() ? it->second : own;
        CheckLookup(
            outcome, "LoadTextInto", key.Key, capacity,
            [&](wchar_t* out, size_t cap) {
                LoadTextInto(key.Id, out, cap);
                return true;
            },
            &want);
        std::wstring ring = LoadText(key.Id);
        bool one = false;
        for (const std::wstring& text : want)
            one = one || ring == Cut(text, TextRingCapacity);
        FUZZ_CHECK(outcome, one, "LoadText %s gave %s", key.Key, fuzz::Escape(ring, 200).c_str());
    }
    // Dialog items and the size corrections.
    for (const auto& entry : truth) {
        if (entry.first[0] != '$')
            continue;
        size_t colon = entry.first.find(':');
        // The program looks up its own dialogs and items, all ASCII.
        if (colon == std::string::npos ||
            std::find_if(entry.first.begin(), entry.first.end(), [](char c) {
                return static_cast<unsigned char>(c) >= 0x80;
            }) != entry.first.end())
            continue;
        std::wstring dialog = Wide(entry.first.substr(1, colon - 1).c_str());
        std::wstring item = Wide(entry.first.substr(colon + 1).c_str());
        size_t capacity = fuzz::CapacityAround(random, entry.second.back().size());
        CheckLookup(
            outcome, "FindDialogText", entry.first, capacity,
            [&](wchar_t* out, size_t cap) {
                return FindDialogText(dialog.c_str(), item.c_str(), out, cap);
            },
            &entry.second);
        if (item == L"SIZE") {
            int width = -1, height = -1;
            bool scaled = GetDialogScale(dialog.c_str(), &width, &height);
            bool one = false;
            for (const std::wstring& text : entry.second) {
                int wantWidth = -1, wantHeight = -1;
                bool wantScaled = ReferenceScale(text.substr(0, 511), &wantWidth, &wantHeight);
                one = one || (scaled == wantScaled &&
                              (!scaled || (width == wantWidth && height == wantHeight)));
            }
            FUZZ_CHECK(outcome, one, "size %s of %s read as %d (%d*%d)",
                       fuzz::Escape(entry.second.back(), 100).c_str(), entry.first.c_str(), scaled,
                       width, height);
        }
    }
}

fuzz::Registration LanguageFileCampaign({"langfile",
                                         "uninstall.lng: random and damaged files, every lookup",
                                         25000, 300, Prepare, RunLanguageFile, Finish});

} // namespace
