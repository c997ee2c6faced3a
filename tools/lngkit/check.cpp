// Longer than most files: the checker reads a translation line by line as the program does and
// reports each kind of fault with its own wording; the kinds share the parsed lines.
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>

#include "common/file.h"
#include "common/paths.h"
#include "common/text.h"
#include "tools/lngkit/kit.h"

namespace {

// The texts the program takes are those of its text buffers: longer ones are cut.
const size_t ShownTextLimit = 1023;
// SIZE percentages the measurements cover.
const int SmallestPercent = 10;
const int LargestPercent = 500;

struct ToldLine {
    LanguageLineKind Kind;
    unsigned Number;
    std::wstring Text;
    std::string Key;
    uint32_t Entry;
    bool Wide;
};

void Keep(const LanguageLine& line, void* context) {
    static_cast<std::vector<ToldLine>*>(context)->push_back(
        {line.Kind, line.Number, std::wstring(line.Text, line.Length), line.Key ? line.Key : "",
         line.Entry, line.Wide});
}

// Findings of the whole file come first, then those of lines in line order, then the missing
// texts.
enum class Place { File, Line, End };

struct Finding {
    Place Where;
    unsigned Line;
    unsigned Order; // the line it is reported after: a note follows what it is about
    bool Error;
    std::wstring Text;
};

class Report {
  public:
    void Error(unsigned line, const std::wstring& text) { Add(line, true, text); }
    void Warning(unsigned line, const std::wstring& text) { Add(line, false, text); }
    void Note(unsigned line, unsigned after, const std::wstring& text) {
        Findings.push_back({line ? Place::Line : Place::End, line, std::max(line, after), false,
                            L"note: " + text});
    }
    void FileError(const std::wstring& text) {
        Findings.push_back({Place::File, 0, 0, true, L"error: " + text});
    }
    void FileWarning(const std::wstring& text) {
        Findings.push_back({Place::File, 0, 0, false, L"warning: " + text});
    }
    // Prints everything; the exit code.
    int Print(const wchar_t* name) {
        std::stable_sort(Findings.begin(), Findings.end(), [](const Finding& a, const Finding& b) {
            return a.Where != b.Where ? a.Where < b.Where : a.Order < b.Order;
        });
        int errors = 0, warnings = 0;
        for (const Finding& f : Findings) {
            bool note = f.Text.compare(0, 5, L"note:") == 0;
            errors += f.Error ? 1 : 0;
            warnings += !f.Error && !note ? 1 : 0;
            if (f.Where == Place::Line)
                ::Print(L"%s:%u: %s\n", name, f.Line, f.Text.c_str());
            else
                ::Print(L"%s: %s\n", name, f.Text.c_str());
        }
        ::Print(L"%s: %d error%s, %d warning%s\n", name, errors, errors == 1 ? L"" : L"s", warnings,
                warnings == 1 ? L"" : L"s");
        return errors > 0 ? 1 : 0;
    }

