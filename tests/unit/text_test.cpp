#include "common/text.h"
#include "common/array.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// Buffers are pre-filled with this so that writes past the capacity show up.
constexpr wchar_t kFill = L'#';
constexpr char kNarrowFill = '#';

std::wstring Filled(size_t size) {
    return std::wstring(size, kFill);
}

int FormatThroughV(wchar_t* buf, size_t capacity, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    int written = FormatTextV(buf, capacity, format, args);
    va_end(args);
    return written;
}

// ---------------------------------------------------------------------------------------------
// Copying and appending

TEST(CopyText, CapacityZeroWritesNothing) {
    wchar_t buf[4] = {L'a', L'b', L'c', 0};
    EXPECT_EQ(CopyText(buf, L"xyz", 0), buf);
    EXPECT_STREQ(buf, L"abc");

    char narrow[4] = "abc";
    EXPECT_EQ(CopyNarrowText(narrow, "xyz", 0), narrow);
    EXPECT_STREQ(narrow, "abc");
}

TEST(CopyText, CapacityOneWritesOnlyTheTerminator) {
    wchar_t buf[4] = {L'a', L'b', L'c', 0};
    EXPECT_EQ(CopyText(buf, L"xyz", 1), buf);
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(buf[1], L'b');

    char narrow[4] = "abc";
    EXPECT_EQ(CopyNarrowText(narrow, "xyz", 1), narrow);
    EXPECT_EQ(narrow[0], 0);
    EXPECT_EQ(narrow[1], 'b');
}

TEST(CopyText, ExactFitCopiesEverythingAndReturnsTheTerminator) {
    std::wstring buf = Filled(8);
    wchar_t* end = CopyText(&buf[0], L"hello", 6);
    EXPECT_STREQ(buf.c_str(), L"hello");
    EXPECT_EQ(end, &buf[5]);
    EXPECT_EQ(buf[6], kFill);

    char narrow[8];
    memset(narrow, kNarrowFill, sizeof narrow);
    char* narrowEnd = CopyNarrowText(narrow, "hello", 6);
    EXPECT_STREQ(narrow, "hello");
    EXPECT_EQ(narrowEnd, narrow + 5);
    EXPECT_EQ(narrow[6], kNarrowFill);
}

TEST(CopyText, OneShortCutsTheLastCharacter) {
    std::wstring buf = Filled(8);
    wchar_t* end = CopyText(&buf[0], L"hello", 5);
    EXPECT_STREQ(buf.c_str(), L"hell");
    EXPECT_EQ(end, &buf[4]);
    EXPECT_EQ(buf[5], kFill);

    char narrow[8];
    memset(narrow, kNarrowFill, sizeof narrow);
    char* narrowEnd = CopyNarrowText(narrow, "hello", 5);
    EXPECT_STREQ(narrow, "hell");
    EXPECT_EQ(narrowEnd, narrow + 4);
    EXPECT_EQ(narrow[5], kNarrowFill);
}

TEST(CopyText, EmptySourceGivesEmptyText) {
    wchar_t buf[4] = {L'a', L'b', L'c', 0};
    EXPECT_EQ(CopyText(buf, L"", 4), buf);
    EXPECT_EQ(buf[0], 0);
}

TEST(AppendText, JoinsWithinTheCapacity) {
    wchar_t buf[16];
    CopyText(buf, L"abc", 16);
    AppendText(buf, L"def", 16);
    EXPECT_STREQ(buf, L"abcdef");

    char narrow[16] = "abc";
    AppendNarrowText(narrow, "def", 16);
    EXPECT_STREQ(narrow, "abcdef");
}

TEST(AppendText, CutsAtTheCapacityEdges) {
    // Exact fit: 3 + 3 characters and the terminator.
    std::wstring buf = Filled(10);
    CopyText(&buf[0], L"abc", 10);
    AppendText(&buf[0], L"def", 7);
    EXPECT_STREQ(buf.c_str(), L"abcdef");
    EXPECT_EQ(buf[7], kFill);

    // One short: the last appended character is dropped.
    buf = Filled(10);
    CopyText(&buf[0], L"abc", 10);
    AppendText(&buf[0], L"def", 6);
    EXPECT_STREQ(buf.c_str(), L"abcde");
    EXPECT_EQ(buf[6], kFill);

    char narrow[10];
    memset(narrow, kNarrowFill, sizeof narrow);
    CopyNarrowText(narrow, "abc", 10);
    AppendNarrowText(narrow, "def", 6);
    EXPECT_STREQ(narrow, "abcde");
    EXPECT_EQ(narrow[6], kNarrowFill);
}

