#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

// Text in fixed buffers. Every capacity counts the terminator (characters for wide text, bytes
// for narrow text); copying, appending and formatting cut silently and always terminate when the
// capacity is at least 1.

wchar_t* CopyText(wchar_t* dst, const wchar_t* src, size_t capacity);
char* CopyNarrowText(char* dst, const char* src, size_t capacity);
void AppendText(wchar_t* dst, const wchar_t* src, size_t capacity);
void AppendNarrowText(char* dst, const char* src, size_t capacity);
void ZeroBuffer(void* buffer, size_t size);
// The first `length` characters of a text, terminated, in a block of their own that free()
// releases; nullptr when memory runs out, for the caller to react as its own code does.
wchar_t* DuplicateText(const wchar_t* text, size_t length);

// printf-style formatting; "%s" takes wide text. Returns the characters written, or -1 when the
// output was cut.
int FormatText(wchar_t* buf, size_t capacity, const wchar_t* format, ...);
int FormatTextV(wchar_t* buf, size_t capacity, const wchar_t* format, va_list args);
int FormatNarrowText(char* buf, size_t capacity, const char* format, ...);
int FormatNarrowTextV(char* buf, size_t capacity, const char* format, va_list args);

// The same with the capacity taken from the array, so that no call can name another buffer's.
template <size_t N> wchar_t* CopyText(wchar_t (&dst)[N], const wchar_t* src) {
    return CopyText(dst, src, N);
}
template <size_t N> void AppendText(wchar_t (&dst)[N], const wchar_t* src) {
    AppendText(dst, src, N);
}
template <size_t N, typename... Args>
int FormatText(wchar_t (&buf)[N], const wchar_t* format, Args... args) {
    return FormatText(buf, N, format, args...);
}

bool IsSpaceOrTab(wchar_t ch);
bool IsAsciiLetter(wchar_t ch);
bool IsDigit(wchar_t ch);
wchar_t AsciiUpper(wchar_t ch);
wchar_t UpperChar(wchar_t ch);
// C0 and C1 control characters and DEL.
bool IsControlChar(wchar_t ch);

// "http://" or "https://" (either case) followed by a host, with no control character, blank or
// invisible formatting character anywhere: an address that a browser, and nothing else, opens.
bool IsWebAddress(const wchar_t* text);

// Case-insensitive and ordinal, as the file system compares names, whatever the user's locale:
// -1 less, 0 equal, 1 greater, -2 on failure. For switches, keywords, file and class names;
// never for ordering texts that users read.
int CompareNoCase(const wchar_t* a, const wchar_t* b);
int CompareNoCasePrefix(const wchar_t* a, const wchar_t* b, size_t n);

// Conversions through the ANSI code page; false when the text did not fit or could not be
// converted, with the destination holding a cut, terminated text.
bool ToWide(const char* src, wchar_t* dst, size_t capacity);
bool ToNarrow(const wchar_t* src, char* dst, size_t capacity);
template <size_t N> bool ToWide(const char* src, wchar_t (&dst)[N]) {
    return ToWide(src, dst, N);
}
template <size_t N> bool ToNarrow(const wchar_t* src, char (&dst)[N]) {
    return ToNarrow(src, dst, N);
}

// The UTF-8 bytes of a text, without a terminator, in an array sized for them: nothing is cut.
// False, with the array empty, when the text cannot be converted.
template <typename T> struct Array;
bool ToUtf8(const wchar_t* text, Array<char>& bytes);

// Bytes as hexadecimal digits (two per byte, upper case) and back. False when the text does not
// fit, or is not an even run of hexadecimal digits that fits; nothing is ever used cut.
bool BytesToHex(const unsigned char* bytes, size_t count, wchar_t* text, size_t capacity);
bool HexToBytes(const wchar_t* text, size_t length, unsigned char* bytes, size_t capacity,
                size_t* count);

bool IsValidUtf8(const unsigned char* bytes, size_t count);
bool Utf8ToWide(const char* utf8, wchar_t* dst, size_t capacity);

int64_t ParseInt64(const wchar_t* text);
void Int64ToText(int64_t value, wchar_t* dst, size_t capacity);

// Reads one command-line token; returns where reading stopped, or nullptr when only blanks were
// left.
const wchar_t* NextToken(const wchar_t* pos, wchar_t* token, size_t capacity);

// In-place heap sort; compare returns a positive number when its first element belongs after its
// second. Equal elements may change their order.
void SortArray(void* base, size_t count, size_t size, int (*compare)(const void*, const void*));
