// The language file read from real files: both encodings and the start marker, the line syntax,
// the lookups by key, dialog and string id, and the cuts.
#include <gtest/gtest.h>

#include <windows.h>
#include <stdio.h>
#include <string.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "common/paths.h"
#include "fixtures.h"
#include "lang/langfile.h"
#include "raw_files.h"
#include "test_support.h"

namespace {

const char* const None = "<none>";

std::wstring Wide(const char* text) {
    return std::wstring(text, text + strlen(text));
}

std::wstring Text(const char* key) {
    std::vector<wchar_t> buffer(LanguageTextCapacity + 1);
    return FindText(key, buffer.data(), buffer.size()) ? buffer.data() : Wide(None);
}

std::wstring Id(unsigned id) {
    wchar_t buffer[1024];
    return FindTextById(id, buffer, 1024) ? buffer : Wide(None);
}

std::wstring Dialog(const wchar_t* dialog, const wchar_t* item) {
    wchar_t buffer[1024];
    return FindDialogText(dialog, item, buffer, 1024) ? buffer : Wide(None);
}

std::map<std::string, std::wstring> AllEntries() {
    std::map<std::string, std::wstring> entries;
    for (uint32_t i = 0; i < Language.Entries.Count; i++)
        entries[Language.Entries[i].Key] = Language.Entries[i].Text;
    return entries;
}

class LanguageFileTest : public TempFolderTest {
  protected:
    LanguageFileTest() : TempFolderTest(L"lang") {}
    void TearDown() override {
        Language.Clear();
        TempFolderTest::TearDown();
    }
    void LoadBytes(const std::string& bytes) {
        WriteRaw(At(L"uninstall.lng"), bytes);
        LoadLanguageFile(At(L"uninstall.lng").c_str());
    }
    // ANSI lines after a marker line.
    void LoadLines(const std::string& lines) { LoadBytes("***messages***\r\n" + lines); }
};

TEST_F(LanguageFileTest, FixturesReadTheSameInBothEncodings) {
    LoadLanguageFile(FixturePath(L"lang/sample_ansi.lng").c_str());
    std::map<std::string, std::wstring> ansi = AllEntries();
    EXPECT_EQ(22u, ansi.size());
    EXPECT_EQ(L"[xx] Bundlo setup", Id(5101));
    EXPECT_EQ(L"[xx] Remove Bundlo and all of its components?", Id(5109));
    EXPECT_EQ(L"[xx] Bundlo setup", Dialog(L"SETUPDLG", L"CAPTION"));
    EXPECT_EQ(L"[xx] Extract files...", Dialog(L"SETUPCONTEXTITEMS", L"IDC_CONTEXTEXTRACTTO"));
    int width = 0, height = 0;
    EXPECT_TRUE(GetDialogScale(L"SETUPDLG", &width, &height));
    EXPECT_EQ(120, width);
    EXPECT_EQ(100, height);
    EXPECT_FALSE(GetDialogScale(L"DONEDLG", &width, &height));
    EXPECT_FALSE(GetDialogScale(L"SETUPCONTEXTITEMS", &width, &height));
    EXPECT_EQ(Wide(None), Id(5140));

    LoadLanguageFile(FixturePath(L"lang/sample_utf16.lng").c_str());
    std::map<std::string, std::wstring> wide = AllEntries();
    EXPECT_EQ(L"[xx] \x0411\x0435\x0442\x0430 \x2713", Id(5140));
    wide.erase("s:IDS_BETA");
    EXPECT_EQ(ansi, wide);
    EXPECT_FALSE(Language.RightToLeft);

    LoadLanguageFile(FixturePath(L"lang/sample_rtl.lng").c_str());
    EXPECT_TRUE(Language.RightToLeft);
    EXPECT_EQ(L"[he] \x05d4\x05e1\x05e8\x05ea Bundlo", Id(5106));
    EXPECT_EQ(Wide(None), Id(5110)); // nothing is left of the file read before
}

TEST_F(LanguageFileTest, EveryTableRowIsFoundByIdOrDialogItem) {
    std::wstring file = L"***messages***\r\n";
    for (size_t i = 0; i < LanguageKeyCount; i++) {
        std::wstring key = Wide(LanguageKeyTable[i].Key);
        size_t colon = key.find(L':');
        std::wstring section = key.substr(0, colon);
        file += section == L"s" ? L":STRINGS\r\n" : L":DIALOG " + section.substr(1) + L"\r\n";
        file += key.substr(colon + 1) + L" \"row " + std::to_wstring(i) + L"\"\r\n";
    }
    LoadBytes(Utf16(file));
    ASSERT_EQ(LanguageKeyCount, Language.Entries.Count);
    for (size_t i = 0; i < LanguageKeyCount; i++) {
        std::wstring key = Wide(LanguageKeyTable[i].Key);
        size_t colon = key.find(L':');
        std::wstring expected = L"row " + std::to_wstring(i);
        if (key[0] == L's')
            EXPECT_EQ(expected, Id(LanguageKeyTable[i].Id)) << LanguageKeyTable[i].Key;
        else
            EXPECT_EQ(expected, Dialog(key.substr(1, colon - 1).c_str(), key.c_str() + colon + 1));
    }
    EXPECT_EQ(Wide(None), Id(5117)); // a dialog control id, not a string id
}

TEST_F(LanguageFileTest, LineSyntax) {
    const std::string ident98(97, 'B'), ident99(98, 'B'), ident60 = "IDS_" + std::string(56, 'L');
    struct Case {
        std::string Lines;
        std::string Key;
        const wchar_t* Expected; // nullptr: no such entry
    } cases[] = {
        {":DIALOG SETUPDLG\r\nCAPTION  \"Word\"", "$SETUPDLG:CAPTION", L"Word"},
        {"IDS_X,abc", "s:IDS_X", L"abc"},
        {"IDS_X , abc", "s:IDS_X", L", abc"},
        {"IDS_X,\t abc", "s:IDS_X", L"abc"},
        {"IDS_X \"\\\"abc\\\"\"", "s:IDS_X", L"\"abc\""},
        {"IDS_X a\\nb\\rc\\td\\\\e\\qf\\", "s:IDS_X", L"a\nb\rc\td\\e\\qf\\"},
        {"IDS_X \"  kept  \" \t ", "s:IDS_X", L"  kept  "},
        {"IDS_X bare  \t", "s:IDS_X", L"bare"},
        {"IDS_X\t", "s:IDS_X", L""},
        {"IDS_X \"", "s:IDS_X", L""},
        {"IDS_X \\", "s:IDS_X", L"\\"},
        {" IDS_X abc", "s:IDS_X", nullptr},
        {";IDS_X abc", "s:IDS_X", nullptr},
        {"1DS_X abc", "s:1DS_X", nullptr},
        {":DIALOG D\r\n:FOO x\r\n:STRINGSX\r\n:dialog E\r\nA b", "$D:A", L"b"},
        {":DIALOG\tD2   tail\r\nA b", "$D2:A", L"b"},
        {":DIALOG\r\nA b", "$:A", L"b"},
        {":DIALOG D\r\n:STRINGS\r\nA b", "s:A", L"b"},
        {":MENU MAIN\r\nID_OPEN Open", "@MAIN:ID_OPEN", L"Open"},
        {"A 1\rB 2\nC 3\r\nD 4", "s:D", L"4"},
        {"A 1\rB 2\nC 3\r\nD 4", "s:B", L"2"},
        {"A b", "s:a", nullptr},
        {std::string("A b\0\r\nC d", 10), "s:C", nullptr},
        {std::string("A b\0\r\nC d", 10), "s:A", L"b"},
        // A line holding only an identifier is ignored and the next line keeps its entry.
        {"IDS_A\r\nIDS_B next", "s:IDS_B", L"next"},
        {"IDS_A\r\nIDS_B next", "s:IDS_A", nullptr},
        {"IDS_A", "s:IDS_A", nullptr},
        {"A" + ident98 + " t", ("s:A" + ident98).substr(0, 49), L"t"},
        {"A" + ident99 + " t", ("s:A" + ident99).substr(0, 49), nullptr},
        {ident60 + " long", ("s:" + ident60).substr(0, 49), L"long"},
        {ident60 + " long", "s:" + ident60, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Lines);
        LoadLines(c.Lines);
        EXPECT_EQ(c.Expected ? std::wstring(c.Expected) : Wide(None), Text(c.Key.c_str()));
    }
}

TEST_F(LanguageFileTest, DirectionAndReplacement) {
    LoadLines(":DIRECTION RTL\r\nA b");
    EXPECT_TRUE(Language.RightToLeft);
    LoadLines(":DIRECTION RTL\r\n:DIRECTION LTR\r\nA b");
    EXPECT_FALSE(Language.RightToLeft);
    LoadLines(":DIRECTION\trtl");
    EXPECT_FALSE(Language.RightToLeft);
    LoadLines(":DIRECTION RTLX");
    EXPECT_FALSE(Language.RightToLeft);
    LoadLines(":DIRECTION RTL\r\nIDS_UNINSTTITLE t");
    EXPECT_EQ(L"t", Id(5101));
    // A file that cannot be read leaves nothing of the one read before.
    LoadLanguageFile(At(L"missing.lng").c_str());
    EXPECT_FALSE(Language.RightToLeft);
    EXPECT_EQ(0u, Language.Entries.Count);
    EXPECT_EQ(Wide(None), Id(5101));

    // A bare name is looked for beside the program.
    wchar_t module[MAX_PATH];
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring beside = module;
    beside = beside.substr(0, beside.rfind(L'\\')) + L"\\langfile_test.lng";
    WriteRaw(beside, "***messages***\r\nIDS_UNINSTTITLE beside");
    LoadLanguageFile(L"langfile_test.lng");
    DeleteFileW(beside.c_str());
    EXPECT_EQ(L"beside", Id(5101));

    // A path longer than a path buffer is not loaded: cut, it would name the file its first
    // 2047 characters name.
    std::wstring cut = Root;
    while (cut.size() + 201 <= PathCapacity - 51) {
        cut += L"\\" + std::wstring(200, L'd');
        MakeFolderRaw(cut);
    }
    cut += L"\\" + std::wstring(PathCapacity - 2 - cut.size(), L'n');
    WriteRaw(cut, "***messages***\r\nIDS_UNINSTTITLE cut");
    LoadLanguageFile((cut + L".lng").c_str());
    EXPECT_EQ(Wide(None), Id(5101));
}

// The checker names lines by the numbers an editor shows, so every line end counts once
// however it is written, and the lines before the marker count too.
TEST_F(LanguageFileTest, LineReportNumbersLinesAsAnEditorDoes) {
    // One line of text per line told: kind, number, key or encoding, and the line itself.
    auto sink = [](const LanguageLine& line, void* context) {
        const char* kinds[] = {"marker", "section", "direction", "entry", "ignored"};
        std::string& told = *static_cast<std::string*>(context);
        told += std::string(kinds[int(line.Kind)]) + " " + std::to_string(line.Number) + " ";
        told += line.Kind == LanguageLineKind::Marker ? (line.Wide ? "utf16" : "ansi")
                                                      : (line.Key ? line.Key : "-");
        if (line.Kind == LanguageLineKind::Entry)
            told += std::string("=") + Language.Entries[line.Entry].Key;
        told += " [" + std::string(line.Text, line.Text + line.Length) + "]\n";
    };
    std::string told;
    WriteRaw(At(L"uninstall.lng"), "title\r\n\r\n***messages***\r\n; note\r\n:DIALOG D\r\n"
                                   "A b\rB c\nALONE\r\n  X y\r\n:DIRECTION RTL");
    LoadLanguageFile(At(L"uninstall.lng").c_str(), sink, &told);
    EXPECT_EQ("marker 3 ansi [***messages***]\n"
              "ignored 4 - [; note]\n"
              "section 5 $D: [:DIALOG D]\n"
              "entry 6 $D:A=$D:A [A b]\n"
              "entry 7 $D:B=$D:B [B c]\n"
              "ignored 8 - [ALONE]\n"
              "ignored 9 - [  X y]\n"
              "direction 10 - [:DIRECTION RTL]\n",
              told);

    told.clear();
    WriteRaw(At(L"uninstall.lng"), std::string("\xFF\xFE") + Utf16(L"x\r***messages***\nA b\r\n"));
    LoadLanguageFile(At(L"uninstall.lng").c_str(), sink, &told);
    EXPECT_EQ("marker 2 utf16 [***messages***]\n"
              "entry 3 s:A=s:A [A b]\n"
              "ignored 4 - []\n",
              told);
}

TEST_F(LanguageFileTest, SizeScales) {
    // The last two from the fuzz campaign (langfile, seed 1, inputs 19 and 37): twenty digits
    // wrapped at 64 bits once came out as 100.
    const char* sizes[] = {"120*100",
                           "100*100",
                           "0*120",
                           "120",
                           "-5*100",
                           "150*80",
                           "99999999999*100",
                           "80*",
                           "100*99",
                           "1*18446744073709551716",
                           "18446744073709551716*1"};
    const int count = sizeof sizes / sizeof sizes[0];
    std::string lines;
    for (int i = 0; i < count; i++)
        lines += ":DIALOG D" + std::to_string(i) + "\r\nSIZE " + sizes[i] + "\r\n";
    LoadLines(lines);
    const int expected[count][2] = {{120, 100}, {0}, {0},       {0}, {0}, {150, 80},
                                    {0},        {0}, {100, 99}, {0}, {0}};
    for (int i = 0; i < count; i++) {
        int width = 0, height = 0;
        bool scaled = GetDialogScale((L"D" + std::to_wstring(i)).c_str(), &width, &height);
        EXPECT_EQ(expected[i][0] != 0, scaled) << sizes[i];
        EXPECT_EQ(expected[i][0], width) << sizes[i];
        EXPECT_EQ(expected[i][1], height) << sizes[i];
    }
}

TEST_F(LanguageFileTest, MarkerSearch) {
    const std::wstring block = L"***messages*** A ignored\r\nA found";
    for (bool wide : {false, true}) {
        SCOPED_TRACE(wide ? "UTF-16" : "ANSI");
        // Around the ends of the first and second 8192-byte reads, odd offsets included.
        for (size_t boundary : {8192u, 16384u}) {
            for (size_t offset = boundary - 40; offset <= boundary + 8; offset++) {
                LoadBytes(std::string(offset, 'x') + Bytes(block, wide));
                EXPECT_EQ(L"found", Text("s:A")) << "marker at " << offset;
            }
        }
        LoadBytes(std::string(1048576 + 3, '\0') + Bytes(block, wide));
        EXPECT_EQ(L"found", Text("s:A"));
        EXPECT_EQ(Wide(None), Text("s:A ignored"));
        // 256 reads end short of 2,100,000 bytes, however they overlap.
        LoadBytes(std::string(2100000, 'x') + Bytes(block, wide));
        EXPECT_EQ(0u, Language.Entries.Count);
        LoadBytes(Bytes(L"**messages***\r\nA b\r\n***Messages***\r\nA b", wide));
        EXPECT_EQ(0u, Language.Entries.Count);
        EXPECT_EQ(Wide(None), Id(5101));
    }
    for (const char* tiny : {"", "*", "***messages**", "***messages**\r\nA"}) {
        LoadBytes(tiny);
        EXPECT_EQ(0u, Language.Entries.Count) << tiny;
    }
}

// Texts cut at 65,536 characters; the whole text cut at 1,048,576 characters from the marker,
// which for UTF-16 is also where the 2 MiB read ends.
TEST_F(LanguageFileTest, Cuts) {
    LoadLines("A " + std::string(70000, 'x') + "\r\nB b");
    EXPECT_EQ(std::wstring(LanguageTextCapacity, L'x'), Text("s:A"));
    EXPECT_EQ(L"b", Text("s:B"));
    wchar_t small[4];
    EXPECT_TRUE(FindText("s:A", small, 4));
    EXPECT_STREQ(L"xxx", small);

    std::wstring text = L"***messages***\r\n";
    for (int i = 0; text.size() < LanguageCharLimit - 300; i++)
        text += L"F" + std::to_wstring(i) + L" " + std::wstring(200, L'f') + L"\r\n";
    size_t cutStart = text.size() + 4;
    text += L"CUT " + std::wstring(400, L'c') + L"\r\nAFTER a\r\n" + std::wstring(1100000, L' ');
    for (bool wide : {false, true}) {
        LoadBytes(Bytes(text, wide));
        EXPECT_EQ(std::wstring(LanguageCharLimit - cutStart, L'c'), Text("s:CUT"));
        EXPECT_EQ(Wide(None), Text("s:AFTER"));
        EXPECT_EQ(std::wstring(200, L'f'), Text("s:F0"));
    }
}

// Random and damaged files are the fuzz campaign "langfile" (tests/fuzz/campaign_langfile.cpp),
// whose fixed-seed slice runs with these tests.

} // namespace
