#include "common/text.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <wchar.h>
#include <windows.h>

#include "common/array.h"

namespace {

// Length bounded by the capacity, so a destination that is full or lacks a terminator is never
// read past its end.
template <typename C> size_t BoundedLength(const C* text, size_t limit) {
    size_t length = 0;
    while (length < limit && text[length] != 0)
        length++;
    return length;
}

template <typename C> C* CopyAny(C* dst, const C* src, size_t capacity) {
    if (capacity == 0)
        return dst;
    if (src != nullptr)
        while (--capacity != 0 && *src != 0)
            *dst++ = *src++;
    *dst = 0;
    return dst;
}

template <typename C> void AppendAny(C* dst, const C* src, size_t capacity) {
    size_t length = BoundedLength(dst, capacity);
    if (length < capacity)
        CopyAny(dst + length, src, capacity - length);
}

// The Win32 calls below take int counts; anything longer than INT_MAX is cut to what they accept.
int ClampToInt(size_t value) {
    return value > size_t(INT_MAX) ? INT_MAX : int(value);
}

} // namespace

wchar_t* CopyText(wchar_t* dst, const wchar_t* src, size_t capacity) {
    return CopyAny(dst, src, capacity);
}

char* CopyNarrowText(char* dst, const char* src, size_t capacity) {
    return CopyAny(dst, src, capacity);
}

void AppendText(wchar_t* dst, const wchar_t* src, size_t capacity) {
    AppendAny(dst, src, capacity);
}

void AppendNarrowText(char* dst, const char* src, size_t capacity) {
    AppendAny(dst, src, capacity);
}

void ZeroBuffer(void* buffer, size_t size) {
    if (buffer != nullptr)
        memset(buffer, 0, size);
}

wchar_t* DuplicateText(const wchar_t* text, size_t length) {
    if (length >= SIZE_MAX / sizeof(wchar_t))
        return nullptr;
    wchar_t* copy = static_cast<wchar_t*>(malloc((length + 1) * sizeof(wchar_t)));
    if (copy != nullptr) {
        wmemcpy(copy, text, length);
        copy[length] = 0;
    }
    return copy;
}

// The msvcrt functions are called by name: the C99 variants that mingw-w64 may substitute read
// "%s" as narrow text, and every caller here passes wide text. They get one place less than the
// capacity because they leave the buffer unterminated when the output fills it exactly.
int FormatTextV(wchar_t* buf, size_t capacity, const wchar_t* format, va_list args) {
    if (capacity == 0)
        return -1;
    size_t limit = capacity - 1;
    int written = _vsnwprintf(buf, limit, format, args);
    if (written < 0 || size_t(written) > limit) {
        buf[limit] = 0;
        return -1;
    }
    buf[written] = 0;
    return written;
}

int FormatText(wchar_t* buf, size_t capacity, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    int written = FormatTextV(buf, capacity, format, args);
    va_end(args);
    return written;
}

int FormatNarrowTextV(char* buf, size_t capacity, const char* format, va_list args) {
    if (capacity == 0)
        return -1;
    size_t limit = capacity - 1;
    int written = _vsnprintf(buf, limit, format, args);
    if (written < 0 || size_t(written) > limit) {
        buf[limit] = 0;
        return -1;
    }
    buf[written] = 0;
    return written;
}

int FormatNarrowText(char* buf, size_t capacity, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int written = FormatNarrowTextV(buf, capacity, format, args);
    va_end(args);
    return written;
}

bool IsSpaceOrTab(wchar_t ch) {
    return ch == L' ' || ch == L'\t';
}

bool IsAsciiLetter(wchar_t ch) {
    return (ch >= L'A' && ch <= L'Z') || (ch >= L'a' && ch <= L'z');
}

bool IsDigit(wchar_t ch) {
    return ch >= L'0' && ch <= L'9';
}

wchar_t AsciiUpper(wchar_t ch) {
    return ch >= L'a' && ch <= L'z' ? wchar_t(ch - L'a' + L'A') : ch;
}

bool IsControlChar(wchar_t ch) {
    return ch < 0x20 || (ch >= 0x7F && ch <= 0x9F);
}

namespace {

// Blanks of every width, and the invisible marks that make a text read other than it is: an
// address holding one is not the address it shows.
bool IsBlankOrInvisible(wchar_t ch) {
    return ch == L' ' || ch == 0xA0 || ch == 0x1680 || (ch >= 0x2000 && ch <= 0x200F) ||
           (ch >= 0x2028 && ch <= 0x202F) || (ch >= 0x205F && ch <= 0x206F) || ch == 0x3000 ||
           ch == 0xFEFF;
}

// The ASCII prefix, either case: locale rules (a Turkish dotted I, say) must not widen it.
const wchar_t* SkipAsciiPrefix(const wchar_t* text, const wchar_t* lowerPrefix) {
    for (; *lowerPrefix; ++text, ++lowerPrefix)
        if (AsciiUpper(*text) != AsciiUpper(*lowerPrefix))
            return nullptr;
    return text;
}

} // namespace