TEST(AppendText, FullDestinationIsLeftUnchanged) {
    // Length equal to the capacity: no terminator inside it, nothing may be written.
    wchar_t buf[6] = {L'a', L'b', L'c', L'X', L'Y', 0};
    AppendText(buf, L"def", 3);
    EXPECT_EQ(buf[3], L'X');
    EXPECT_STREQ(buf, L"abcXY");

    // Length one below the capacity: already full, stays as it is.
    wchar_t full[4] = {L'a', L'b', L'c', 0};
    AppendText(full, L"def", 4);
    EXPECT_STREQ(full, L"abc");

    char narrow[6] = "abcXY";
    AppendNarrowText(narrow, "def", 3);
    EXPECT_STREQ(narrow, "abcXY");
}

TEST(DuplicateText, CopiesTheGivenLengthOrGivesNullWithoutMemory) {
    wchar_t* copy = DuplicateText(L"abcdef", 3);
    ASSERT_NE(nullptr, copy);
    EXPECT_STREQ(L"abc", copy);
    free(copy);
    EXPECT_EQ(nullptr, DuplicateText(L"x", SIZE_MAX / sizeof(wchar_t))) << "no size for it";
}

TEST(ZeroBuffer, ClearsEveryByteAndAcceptsNoBuffer) {
    ZeroBuffer(nullptr, 16);
    unsigned char bytes[9];
    memset(bytes, 0xAB, sizeof bytes);
    ZeroBuffer(bytes, 8);
    for (int i = 0; i < 8; i++)
        EXPECT_EQ(bytes[i], 0) << i;
    EXPECT_EQ(bytes[8], 0xAB);
}

// ---------------------------------------------------------------------------------------------
// Formatting

TEST(FormatText, PercentSTakesWideText) {
    wchar_t buf[64];
    EXPECT_EQ(FormatText(buf, 64, L"%s=%d", L"Bundlo", 42), 9);
    EXPECT_STREQ(buf, L"Bundlo=42");

    EXPECT_EQ(FormatThroughV(buf, 64, L"[%s]", L"C:\\Program Files"), 18);
    EXPECT_STREQ(buf, L"[C:\\Program Files]");
}

TEST(FormatText, ExactFitIsTerminatedAndCounted) {
    std::wstring buf = Filled(10);
    EXPECT_EQ(FormatText(&buf[0], 6, L"%s", L"abcde"), 5);
    EXPECT_STREQ(buf.c_str(), L"abcde");
    EXPECT_EQ(buf[6], kFill);
}

TEST(FormatText, CutOutputIsTerminatedAndReportsMinusOne) {
    std::wstring buf = Filled(10);
    EXPECT_EQ(FormatText(&buf[0], 5, L"%s", L"abcde"), -1);
    EXPECT_STREQ(buf.c_str(), L"abcd");
    EXPECT_EQ(buf[5], kFill);

    buf = Filled(10);
    EXPECT_EQ(FormatText(&buf[0], 4, L"%d-%d", 123, 456), -1);
    EXPECT_STREQ(buf.c_str(), L"123");
}

TEST(FormatText, TinyCapacities) {
    std::wstring buf = Filled(4);
    EXPECT_EQ(FormatText(&buf[0], 1, L"%s", L"x"), -1);
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(buf[1], kFill);

    buf = Filled(4);
    EXPECT_EQ(FormatText(&buf[0], 1, L"%s", L""), 0);
    EXPECT_EQ(buf[0], 0);

    buf = Filled(4);
    EXPECT_EQ(FormatText(&buf[0], 0, L"%s", L"x"), -1);
    EXPECT_EQ(buf[0], kFill);
}

TEST(FormatNarrowText, SameTruncationRules) {
    char buf[10];
    memset(buf, kNarrowFill, sizeof buf);
    EXPECT_EQ(FormatNarrowText(buf, 6, "%s%d", "abc", 12), 5);
    EXPECT_STREQ(buf, "abc12");
    EXPECT_EQ(buf[6], kNarrowFill);

    memset(buf, kNarrowFill, sizeof buf);
    EXPECT_EQ(FormatNarrowText(buf, 5, "%s%d", "abc", 12), -1);
    EXPECT_STREQ(buf, "abc1");
    EXPECT_EQ(buf[5], kNarrowFill);

    memset(buf, kNarrowFill, sizeof buf);
    EXPECT_EQ(FormatNarrowText(buf, 1, "x"), -1);
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(FormatNarrowText(buf, 0, "x"), -1);
    EXPECT_EQ(buf[1], kNarrowFill);
}

