// Numbered strings from the program's resources, and translated formats filled safely.
#include <gtest/gtest.h>

#include <wchar.h>

#include "lang/localise.h"
#include "resources/resource.h"

namespace {
class NumberedStrings : public ::testing::Test {
  protected:
    void SetUp() override { LoadLanguageModule(GetModuleHandleW(nullptr)); }
};

TEST_F(NumberedStrings, EveryStringOfTheProgramHasAnEnglishText) {
    const unsigned ids[] = {5101, 5102, 5103, 5104, 5105, 5106, 5107, 5108, 5109, 5110,
                            5111, 5112, 5113, 5114, 5115, 5116, 5120, 5121, 5122, 5123,
                            5124, 5125, 5130, 5135, 5140, 5141, 5142, 5150};
    for (unsigned id : ids)
        EXPECT_STRNE(L"", LoadText(id)) << id;
    // The two formats are given exactly one path or file name.
    for (unsigned id : {IDS_UNINSTALLSHOULDDELETE, IDS_CANNOTOPENLIST}) {
        const wchar_t* text = LoadText(id);
        const wchar_t* first = wcsstr(text, L"%s");
        ASSERT_NE(nullptr, first) << id;
        EXPECT_EQ(nullptr, wcsstr(first + 2, L"%")) << id;
    }
}

TEST_F(NumberedStrings, MissingStringIsEmptyAndShortBuffersAreCut) {
    EXPECT_STREQ(L"", LoadText(4999));
    wchar_t small[8] = L"garbage";
    LoadTextInto(IDS_UNINSTALLBDL, small, 8);
    EXPECT_STREQ(L"Uninsta", small);
}

TEST_F(NumberedStrings, TheRingKeepsSevenEarlierResults) {
    const wchar_t* first = LoadText(IDS_UNINSTALLBDL);
    const wchar_t* seen[8] = {first};
    for (int i = 1; i < 8; ++i)
        seen[i] = LoadText(IDS_32BIT);
    EXPECT_STREQ(L"Uninstall Bundlo", first) << "seven later calls must not touch it";
    for (int i = 1; i < 8; ++i)
        EXPECT_NE(first, seen[i]);
    const wchar_t* ninth = LoadText(IDS_64BIT);
    EXPECT_EQ(first, ninth) << "the ninth call reuses the first buffer";
    EXPECT_STREQ(L"64-bit", first);
}

TEST(FormatLocalised, FillsTheFirstPlaceholderOnly) {
    wchar_t out[64];
    FormatLocalised(out, 64, L"Delete %s now.", L"C:\\x");
    EXPECT_STREQ(L"Delete C:\\x now.", out);
    // A translation with stray conversions must not read arguments that were never passed.
    FormatLocalised(out, 64, L"%d %s %s %n %", L"A");
    EXPECT_STREQ(L"%d A %s %n %", out);
    FormatLocalised(out, 64, L"100%% of %s", L"B");
    EXPECT_STREQ(L"100% of B", out);
    FormatLocalised(out, 64, L"no placeholder", L"C");
    EXPECT_STREQ(L"no placeholder", out);
}

TEST(FormatLocalised, CutsAtTheCapacityAndTerminates) {
    wchar_t out[6] = L"zzzzz";
    FormatLocalised(out, 6, L"ab%scd", L"123456");
    EXPECT_STREQ(L"ab123", out);
    wchar_t one[1] = {L'z'};
    FormatLocalised(one, 1, L"%s", L"x");
    EXPECT_EQ(0, one[0]);
    wchar_t untouched[2] = {L'q', 0};
    FormatLocalised(untouched, 0, L"%s", L"x");
    EXPECT_EQ(L'q', untouched[0]);
}
} // namespace