bool IsWebAddress(const wchar_t* text) {
    if (!text)
        return false;
    const wchar_t* host = SkipAsciiPrefix(text, L"http://");
    if (!host)
        host = SkipAsciiPrefix(text, L"https://");
    // "http:///C:/..." names no host; a browser may take it for a local file.
    if (!host || *host == 0 || *host == L'/' || *host == L'\\')
        return false;
    for (const wchar_t* p = text; *p; ++p)
        if (IsControlChar(*p) || IsBlankOrInvisible(*p))
            return false;
    return true;
}

wchar_t UpperChar(wchar_t ch) {
    // With a zero high word CharUpperW converts the character passed in the pointer itself.
    return wchar_t(
        reinterpret_cast<uintptr_t>(CharUpperW(reinterpret_cast<LPWSTR>(uintptr_t(ch)))));
}

// Ordinal, as the file system compares names: a user's language must not decide whether a switch,
// a keyword or a file name matches (Turkish puts a dot on the capital of "i"; linguistic
// comparisons skip a soft hyphen).
int CompareNoCase(const wchar_t* a, const wchar_t* b) {
    return CompareStringOrdinal(a, -1, b, -1, TRUE) - 2;
}

int CompareNoCasePrefix(const wchar_t* a, const wchar_t* b, size_t n) {
    // A text shorter than n is passed with its terminator, so it matches only a text that ends at
    // the same place and never a longer text that merely begins with it.
    size_t lengthA = BoundedLength(a, n);
    size_t lengthB = BoundedLength(b, n);
    size_t countA = lengthA < n ? lengthA + 1 : n;
    size_t countB = lengthB < n ? lengthB + 1 : n;
    return CompareStringOrdinal(a, ClampToInt(countA), b, ClampToInt(countB), TRUE) - 2;
}

bool ToWide(const char* src, wchar_t* dst, size_t capacity) {
    // A zero capacity would turn the conversion into a size query that reports success.
    if (capacity == 0)
        return false;
    int limit = ClampToInt(capacity);
    dst[0] = 0;
    int converted = MultiByteToWideChar(CP_ACP, 0, src, -1, dst, limit);
    // A failed conversion may leave a partial, unterminated text behind.
    dst[limit - 1] = 0;
    return converted != 0;
}

bool ToNarrow(const wchar_t* src, char* dst, size_t capacity) {
    if (capacity == 0)
        return false;
    int limit = ClampToInt(capacity);
    dst[0] = 0;
    int converted = WideCharToMultiByte(CP_ACP, 0, src, -1, dst, limit, nullptr, nullptr);
    dst[limit - 1] = 0;
    return converted != 0;
}

bool ToUtf8(const wchar_t* text, Array<char>& bytes) {
    bytes.Resize(0);
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return false;
    bytes.Resize(uint32_t(size));
    if (WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes.Data, size, nullptr, nullptr) != size) {
        bytes.Resize(0);
        return false;
    }
    bytes.Resize(uint32_t(size - 1)); // without the terminator
    return true;
}

bool BytesToHex(const unsigned char* bytes, size_t count, wchar_t* text, size_t capacity) {
    if (capacity == 0 || count > (capacity - 1) / 2)
        return false;
    const wchar_t digits[] = L"0123456789ABCDEF";
    for (size_t i = 0; i < count; i++) {
        text[2 * i] = digits[bytes[i] >> 4];
        text[2 * i + 1] = digits[bytes[i] & 15];
    }
    text[2 * count] = 0;
    return true;
}

namespace {
int HexDigit(wchar_t ch) {
    if (ch >= L'0' && ch <= L'9')
        return ch - L'0';
    if (ch >= L'A' && ch <= L'F')
        return ch - L'A' + 10;
    if (ch >= L'a' && ch <= L'f')
        return ch - L'a' + 10;
    return -1;
}
} // namespace