// ---------------------------------------------------------------------------------------------
// Characters

TEST(CharacterClasses, OnlyTheAsciiMembersCount) {
    EXPECT_TRUE(IsSpaceOrTab(L' '));
    EXPECT_TRUE(IsSpaceOrTab(L'\t'));
    for (wchar_t ch : {L'\n', L'\r', L'\v', L'\f', wchar_t(0), wchar_t(0xA0), wchar_t(0x3000)})
        EXPECT_FALSE(IsSpaceOrTab(ch)) << int(ch);

    for (wchar_t ch : {L'A', L'Z', L'a', L'z', L'm'})
        EXPECT_TRUE(IsAsciiLetter(ch)) << int(ch);
    for (wchar_t ch : {L'@', L'[', L'`', L'{', L'0', wchar_t(0xC0), wchar_t(0xE9)})
        EXPECT_FALSE(IsAsciiLetter(ch)) << int(ch);

    for (wchar_t ch : {L'0', L'5', L'9'})
        EXPECT_TRUE(IsDigit(ch)) << int(ch);
    for (wchar_t ch : {L'/', L':', L'O', wchar_t(0x0661), wchar_t(0xFF11), wchar_t(0xB2)})
        EXPECT_FALSE(IsDigit(ch)) << int(ch);
}

TEST(AsciiUpper, MapsOnlyAsciiLowerCase) {
    EXPECT_EQ(AsciiUpper(L'a'), L'A');
    EXPECT_EQ(AsciiUpper(L'z'), L'Z');
    EXPECT_EQ(AsciiUpper(L'A'), L'A');
    EXPECT_EQ(AsciiUpper(L'`'), L'`');
    EXPECT_EQ(AsciiUpper(L'{'), L'{');
    EXPECT_EQ(AsciiUpper(wchar_t(0xE9)), wchar_t(0xE9));
}

TEST(UpperChar, UsesTheFullCaseTable) {
    EXPECT_EQ(UpperChar(L'a'), L'A');
    EXPECT_EQ(UpperChar(L'Q'), L'Q');
    EXPECT_EQ(UpperChar(L'7'), L'7');
    EXPECT_EQ(UpperChar(wchar_t(0xE9)), wchar_t(0xC9));   // e acute
    EXPECT_EQ(UpperChar(wchar_t(0x3B1)), wchar_t(0x391)); // alpha
    EXPECT_EQ(UpperChar(wchar_t(0x44F)), wchar_t(0x42F)); // ya
}

// ---------------------------------------------------------------------------------------------
// Comparison

TEST(CompareNoCase, IgnoresCaseAndOrdersTexts) {
    EXPECT_EQ(CompareNoCase(L"Bundlo.exe", L"BUNDLO.EXE"), 0);
    EXPECT_EQ(CompareNoCase(L"abc", L"ABD"), -1);
    EXPECT_EQ(CompareNoCase(L"ABD", L"abc"), 1);
    EXPECT_EQ(CompareNoCase(L"ab", L"abc"), -1);
    EXPECT_EQ(CompareNoCase(L"", L""), 0);
    // String sort: a hyphen is a symbol ahead of the letters, not a character to be skipped.
    EXPECT_EQ(CompareNoCase(L"a-c", L"ab"), -1);
    EXPECT_EQ(CompareNoCase(L"\u00e9t\u00e9", L"\u00c9T\u00c9"), 0);
    // Ordinal, as names are: a mark that linguistic comparisons skip still counts.
    EXPECT_NE(CompareNoCase(L"Unin\u00ADstall.exe", L"UNINSTALL.EXE"), 0);
    EXPECT_NE(CompareNoCase(L"set\u200Dup", L"setup"), 0);
}

TEST(CompareNoCasePrefix, ComparesAtMostNCharacters) {
    EXPECT_NE(CompareNoCasePrefix(L"set", L"setup", 5), 0);
    EXPECT_NE(CompareNoCasePrefix(L"setup", L"set", 5), 0);
    EXPECT_EQ(CompareNoCasePrefix(L"SETUPX", L"setup", 5), 0);
    EXPECT_EQ(CompareNoCasePrefix(L"setup", L"SETUPX", 5), 0);
    EXPECT_EQ(CompareNoCasePrefix(L"/setup", L"/SETUP", 6), 0);
    EXPECT_EQ(CompareNoCasePrefix(L"abcX", L"ABCY", 3), 0);
    EXPECT_EQ(CompareNoCasePrefix(L"abcX", L"ABCY", 4), -1);
    EXPECT_EQ(CompareNoCasePrefix(L"abcY", L"ABCX", 4), 1);
    EXPECT_EQ(CompareNoCasePrefix(L"a-cd", L"abcd", 3), -1);
}