  private:
    void Add(unsigned line, bool error, const std::wstring& text) {
        Findings.push_back({line ? Place::Line : Place::End, line, line, error,
                            (error ? L"error: " : L"warning: ") + text});
    }
    std::vector<Finding> Findings;
};

std::wstring Count(int n, const wchar_t* one, const wchar_t* many) {
    return std::to_wstring(n) + L" " + (n == 1 ? one : many);
}

size_t Distance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); j++)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); i++) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); j++) {
            size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

bool IsKnownSection(const std::string& section) {
    if (section == "s")
        return true;
    for (const DialogNote& dialog : DialogNotes)
        if (section == std::string("$") + dialog.Name)
            return true;
    return false;
}

// What a key that is not in the key table was probably meant to be.
std::wstring Suggestion(const std::string& section, const std::string& item) {
    std::wstring elsewhere;
    std::string closest;
    size_t best = 4;
    for (const LanguageKeyRow& row : LanguageKeyTable) {
        std::string rowSection = KeySection(row.Key);
        if (item == KeyItem(row.Key)) {
            elsewhere += (elsewhere.empty() ? L"" : L", ") + SectionDirective(rowSection);
        } else if (rowSection == section) {
            size_t distance = Distance(item, KeyItem(row.Key));
            if (distance < best) {
                best = distance;
                closest = KeyItem(row.Key);
            }
        }
    }
    if (!elsewhere.empty())
        return L"; " + Widen(item) + L" belongs in " + elsewhere;
    if (!closest.empty())
        return L"; did you mean " + Widen(closest) + L"?";
    return L"";
}

// The first escape the parser does not know, or 0.
wchar_t UnknownEscape(const std::wstring& line) {
    for (size_t i = 0; i + 1 < line.size(); i++) {
        if (line[i] != L'\\')
            continue;
        if (wcschr(L"\"\\nrt", line[i + 1]) == nullptr)
            return line[i + 1];
        i++;
    }
    return 0;
}

bool IsRightToLeftLetter(wchar_t c) {
    // Hebrew, Syriac, Arabic, Thaana and the like, and their presentation forms.
    return (c >= 0x0590 && c <= 0x08FF) || (c >= 0xFB1D && c <= 0xFDFF) ||
           (c >= 0xFE70 && c <= 0xFEFC);
}

std::wstring ClosestDialog(const std::string& name) {
    for (const DialogNote& dialog : DialogNotes)
        if (Distance(name, dialog.Name) < 4)
            return L"; did you mean " + Widen(dialog.Name) + L"?";
    return L"";
}

// A line the parser ignored that was probably meant as an entry or a directive; null for a
// comment or a blank line.
const wchar_t* WhyIgnored(const std::wstring& line) {
    if (line.empty())
        return nullptr;
    wchar_t first = line[0];
    if (first == L':')
        return L"no section directive: those are :STRINGS, :DIALOG <name> and "
               L":DIRECTION LTR or RTL, in capitals at the start of the line";
    size_t word = line.find_first_not_of(L" \t");
    if (word == std::wstring::npos)
        return nullptr;
    wchar_t c = line[word];
    bool keyLike = IsAsciiLetter(c) || IsDigit(c) || c == L'_';
    if (!keyLike)
        return nullptr;
    if (word > 0)
        return L"an entry's key must begin the line, without blanks before it";
    if (!IsAsciiLetter(first))
        return L"an entry's key begins with a letter";
    return L"no blank, tab or comma after the key within the line's first 99 characters";
}

// The lines, read back into the bytes the program read them from, are UTF-8: the file was saved
// in UTF-8, which the program does not read.
bool LooksLikeUtf8(const std::vector<ToldLine>& lines, unsigned* line, std::wstring* meant) {
    bool anyHigh = false;
    for (const ToldLine& told : lines) {
        int size = WideCharToMultiByte(CP_ACP, 0, told.Text.data(), int(told.Text.size()), nullptr,
                                       0, nullptr, nullptr);
        std::string bytes(size_t(size > 0 ? size : 0), '\0');
        WideCharToMultiByte(CP_ACP, 0, told.Text.data(), int(told.Text.size()), &bytes[0], size,
                            nullptr, nullptr);
        bool high = false;
        for (char b : bytes)
            high = high || (unsigned char)b >= 0x80;
        if (!high)
            continue;
        if (!IsValidUtf8(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()))
            return false;
        if (!anyHigh) {
            anyHigh = true;
            *line = told.Number;
            std::vector<wchar_t> wide(bytes.size() + 1);
            Utf8ToWide(bytes.c_str(), wide.data(), wide.size());
            *meant = wide.data();
        }
    }
    return anyHigh;
}

// One dialog's measurements: for every SIZE width percent, the height percent its texts need
// (-1: no height makes them fit at that width).
struct DialogNeeds {
    std::vector<int> Heights;
};

struct Clipped {
    int Dpi;
    int NeedWidth, HasWidth, NeedHeight, HasHeight;
};

bool ReadMeasurements(const std::vector<std::string>& runs,
                      std::map<std::string, DialogNeeds>& needs,
                      std::map<std::string, std::vector<Clipped>>& clipped) {
    for (const std::string& run : runs) {
        std::istringstream in(run);
        int dpi = 0;
        std::string word, dialog, item;
        while (in >> word) {
            if (word == "dpi") {
                in >> dpi;
            } else if (word == "control") {
                Clipped c = {dpi, 0, 0, 0, 0};
                in >> dialog >> item >> c.NeedWidth >> c.HasWidth >> c.NeedHeight >> c.HasHeight;
                if (c.NeedWidth > c.HasWidth || c.NeedHeight > c.HasHeight)
                    clipped["$" + dialog + ":" + item].push_back(c);
            } else if (word == "need") {
                in >> dialog;
                std::vector<int>& heights = needs[dialog].Heights;
                heights.resize(LargestPercent + 1, 0);
                for (int width = SmallestPercent; width <= LargestPercent; width++) {
                    int height = -1;
                    in >> height;
                    if (heights[width] != -1)
                        heights[width] = height < 0 ? -1 : std::max(heights[width], height);
                }
            }
            if (!in)
                return false;
        }
        if (dpi == 0)
            return false;
    }
    return !runs.empty();
}

class Checker {
  public:
    Checker(const wchar_t* path) : Path(path) {}
    int Run(const wchar_t* shownName);

  private:
    void ReadEntry(const ToldLine& line);
    void CompareWithEnglish(const ToldLine& line, const LanguageKeyRow& row,
                            const std::wstring& text);
    void ReportMissing();
    void ReportDirection(bool sawRightToLeftText);
    void ReportClipped();
    void ReportSharedAccessKeys();

    const wchar_t* Path;
    Report Out;
    std::vector<ToldLine> Lines;
    std::map<std::string, unsigned> KeyLines;     // each key of the table given, and its line
    std::map<std::string, std::wstring> Texts;    // and its text, as the program reads it
    std::map<std::string, unsigned> SectionLines; // the first line of each section
    std::map<std::string, int> UnknownSections;   // entries of sections the program never reads
    std::map<std::string, unsigned> UnknownSectionLines;
};

void Checker::CompareWithEnglish(const ToldLine& line, const LanguageKeyRow& row,
                                 const std::wstring& text) {
    std::wstring key = Widen(KeyItem(row.Key));
    std::wstring english;
    EnglishText(row, english);
    if (std::string(KeyItem(row.Key)) == "SIZE") {
        // As the program reads it: a width and a height percent around a "*".
        size_t star = text.find(L'*');
        bool readable = star != std::wstring::npos && ParseInt64(text.c_str()) > 0 &&
                        ParseInt64(text.c_str() + star + 1) > 0;
        if (!readable)
            Out.Warning(line.Number, L"SIZE \"" + text +
                                         L"\" is not read as a size: write <width percent>*<height "
                                         L"percent>, such as 120*100");
        return;
    }
    TextMarks want = CountMarks(english), have = CountMarks(text);
    if (have.Placeholders < want.Placeholders)
        Out.Error(line.Number, key + L": \"%s\" is missing; the English text has it, and the "
                                     L"program fills it in");
    else if (have.Placeholders > want.Placeholders)
        Out.Error(line.Number,
                  key + L": \"%s\" " + Count(have.Placeholders, L"time", L"times") +
                      L", in the English text " + std::to_wstring(want.Placeholders) +
                      (want.Placeholders == 0 ? L": the program shows it as it stands"
                                              : L": the program fills in only the first"));
    if (have.OtherPercents > want.OtherPercents)
        Out.Warning(line.Number, key + L": only \"%s\" is filled in; another '%' and the letter "
                                       L"after it show as they stand");
    if (want.LineBreaks != have.LineBreaks)
        Out.Warning(line.Number, key + L": the English text has " +
                                     Count(want.LineBreaks, L"line break", L"line breaks") +
                                     L" (\\n), this one " + std::to_wstring(have.LineBreaks));
    if (KeySection(row.Key) != "s" && want.AccessKeys != have.AccessKeys)
        Out.Warning(line.Number, key + L": the English text marks " +
                                     Count(want.AccessKeys, L"access key", L"access keys") +
                                     L" with \"&\", this one " + std::to_wstring(have.AccessKeys) +
                                     L" (write \"&&\" for an \"&\" that shows)");
    if (wchar_t escape = UnknownEscape(line.Text))
        Out.Warning(line.Number, std::wstring(L"\"\\") + escape +
                                     L"\" is no escape: the backslash shows as it stands (\\\\ "
                                     L"is a backslash)");
    if (text.empty() && !english.empty())
        Out.Warning(line.Number, key + L": the text is empty and shows as nothing");
    if (text.size() > ShownTextLimit)
        Out.Error(line.Number, key + L": the text is " + std::to_wstring(text.size()) +
                                   L" characters long; the program cuts it at " +
                                   std::to_wstring(ShownTextLimit));
    const StringNote* note = FindStringNote(row.Key);
    if (note && note->Use == TextUse::PlainName && !IsPlainFileName(text.c_str()))
        Out.Error(line.Number, key + L": the program names a file with this text, so it must be "
                                     L"one plain file name (no \\ / : * ? \" < > |, no dot or "
                                     L"blank at the end); the English name is used instead");
    if (note && note->Use == TextUse::WebAddress && !IsWebAddress(text.c_str()))
        Out.Error(line.Number, key + L": the program opens this text in a browser, so it must "
                                     L"be an http:// or https:// address; the English one is "
                                     L"opened instead");
}

void Checker::ReadEntry(const ToldLine& line) {
    std::string keySection = KeySection(line.Key.c_str());
    std::string item = KeyItem(line.Key.c_str());
    if (!IsKnownSection(keySection)) {
        UnknownSections[keySection]++;
        return;
    }
    const LanguageKeyRow* row = FindKeyRow(line.Key.c_str());
    if (row == nullptr) {
        Out.Error(line.Number, L"unknown key " + Widen(item) + L" in " +
                                   SectionDirective(keySection) + L": the program never reads it" +
                                   Suggestion(keySection, item));
        return;
    }
    auto given = KeyLines.find(line.Key);
    if (given != KeyLines.end()) {
        Out.Error(line.Number, Widen(item) + L" again (first on line " +
                                   std::to_wstring(given->second) +
                                   L"): the program takes either text");
        return;
    }
    KeyLines[line.Key] = line.Number;
    Texts[line.Key] = Language.Entries[line.Entry].Text;
    CompareWithEnglish(line, *row, Texts[line.Key]);
}

void Checker::ReportMissing() {
    std::map<std::string, std::wstring> missing;
    std::map<std::string, int> counts;
    for (const LanguageKeyRow& row : LanguageKeyTable) {
        const StringNote* note = FindStringNote(row.Key);
        if (std::string(KeyItem(row.Key)) == "SIZE" || (note && note->Use == TextUse::Unused) ||
            KeyLines.count(row.Key))
            continue;
        std::string section = KeySection(row.Key);
        missing[section] += L" " + Widen(KeyItem(row.Key));
        counts[section]++;
    }
    for (const auto& section : missing)
        Out.Warning(0, SectionDirective(section.first) + L" lacks " +
                           Count(counts[section.first], L"text", L"texts") +
                           L", shown in English:" + section.second);
}

void Checker::ReportDirection(bool sawRightToLeftText) {
    unsigned directionLine = 0;
    for (const ToldLine& line : Lines) {
        if (line.Kind != LanguageLineKind::Direction)
            continue;
        directionLine = line.Number;
        // The name as the parser takes it: after blanks, up to a blank or control character.
        size_t start = line.Text.find_first_not_of(L" \t", 10);
        std::wstring name;
        for (size_t i = start; i != std::wstring::npos && i < line.Text.size(); i++) {
            if (unsigned(line.Text[i]) <= 32)
                break;
            name += line.Text[i];
        }
        if (name != L"RTL" && name != L"LTR")
            Out.Warning(line.Number, L"\":DIRECTION " + name +
                                         L"\" reads as left to right: only RTL, in capitals, "
                                         L"means right to left");
    }
    if (Language.RightToLeft && !sawRightToLeftText)
        Out.Warning(directionLine, L"right to left, but no text is in a right-to-left script");
    if (!Language.RightToLeft && sawRightToLeftText)
        Out.Warning(directionLine, L"texts in a right-to-left script, but the file does not say "
                                   L"\":DIRECTION RTL\"");
}

void Checker::ReportClipped() {
    std::vector<std::string> runs;
    std::map<std::string, DialogNeeds> needs;
    std::map<std::string, std::vector<Clipped>> clipped;
    if (!RenderAtEachDpi(nullptr, Path, &runs) || !ReadMeasurements(runs, needs, clipped)) {
        Out.FileError(L"the dialogs could not be measured (they need a display)");
        return;
    }
    std::wstring dpis = L"at";
    for (size_t i = 0; i < RenderDpiCount; i++)
        dpis += (i == 0                   ? L" "
                 : i + 1 < RenderDpiCount ? L", "
                                          : L" and ") +
                std::to_wstring(RenderDpis[i]);
    dpis += L" DPI";
    for (const DialogNote& dialog : DialogNotes) {
        std::string section = std::string("$") + dialog.Name;
        bool any = false;
        unsigned lastLine = 0;
        // `keys` are the keys of the text's lines, in table order; the first given is reported.
        auto report = [&](const std::string& measured, const std::wstring& what,
                          const std::vector<std::string>& keys) {
            auto found = clipped.find(measured);
            if (found == clipped.end() || found->second.empty())
                return;
            any = true;
            std::wstring text =
                Widen(dialog.Name) + L" " + what + L": the text does not fit its control";
            for (const Clipped& c : found->second)
                text += (&c == &found->second[0] ? L" at " : L", at ") + std::to_wstring(c.Dpi) +
                        L" DPI (it needs " + std::to_wstring(c.NeedWidth) + L" x " +
                        std::to_wstring(c.NeedHeight) + L" pixels, has " +
                        std::to_wstring(c.HasWidth) + L" x " + std::to_wstring(c.HasHeight) + L")";
            unsigned reported = 0;
            for (const std::string& key : keys)
                if (reported == 0 && KeyLines.count(key))
                    reported = KeyLines[key];
            if (reported == 0) {
                text += L"; its text is the English one";
                reported = SectionLines[KeySection(keys[0].c_str())];
            }
            Out.Error(reported, text);
            lastLine = std::max(lastLine, reported);
        };
        for (const LanguageKeyRow& row : LanguageKeyTable)
            if (KeySection(row.Key) == section)
                report(row.Key, Widen(KeyItem(row.Key)), {row.Key});
        for (const AssembledText& assembled : AssembledTexts) {
            if (assembled.Dialog != std::string(dialog.Name))
                continue;
            std::vector<std::string> keys;
            bool within = false;
            for (const LanguageKeyRow& row : LanguageKeyTable) {
                within = within || strcmp(row.Key, assembled.FirstKey) == 0;
                if (within)
                    keys.push_back(row.Key);
                within = within && strcmp(row.Key, assembled.LastKey) != 0;
            }
            report(section + ":" + assembled.Item,
                   Widen(assembled.Item) + L" (" + Widen(KeyItem(assembled.FirstKey)) + L" to " +
                       Widen(KeyItem(assembled.LastKey)) + L")",
                   keys);
        }
        if (!any)
            continue;
        int width = 100, height = 100;
        GetDialogScale(Widen(dialog.Name).c_str(), &width, &height);
        const std::vector<int>& heights = needs[dialog.Name].Heights;
        int bestWidth = 0, bestHeight = 0;
        for (int w = std::max(width, SmallestPercent);
             w <= LargestPercent && w < int(heights.size()); w++) {
            if (heights[w] < 0)
                continue;
            int h = std::max(heights[w], height);
            // The smallest correction: the least growth in all, a wider dialog before a taller.
            int growth = w + h, best = bestWidth + bestHeight;
            if (bestWidth == 0 || growth < best || (growth == best && h < bestHeight))
                bestWidth = w, bestHeight = h;
        }
        std::string sizeKey = section + ":SIZE";
        unsigned line = KeyLines.count(sizeKey) ? KeyLines[sizeKey] : SectionLines[section];
        std::wstring where = KeyLines.count(sizeKey) ? L""
                             : line != 0
                                 ? L" (add it to the section)"
                                 : L" (add it in a section " + SectionDirective(section) + L")";
        if (bestWidth == 0)
            Out.Note(line, lastLine,
                     Widen(dialog.Name) + L": no SIZE up to " + std::to_wstring(LargestPercent) +
                         L"*" + std::to_wstring(LargestPercent) +
                         L" makes its texts fit: shorten them");
        else if (bestWidth != width || bestHeight != height)
            Out.Note(line, lastLine,
                     Widen(dialog.Name) + L": SIZE " + std::to_wstring(bestWidth) + L"*" +
                         std::to_wstring(bestHeight) + L" makes every text fit " + dpis + where);
    }
}

// Alt and a letter that two controls of a dialog share reaches only one of them. Every control
// text with an access key counts, labels too: a label's key moves the focus to the control after
// it, so its letter is as taken as a button's.
void Checker::ReportSharedAccessKeys() {
    for (const DialogNote& dialog : DialogNotes) {
        std::string section = std::string("$") + dialog.Name;
        std::map<wchar_t, const char*> taken; // each letter and the first control that has it
        for (const LanguageKeyRow& row : LanguageKeyTable) {
            std::string item = KeyItem(row.Key);
            if (KeySection(row.Key) != section || item == "CAPTION" || item == "SIZE")
                continue;
            auto given = Texts.find(row.Key);
            std::wstring text;
            if (given != Texts.end())
                text = given->second;
            else
                EnglishText(row, text);
            wchar_t letter = AccessKey(text);
            if (letter == 0)
                continue;
            auto first = taken.emplace(letter, row.Key);
            if (first.second)
                continue;
            const char* other = first.first->second;
            // Reported with the later of the two lines that set them, or the section's when
            // both texts are the English ones.
            unsigned line = std::max(KeyLines.count(other) ? KeyLines[other] : 0,
                                     KeyLines.count(row.Key) ? KeyLines[row.Key] : 0);
            Out.Error(line ? line : SectionLines[section],
                      Widen(dialog.Name) + L" " + Widen(KeyItem(other)) + L" and " + Widen(item) +
                          L": both have the access key \"" + letter + L"\": Alt+" + letter +
                          L" reaches only one of them; give each its own letter");
        }
    }
}

int Checker::Run(const wchar_t* shownName) {
    LoadLanguageFile(Path, Keep, &Lines);
    if (Lines.empty() || Lines[0].Kind != LanguageLineKind::Marker) {
        File probe;
        Out.FileError(probe.Open(Path, File::OpenShareWrite)
                          ? L"no start marker \"***messages***\", neither in an 8-bit code page "
                            L"nor in UTF-16 LE: the program reads nothing of the file"
                          : L"the file cannot be opened");
        return Out.Print(shownName);
    }
    if (Lines[0].Wide) {
        Print(L"%s: read as UTF-16 LE from the start marker on line %u\n", shownName,
              Lines[0].Number);
    } else {
        Print(L"%s: read in the ANSI code page %u from the start marker on line %u\n", shownName,
              GetACP(), Lines[0].Number);
        unsigned utf8Line = 0;
        std::wstring meant;
        bool nonAscii = false;
        for (const ToldLine& line : Lines)
            for (wchar_t c : line.Text)
                nonAscii = nonAscii || c >= 0x80;
        if (LooksLikeUtf8(Lines, &utf8Line, &meant))
            Out.FileError(
                L"the file is UTF-8, which the program reads in the ANSI code page (line " +
                std::to_wstring(utf8Line) + L" meant \"" + meant + L"\"): save it as UTF-16 LE");
        else if (nonAscii)
            Out.FileWarning(L"texts beyond ASCII read as meant only where the ANSI code page is " +
                            std::to_wstring(GetACP()) +
                            L": save the file as UTF-16 LE to be read the same everywhere");
    }
    Print(L"%s: reading direction: %s\n", shownName,
          Language.RightToLeft ? L"right to left" : L"left to right");

    std::string section = "s";
    SectionLines["s"] = 0;
    bool sawRightToLeftText = false;
    for (const ToldLine& line : Lines) {
        switch (line.Kind) {
        case LanguageLineKind::Section:
            section = line.Key.substr(0, line.Key.size() - 1);
            if (!SectionLines.count(section) || SectionLines[section] == 0)
                SectionLines[section] = line.Number;
            if (!IsKnownSection(section) && !UnknownSectionLines.count(section))
                UnknownSectionLines[section] = line.Number;
            break;
        case LanguageLineKind::Entry:
            for (const wchar_t* c = Language.Entries[line.Entry].Text; *c; c++)
                sawRightToLeftText = sawRightToLeftText || IsRightToLeftLetter(*c);
            ReadEntry(line);
            break;
        case LanguageLineKind::Ignored:
            if (const wchar_t* why = WhyIgnored(line.Text))
                Out.Warning(line.Number, L"line ignored: " + std::wstring(why));
            break;
        default:
            break;
        }
    }
    for (const auto& unknown : UnknownSections) {
        bool menu = unknown.first[0] == '@';
        Out.Error(UnknownSectionLines[unknown.first],
                  SectionDirective(unknown.first) + L": " +
                      (menu ? L"Uninstall.exe has no menus"
                            : L"Uninstall.exe has no dialog of that name") +
                      L", so its " + Count(unknown.second, L"entry is", L"entries are") +
                      L" never read" + (menu ? L"" : ClosestDialog(unknown.first.substr(1))));
    }
    ReportMissing();
    ReportDirection(sawRightToLeftText);
    ReportSharedAccessKeys();
    ReportClipped();
    return Out.Print(shownName);
}

} // namespace

int CheckTranslation(const wchar_t* path, const wchar_t* shownName) {
    Checker checker(path);
    return checker.Run(shownName);
}