bool HexToBytes(const wchar_t* text, size_t length, unsigned char* bytes, size_t capacity,
                size_t* count) {
    if (length % 2 != 0 || length / 2 > capacity)
        return false;
    for (size_t i = 0; i < length / 2; i++) {
        int high = HexDigit(text[2 * i]), low = HexDigit(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return false;
        bytes[i] = static_cast<unsigned char>(high * 16 + low);
    }
    *count = length / 2;
    return true;
}

bool IsValidUtf8(const unsigned char* bytes, size_t count) {
    size_t pos = 0;
    while (pos < count) {
        unsigned lead = bytes[pos];
        size_t ones = 0;
        while (ones < 8 && (lead & (0x80u >> ones)) != 0)
            ones++;
        if (ones == 0) {
            pos++;
            continue;
        }
        // The old 5- and 6-byte forms are let through: this only tells UTF-8 files from ANSI ones.
        if (ones == 1 || ones > 6 || count - pos < ones)
            return false;
        for (size_t i = 1; i < ones; i++)
            if ((bytes[pos + i] & 0xC0) != 0x80)
                return false;
        pos += ones;
    }
    return true;
}

bool Utf8ToWide(const char* utf8, wchar_t* dst, size_t capacity) {
    if (capacity == 0)
        return false;
    const unsigned char* src = reinterpret_cast<const unsigned char*>(utf8);
    size_t limit = capacity - 1;
    size_t pos = 0;
    bool valid = true;
    while (*src != 0) {
        unsigned lead = *src;
        uint32_t value;
        int following;
        if (lead < 0x80) {
            value = lead;
            following = 0;
        } else if ((lead & 0xE0) == 0xC0) {
            value = lead & 0x1F;
            following = 1;
        } else if ((lead & 0xF0) == 0xE0) {
            value = lead & 0x0F;
            following = 2;
        } else if ((lead & 0xF8) == 0xF0) {
            value = lead & 0x07;
            following = 3;
        } else {
            valid = false;
            break;
        }
        src++;
        bool complete = true;
        // The terminator fails the 10xxxxxx test, so a cut sequence never reads past the text.
        for (int i = 0; i < following; i++, src++) {
            if ((*src & 0xC0) != 0x80) {
                complete = false;
                break;
            }
            value = (value << 6) | (*src & 0x3F);
        }
        if (!complete) {
            valid = false;
            break;
        }
        if (pos >= limit)
            break;
        if (value <= 0xFFFF) {
            dst[pos++] = wchar_t(value);
            continue;
        }
        if (limit - pos < 2)
            break;
        if (value > 0x10FFFF) {
            // Not representable in UTF-16; skip it and keep the rest of the text.
            valid = false;
            continue;
        }
        dst[pos++] = wchar_t(0xD800 + ((value - 0x10000) >> 10));
        dst[pos++] = wchar_t(0xDC00 + (value & 0x3FF));
    }
    dst[pos] = 0;
    return valid;
}

int64_t ParseInt64(const wchar_t* text) {
    if (text == nullptr)
        return 0;
    bool negative = *text == L'-';
    if (negative)
        text++;
    // Unsigned arithmetic so that an over-long number wraps instead of overflowing.
    uint64_t value = 0;
    for (; IsDigit(*text); text++)
        value = value * 10 + uint64_t(*text - L'0');
    int64_t result = int64_t(value);
    if (negative && result >= 0)
        result = -result;
    return result;
}

void Int64ToText(int64_t value, wchar_t* dst, size_t capacity) {
    if (capacity == 0)
        return;
    bool negative = value < 0;
    // Taken as unsigned so that INT64_MIN has a magnitude too.
    uint64_t magnitude = negative ? 0 - uint64_t(value) : uint64_t(value);
    wchar_t digits[20];
    size_t digitCount = 0;
    do {
        digits[digitCount++] = wchar_t(L'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);

    size_t room = capacity - 1;
    size_t pos = 0;
    if (negative && room > 0) {
        dst[pos++] = L'-';
        room--;
    }
    size_t kept = digitCount < room ? digitCount : room;
    while (kept > 0)
        dst[pos++] = digits[--kept];
    dst[pos] = 0;
}

const wchar_t* NextToken(const wchar_t* pos, wchar_t* token, size_t capacity) {
    if (capacity > 0)
        token[0] = 0;
    if (pos == nullptr)
        return nullptr;
    while (IsSpaceOrTab(*pos))
        pos++;
    if (*pos == 0)
        return nullptr;

    bool quoted = false;
    size_t length = 0;
    while (*pos != 0) {
        wchar_t ch = *pos;
        if (!quoted && IsSpaceOrTab(ch))
            break;
        if (ch == L'"') {
            if (pos[1] != L'"') {
                quoted = !quoted;
                pos++;
                continue;
            }
            pos++;
        }
        pos++;
        // An over-long token is still read to its end so the next call starts at the next one.
        if (length + 1 < capacity)
            token[length++] = ch;
    }
    if (capacity > 0)
        token[length] = 0;
    return pos;
}

void SortArray(void* base, size_t count, size_t size, int (*compare)(const void*, const void*)) {
    if (count < 2 || size == 0)
        return;
    std::unique_ptr<void, void (*)(void*)> scratch(malloc(size), free);
    if (!scratch)
        MemoryExit();
    unsigned char* items = static_cast<unsigned char*>(base);
    auto at = [items, size](size_t index) { return items + index * size; };
    auto swap = [&](size_t i, size_t j) {
        memcpy(scratch.get(), at(i), size);
        memcpy(at(i), at(j), size);
        memcpy(at(j), scratch.get(), size);
    };
    auto siftDown = [&](size_t root, size_t end) {
        for (;;) {
            size_t child = 2 * root + 1;
            if (child >= end)
                return;
            if (child + 1 < end && compare(at(child + 1), at(child)) > 0)
                child++;
            if (compare(at(child), at(root)) <= 0)
                return;
            swap(root, child);
            root = child;
        }
    };

    for (size_t i = count / 2; i-- > 0;)
        siftDown(i, count);
    for (size_t end = count - 1; end > 0; end--) {
        swap(0, end);
        siftDown(0, end);
    }
}