TEST(CompareNoCasePrefix, ShorterTextsMatchOnlyTextsOfTheSameLength) {
    EXPECT_EQ(CompareNoCasePrefix(L"abc", L"ABC", 10), 0);
    EXPECT_NE(CompareNoCasePrefix(L"abc", L"abcd", 10), 0);
    EXPECT_NE(CompareNoCasePrefix(L"abcd", L"abc", 10), 0);
    EXPECT_NE(CompareNoCasePrefix(L"", L"a", 1), 0);
    EXPECT_EQ(CompareNoCasePrefix(L"", L"", 5), 0);
}

// ---------------------------------------------------------------------------------------------
// Narrow and wide conversion

TEST(ToUtf8, WholeTextWithoutTerminator) {
    Array<char> bytes;
    ASSERT_TRUE(ToUtf8(L"B\u00fcndlo \u0416", bytes));
    EXPECT_EQ(std::string("B\xC3\xBCndlo \xD0\x96"), std::string(bytes.Data, bytes.Count));
}

TEST(ToWide, ConvertsWhenItFits) {
    std::wstring buf = Filled(10);
    EXPECT_TRUE(ToWide("hello", &buf[0], 6));
    EXPECT_STREQ(buf.c_str(), L"hello");
    EXPECT_EQ(buf[6], kFill);

    EXPECT_TRUE(ToWide("", &buf[0], 1));
    EXPECT_EQ(buf[0], 0);
}

TEST(ToWide, TooSmallBufferFailsWithACutTerminatedText) {
    for (size_t capacity = 1; capacity <= 5; capacity++) {
        std::wstring buf = Filled(8);
        EXPECT_FALSE(ToWide("hello", &buf[0], capacity)) << capacity;
        EXPECT_EQ(buf[capacity - 1], 0) << capacity;
        size_t length = wcslen(buf.c_str());
        EXPECT_LT(length, capacity);
        EXPECT_EQ(std::wstring(buf.c_str()), std::wstring(L"hello").substr(0, length));
        EXPECT_EQ(buf[capacity], kFill) << capacity;
    }

    std::wstring untouched = Filled(2);
    EXPECT_FALSE(ToWide("hello", &untouched[0], 0));
    EXPECT_EQ(untouched[0], kFill);
}

TEST(ToNarrow, ConvertsWhenItFits) {
    char buf[10];
    memset(buf, kNarrowFill, sizeof buf);
    EXPECT_TRUE(ToNarrow(L"hello", buf, 6));
    EXPECT_STREQ(buf, "hello");
    EXPECT_EQ(buf[6], kNarrowFill);
}

TEST(ToNarrow, TooSmallBufferFailsWithACutTerminatedText) {
    for (size_t capacity = 1; capacity <= 5; capacity++) {
        char buf[8];
        memset(buf, kNarrowFill, sizeof buf);
        EXPECT_FALSE(ToNarrow(L"hello", buf, capacity)) << capacity;
        EXPECT_EQ(buf[capacity - 1], 0) << capacity;
        size_t length = strlen(buf);
        EXPECT_LT(length, capacity);
        EXPECT_EQ(std::string(buf), std::string("hello").substr(0, length));
        EXPECT_EQ(buf[capacity], kNarrowFill) << capacity;
    }

    char untouched[2] = {kNarrowFill, kNarrowFill};
    EXPECT_FALSE(ToNarrow(L"hello", untouched, 0));
    EXPECT_EQ(untouched[0], kNarrowFill);
}

// ---------------------------------------------------------------------------------------------
// UTF-8

bool Valid(const std::string& bytes) {
    return IsValidUtf8(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

TEST(IsValidUtf8, AcceptsOneToSixByteForms) {
    EXPECT_TRUE(Valid(""));
    EXPECT_TRUE(Valid("plain ASCII"));
    EXPECT_TRUE(Valid("\xC3\xA9"));                 // U+00E9
    EXPECT_TRUE(Valid("\xE2\x82\xAC"));             // U+20AC
    EXPECT_TRUE(Valid("\xF0\x9F\x98\x80"));         // U+1F600
    EXPECT_TRUE(Valid("\xF8\x88\x80\x80\x80"));     // 5-byte form
    EXPECT_TRUE(Valid("\xFC\x84\x80\x80\x80\x80")); // 6-byte form
    EXPECT_TRUE(Valid(std::string("a\0b\0", 4)));   // zero bytes are ordinary
}

TEST(IsValidUtf8, RejectsMalformedSequences) {
    EXPECT_FALSE(Valid("\x80"));
    EXPECT_FALSE(Valid("ab\xBF"
                       "cd"));           // stray continuation byte
    EXPECT_FALSE(Valid("\xC3\xA9\xA9")); // one continuation byte too many
    EXPECT_FALSE(Valid("\xFE\x80\x80\x80\x80\x80\x80"));
    EXPECT_FALSE(Valid("\xFF"));
    EXPECT_FALSE(Valid("\xC3"
                       "A"));                      // wrong following byte
    EXPECT_FALSE(Valid(std::string("\xC3\0", 2))); // zero is not a following byte
    EXPECT_FALSE(Valid("\xF8\x88\x80\x80"
                       "A"));                    // 5-byte form one byte short
    EXPECT_FALSE(Valid("\xFC\x84\x80\x80\x80")); // 6-byte form cut by the end
}

TEST(IsValidUtf8, ScansExactlyTheGivenCount) {
    const unsigned char euro[] = {0xE2, 0x82, 0xAC};
    EXPECT_TRUE(IsValidUtf8(euro, 3));
    EXPECT_FALSE(IsValidUtf8(euro, 2)); // following byte lies beyond the count
    const unsigned char tail[] = {'A', 0x80};
    EXPECT_TRUE(IsValidUtf8(tail, 1));
    EXPECT_FALSE(IsValidUtf8(tail, 2));
}

TEST(Utf8ToWide, DecodesOneToFourByteForms) {
    wchar_t buf[32];
    EXPECT_TRUE(Utf8ToWide("a\xC3\xA9\xE2\x82\xAC", buf, 32));
    EXPECT_EQ(std::wstring(buf), (std::wstring{L'a', wchar_t(0xE9), wchar_t(0x20AC)}));

    EXPECT_TRUE(Utf8ToWide("", buf, 32));
    EXPECT_EQ(buf[0], 0);
}

TEST(Utf8ToWide, FourByteFormsBecomeSurrogatePairs) {
    wchar_t buf[8];
    EXPECT_TRUE(Utf8ToWide("\xF0\x9F\x98\x80", buf, 8));
    EXPECT_EQ(std::wstring(buf), (std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}));

    EXPECT_TRUE(Utf8ToWide("\xF0\x90\x80\x80", buf, 8)); // U+10000
    EXPECT_EQ(std::wstring(buf), (std::wstring{wchar_t(0xD800), wchar_t(0xDC00)}));

    EXPECT_TRUE(Utf8ToWide("\xF4\x8F\xBF\xBF", buf, 8)); // U+10FFFF
    EXPECT_EQ(std::wstring(buf), (std::wstring{wchar_t(0xDBFF), wchar_t(0xDFFF)}));
}

TEST(Utf8ToWide, ValuesBeyondTheUnicodeRangeAreDroppedButDecodingGoesOn) {
    wchar_t buf[8];
    EXPECT_FALSE(Utf8ToWide("a\xF4\x90\x80\x80"
                            "b",
                            buf, 8)); // U+110000
    EXPECT_STREQ(buf, L"ab");
    EXPECT_FALSE(Utf8ToWide("\xF7\xBF\xBF\xBF"
                            "c",
                            buf, 8)); // largest 4-byte value
    EXPECT_STREQ(buf, L"c");
}

TEST(Utf8ToWide, InvalidBytesStopTheOutputWhereItStands) {
    wchar_t buf[16];
    EXPECT_FALSE(Utf8ToWide("ab\x80"
                            "cd",
                            buf, 16)); // stray continuation byte
    EXPECT_STREQ(buf, L"ab");
    EXPECT_FALSE(Utf8ToWide("ab\xF8\x88\x80\x80\x80", buf, 16)); // 5-byte lead
    EXPECT_STREQ(buf, L"ab");
    EXPECT_FALSE(Utf8ToWide("ab\xC3"
                            "A",
                            buf, 16)); // wrong following byte
    EXPECT_STREQ(buf, L"ab");
    EXPECT_FALSE(Utf8ToWide("ab\xE2\x82", buf, 16)); // cut by the terminator
    EXPECT_STREQ(buf, L"ab");
}

TEST(Utf8ToWide, FullBufferStopsWithoutMarkingTheTextInvalid) {
    std::wstring buf = Filled(8);
    EXPECT_TRUE(Utf8ToWide("abcdef", &buf[0], 4));
    EXPECT_STREQ(buf.c_str(), L"abc");
    EXPECT_EQ(buf[4], kFill);

    buf = Filled(8);
    EXPECT_TRUE(Utf8ToWide("abc", &buf[0], 4)); // exact fit
    EXPECT_STREQ(buf.c_str(), L"abc");

    buf = Filled(8);
    EXPECT_TRUE(Utf8ToWide("abc", &buf[0], 1));
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(buf[1], kFill);
}

TEST(Utf8ToWide, SurrogatePairNeedsTwoFreePlaces) {
    std::wstring buf = Filled(8);
    EXPECT_TRUE(Utf8ToWide("a\xF0\x9F\x98\x80"
                           "b",
                           &buf[0], 3)); // room for one unit only
    EXPECT_STREQ(buf.c_str(), L"a");
    EXPECT_EQ(buf[3], kFill);

    buf = Filled(8);
    EXPECT_TRUE(Utf8ToWide("a\xF0\x9F\x98\x80"
                           "b",
                           &buf[0], 4));
    EXPECT_EQ(std::wstring(buf.c_str()), (std::wstring{L'a', wchar_t(0xD83D), wchar_t(0xDE00)}));
}

// ---------------------------------------------------------------------------------------------
// Numbers

TEST(ParseInt64, SignAndDigitRules) {
    EXPECT_EQ(ParseInt64(L"0"), 0);
    EXPECT_EQ(ParseInt64(L"12345"), 12345);
    EXPECT_EQ(ParseInt64(L"007"), 7);
    EXPECT_EQ(ParseInt64(L"-12x"), -12);
    EXPECT_EQ(ParseInt64(L"5-3"), 5);
    EXPECT_EQ(ParseInt64(L"x5"), 0);
    EXPECT_EQ(ParseInt64(L"+5"), 0);
    EXPECT_EQ(ParseInt64(L" 5"), 0);
    EXPECT_EQ(ParseInt64(L"--5"), 0);
    EXPECT_EQ(ParseInt64(L"-"), 0);
    EXPECT_EQ(ParseInt64(L""), 0);
    EXPECT_EQ(ParseInt64(L"1\u0662"), 1); // non-ASCII digits end the number
}

TEST(ParseInt64, WrapsAroundAsUnsigned) {
    EXPECT_EQ(ParseInt64(L"9223372036854775807"), INT64_MAX);
    EXPECT_EQ(ParseInt64(L"-9223372036854775807"), -INT64_MAX);
    EXPECT_EQ(ParseInt64(L"9223372036854775808"), INT64_MIN);
    EXPECT_EQ(ParseInt64(L"18446744073709551615"), -1);
    EXPECT_EQ(ParseInt64(L"18446744073709551616"), 0);
    EXPECT_EQ(ParseInt64(L"18446744073709551617"), 1);
    // A value that is already negative as signed keeps its sign despite the '-'.
    EXPECT_EQ(ParseInt64(L"-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(ParseInt64(L"-9223372036854775809"), INT64_MIN + 1);
    EXPECT_EQ(ParseInt64(L"-18446744073709551615"), -1);
    EXPECT_EQ(ParseInt64(L"-18446744073709551617"), -1);
}

std::wstring IntText(int64_t value, size_t capacity) {
    std::wstring buf = Filled(capacity + 4);
    Int64ToText(value, &buf[0], capacity);
    EXPECT_EQ(buf[capacity], kFill) << "wrote past capacity " << capacity;
    return capacity == 0 ? buf : std::wstring(buf.c_str());
}

TEST(Int64ToText, FullValues) {
    EXPECT_EQ(IntText(0, 32), L"0");
    EXPECT_EQ(IntText(7, 32), L"7");
    EXPECT_EQ(IntText(-42, 32), L"-42");
    EXPECT_EQ(IntText(INT64_MAX, 32), L"9223372036854775807");
    EXPECT_EQ(IntText(INT64_MIN, 32), L"-9223372036854775808");
    EXPECT_EQ(IntText(INT64_MIN, 21), L"-9223372036854775808"); // exact fit
}

TEST(Int64ToText, CutKeepsTheLowestDigits) {
    EXPECT_EQ(IntText(12345, 3), L"45");
    EXPECT_EQ(IntText(12345, 6), L"12345");
    EXPECT_EQ(IntText(12345, 5), L"2345");
    EXPECT_EQ(IntText(12345, 2), L"5");
    EXPECT_EQ(IntText(12345, 1), L"");
    EXPECT_EQ(IntText(-12345, 4), L"-45");
    EXPECT_EQ(IntText(-12345, 6), L"-2345");
    EXPECT_EQ(IntText(INT64_MIN, 20), L"-223372036854775808");
    EXPECT_EQ(IntText(12345, 0), Filled(4));
}

// ---------------------------------------------------------------------------------------------
// Command-line tokens

std::vector<std::wstring> Tokens(const wchar_t* text, size_t capacity = 64) {
    std::vector<std::wstring> tokens;
    std::wstring token(capacity, kFill);
    const wchar_t* pos = text;
    while ((pos = NextToken(pos, &token[0], capacity)) != nullptr) {
        tokens.push_back(token.c_str());
        if (tokens.size() > 16)
            break;
    }
    return tokens;
}

using TokenList = std::vector<std::wstring>;

TEST(NextToken, SplitsAtSpacesAndTabs) {
    EXPECT_EQ(Tokens(L"  /setup\t/S  /wait "), (TokenList{L"/setup", L"/S", L"/wait"}));
    EXPECT_EQ(Tokens(L"a\nb c"), (TokenList{L"a\nb", L"c"}));
}

TEST(NextToken, QuotesKeepBlanksAndAreDropped) {
    EXPECT_EQ(Tokens(L"\"C:\\Program Files\\Bundlo\\Bundlo.exe\" /S"),
              (TokenList{L"C:\\Program Files\\Bundlo\\Bundlo.exe", L"/S"}));
    EXPECT_EQ(Tokens(L"/init=\"a b\"c next"), (TokenList{L"/init=a bc", L"next"}));
    EXPECT_EQ(Tokens(L"\"unterminated quote"), (TokenList{L"unterminated quote"}));
}

TEST(NextToken, DoubledQuoteIsOneLiteralQuote) {
    EXPECT_EQ(Tokens(L"a\"\"b c"), (TokenList{L"a\"b", L"c"}));
    EXPECT_EQ(Tokens(L"\"say \"\"hi\"\" now\" x"), (TokenList{L"say \"hi\" now", L"x"}));
}

TEST(NextToken, OnlyBlanksGiveNoToken) {
    wchar_t token[8];
    EXPECT_EQ(NextToken(L" \t  ", token, 8), nullptr);
    EXPECT_EQ(NextToken(L"", token, 8), nullptr);
}

TEST(NextToken, ReturnsThePositionOfTheEndingBlank) {
    const wchar_t* text = L"  first second";
    wchar_t token[16];
    const wchar_t* pos = NextToken(text, token, 16);
    EXPECT_STREQ(token, L"first");
    EXPECT_EQ(pos, text + 7);
    pos = NextToken(pos, token, 16);
    EXPECT_STREQ(token, L"second");
    EXPECT_EQ(pos, text + 14);
    EXPECT_EQ(NextToken(pos, token, 16), nullptr);
}

TEST(NextToken, OverLongTokenIsCutButFullyConsumed) {
    EXPECT_EQ(Tokens(L"abcdefgh ij \"k l m n\" o", 4), (TokenList{L"abc", L"ij", L"k l", L"o"}));
    EXPECT_EQ(Tokens(L"abcd efg", 5), (TokenList{L"abcd", L"efg"})); // exact fit
    EXPECT_EQ(Tokens(L"abc de", 1), (TokenList{L"", L""}));

    std::wstring token = Filled(8);
    const wchar_t* text = L"abcdefgh next";
    EXPECT_EQ(NextToken(text, &token[0], 4), text + 8);
    EXPECT_STREQ(token.c_str(), L"abc");
    EXPECT_EQ(token[4], kFill);
}

// ---------------------------------------------------------------------------------------------
// Sorting

int compareCalls = 0;

int CompareInt(const void* a, const void* b) {
    compareCalls++;
    int x = *static_cast<const int*>(a), y = *static_cast<const int*>(b);
    return x < y ? -1 : x > y ? 1 : 0;
}

int CompareByteDescending(const void* a, const void* b) {
    return int(*static_cast<const unsigned char*>(b)) - int(*static_cast<const unsigned char*>(a));
}

struct Record {
    uint64_t key;
    uint32_t id;
    char tag[13]; // odd size so the element is not a multiple of a machine word
};

int CompareRecord(const void* a, const void* b) {
    uint64_t x = static_cast<const Record*>(a)->key, y = static_cast<const Record*>(b)->key;
    return x < y ? -1 : x > y ? 1 : 0;
}

struct Triple {
    unsigned char bytes[3];
};

int CompareTriple(const void* a, const void* b) {
    return memcmp(a, b, 3);
}

TEST(SortArray, FewerThanTwoElementsAreLeftAlone) {
    compareCalls = 0;
    SortArray(nullptr, 0, sizeof(int), CompareInt);
    int one = 5;
    SortArray(&one, 1, sizeof(int), CompareInt);
    EXPECT_EQ(one, 5);
    EXPECT_EQ(compareCalls, 0);
}

TEST(SortArray, SmallInputs) {
    int two[] = {2, 1};
    SortArray(two, 2, sizeof(int), CompareInt);
    EXPECT_EQ(two[0], 1);
    EXPECT_EQ(two[1], 2);

    int three[] = {3, 1, 2};
    SortArray(three, 3, sizeof(int), CompareInt);
    EXPECT_EQ(std::vector<int>(three, three + 3), (std::vector<int>{1, 2, 3}));
}

TEST(SortArray, MatchesStdSortOnRandomInts) {
    std::mt19937 random(12345);
    for (size_t count : {5u, 64u, 1000u, 4097u}) {
        std::vector<int> values(count);
        for (int& v : values)
            v = int(random() % 200) - 100; // many duplicates
        std::vector<int> expected = values;
        std::sort(expected.begin(), expected.end());
        SortArray(values.data(), values.size(), sizeof(int), CompareInt);
        EXPECT_EQ(values, expected) << count;
    }
}

TEST(SortArray, SortedAndReversedInputs) {
    std::vector<int> ascending(300), descending(300);
    for (int i = 0; i < 300; i++) {
        ascending[i] = i;
        descending[i] = 299 - i;
    }
    std::vector<int> expected = ascending;
    SortArray(ascending.data(), ascending.size(), sizeof(int), CompareInt);
    SortArray(descending.data(), descending.size(), sizeof(int), CompareInt);
    EXPECT_EQ(ascending, expected);
    EXPECT_EQ(descending, expected);
}

TEST(SortArray, HonoursTheComparatorDirectionForSingleBytes) {
    std::mt19937 random(7);
    std::vector<unsigned char> bytes(777);
    for (unsigned char& b : bytes)
        b = static_cast<unsigned char>(random());
    std::vector<unsigned char> expected = bytes;
    std::sort(expected.begin(), expected.end(), std::greater<unsigned char>());
    SortArray(bytes.data(), bytes.size(), 1, CompareByteDescending);
    EXPECT_EQ(bytes, expected);
}

TEST(SortArray, MovesWholeRecordsOfOddSizes) {
    std::mt19937_64 random(99);
    std::vector<Record> records(513);
    for (uint32_t i = 0; i < records.size(); i++) {
        Record& r = records[i];
        r.key = random() % 100;
        r.id = i;
        FormatNarrowText(r.tag, sizeof r.tag, "%u:%u", unsigned(r.key), unsigned(i));
    }
    std::vector<Record> original = records;
    SortArray(records.data(), records.size(), sizeof(Record), CompareRecord);

    std::vector<uint32_t> seen;
    for (size_t i = 0; i < records.size(); i++) {
        const Record& r = records[i];
        if (i > 0) {
            EXPECT_LE(records[i - 1].key, r.key) << i;
        }
        ASSERT_LT(r.id, original.size());
        EXPECT_EQ(r.key, original[r.id].key);
        EXPECT_STREQ(r.tag, original[r.id].tag);
        seen.push_back(r.id);
    }
    std::sort(seen.begin(), seen.end());
    for (uint32_t i = 0; i < seen.size(); i++)
        EXPECT_EQ(seen[i], i);

    std::mt19937 random3(3);
    std::vector<Triple> triples(250);
    for (Triple& t : triples)
        for (unsigned char& b : t.bytes)
            b = static_cast<unsigned char>(random3() % 4);
    std::vector<Triple> expected = triples;
    std::sort(expected.begin(), expected.end(),
              [](const Triple& a, const Triple& b) { return memcmp(a.bytes, b.bytes, 3) < 0; });
    SortArray(triples.data(), triples.size(), sizeof(Triple), CompareTriple);
    ASSERT_EQ(sizeof(Triple), 3u);
    EXPECT_EQ(memcmp(triples.data(), expected.data(), triples.size() * 3), 0);
}

} // namespace
