// Longer than most files: the key table alone is one line per key of every numbered string and
// dialog control, and the parser reads three encodings into it in one pass.
#include "lang/langfile.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <memory>

#include "common/file.h"
#include "common/paths.h"
#include "common/text.h"
#include "common/system.h"
#include "resources/resource.h"

// Each row's id and key name come from the one name in resource.h (or windows.h, for IDOK,
// IDCANCEL and IDHELP), so that the two cannot drift apart.
#define STRING_KEY(id)                                                                             \
    { id, "s:" #id }
#define DIALOG_KEY(dialog, id)                                                                     \
    { id, "$" #dialog ":" #id }
#define DIALOG_TEXT(dialog, what)                                                                  \
    { 0, "$" #dialog ":" #what }

const LanguageKeyRow LanguageKeyTable[] = {
    STRING_KEY(IDS_UNINSTTITLE),
    STRING_KEY(IDS_BUNDLOHELP),
    STRING_KEY(IDS_BDLHELP),
    STRING_KEY(IDS_WHATSNEW),
    STRING_KEY(IDS_WHATSNEWNAME),
    STRING_KEY(IDS_UNINSTALLBDL),
    STRING_KEY(IDS_UNINSTALLCOMPLETED),
    STRING_KEY(IDS_UNINSTALLSHOULDDELETE),
    STRING_KEY(IDS_CONTINUEUNINSTALL),
    STRING_KEY(IDS_CANNOTOPENLIST),
    STRING_KEY(IDS_BUNDLOARC),
    STRING_KEY(IDS_BUNDLOZIPARC),
    STRING_KEY(IDS_BDLRECVOL),
    STRING_KEY(IDS_HOMEURL),
    STRING_KEY(IDS_BUNDLODESC),
    STRING_KEY(IDS_REBOOTREQUIRED),
    STRING_KEY(IDS_INSTHELP1),
    STRING_KEY(IDS_INSTHELP2),
    STRING_KEY(IDS_INSTHELP3),
    STRING_KEY(IDS_INSTHELP4),
    STRING_KEY(IDS_INSTHELP5),
    STRING_KEY(IDS_INSTHELP6),
    STRING_KEY(IDS_WARN32BIT),
    STRING_KEY(IDS_INSTREBOOTREQUIRED),
    STRING_KEY(IDS_BETA),
    STRING_KEY(IDS_32BIT),
    STRING_KEY(IDS_64BIT),
    STRING_KEY(IDS_SINGLETOPITEM),
    STRING_KEY(IDS_SETTINGSDAMAGED),
    STRING_KEY(IDS_CLEARALLTYPES),
    STRING_KEY(IDS_TOPITEMSTITLE),
    STRING_KEY(IDS_USAGE),
    STRING_KEY(IDS_ANOTHERRUN),

    DIALOG_TEXT(SETUPDLG, SIZE),
    DIALOG_TEXT(SETUPDLG, CAPTION),
    DIALOG_KEY(SETUPDLG, IDC_ASSOCWITH),
    DIALOG_KEY(SETUPDLG, IDC_ASSOCBDL),
    DIALOG_KEY(SETUPDLG, IDC_ASSOCZIP),
    DIALOG_KEY(SETUPDLG, IDC_ASSOC7Z),
    DIALOG_KEY(SETUPDLG, IDC_ASSOCARJ),
    DIALOG_KEY(SETUPDLG, IDC_ASSOCBZ2),
    DIALOG_KEY(SETUPDLG, IDC_ASSOCCAB),
    DIALOG_KEY(SETUPDLG, IDC_ASSOCGZ),
    DIALOG_KEY(SETUPDLG, IDC_ASSOCISO),
    DIALOG_KEY(SETUPDLG, IDC_ASSOCJAR),
    DIALOG_KEY(SETUPDLG, IDC_ASSOCLZ),
    DIALOG_KEY(SETUPDLG, IDC_ASSOCLZH),
    DIALOG_KEY(SETUPDLG, IDC_ASSOCTAR),
    DIALOG_KEY(SETUPDLG, IDC_ASSOCUUE),
    DIALOG_KEY(SETUPDLG, IDC_ASSOCXZ),
    DIALOG_KEY(SETUPDLG, IDC_ASSOCZ),
    DIALOG_KEY(SETUPDLG, IDC_ASSOCZIPX),
    DIALOG_KEY(SETUPDLG, IDC_ASSOCZST),
    DIALOG_KEY(SETUPDLG, IDC_ASSOC001),
    DIALOG_KEY(SETUPDLG, IDC_ASSOCALL),
    DIALOG_KEY(SETUPDLG, IDC_INTEGRATIONINTERFACE),
    DIALOG_KEY(SETUPDLG, IDC_LINKDESKTOP),
    DIALOG_KEY(SETUPDLG, IDC_LINKSTARTMENU),
    DIALOG_KEY(SETUPDLG, IDC_LINKPROGRAMS),
    DIALOG_KEY(SETUPDLG, IDC_SHELLINTEGRATION),
    DIALOG_KEY(SETUPDLG, IDC_SHELLEXT),
    DIALOG_KEY(SETUPDLG, IDC_SHELLCASCADED),
    DIALOG_KEY(SETUPDLG, IDC_SHELLICONS),
    DIALOG_KEY(SETUPDLG, IDC_SHELLLEGACYMENU),
    DIALOG_KEY(SETUPDLG, IDC_SETCONTEXTMENU),
    DIALOG_KEY(SETUPDLG, IDOK),
    DIALOG_KEY(SETUPDLG, IDCANCEL),
    DIALOG_KEY(SETUPDLG, IDHELP),

    DIALOG_TEXT(DONEDLG, SIZE),
    DIALOG_TEXT(DONEDLG, CAPTION),
    DIALOG_KEY(DONEDLG, IDOK),
    DIALOG_KEY(DONEDLG, IDC_INSTINFOFOLDER),
    DIALOG_KEY(DONEDLG, IDC_INSTINFOOPTIONS),
    DIALOG_KEY(DONEDLG, IDC_INSTINFOHELP),
    DIALOG_KEY(DONEDLG, IDC_VIEWHELP),
    DIALOG_KEY(DONEDLG, IDC_VIEWLICENSE),
    DIALOG_KEY(DONEDLG, IDC_HOMEPAGE),
    DIALOG_KEY(DONEDLG, IDC_THANKS),

    DIALOG_TEXT(SETUPCONTEXTITEMS, SIZE),
    DIALOG_TEXT(SETUPCONTEXTITEMS, CAPTION),
    DIALOG_KEY(SETUPCONTEXTITEMS, IDC_CONTEXTMENUITEMS),
    DIALOG_KEY(SETUPCONTEXTITEMS, IDC_CONTEXTEXTRACTTO),
    DIALOG_KEY(SETUPCONTEXTITEMS, IDC_CONTEXTEXTRACTHERE),
    DIALOG_KEY(SETUPCONTEXTITEMS, IDC_CONTEXTEXTRACT),
    DIALOG_KEY(SETUPCONTEXTITEMS, IDC_CONTEXTEXTRACTSEPARATE),
    DIALOG_KEY(SETUPCONTEXTITEMS, IDC_CONTEXTOPENSFX),
    DIALOG_KEY(SETUPCONTEXTITEMS, IDC_CONTEXTOPENARC),
    DIALOG_KEY(SETUPCONTEXTITEMS, IDC_CONTEXTADD),
    DIALOG_KEY(SETUPCONTEXTITEMS, IDC_CONTEXTADDARC),
    DIALOG_KEY(SETUPCONTEXTITEMS, IDC_CONTEXTEMAILARC),
    DIALOG_KEY(SETUPCONTEXTITEMS, IDC_CONTEXTEMAILARCOPT),
    DIALOG_KEY(SETUPCONTEXTITEMS, IDC_CONTEXTTEST),
    DIALOG_KEY(SETUPCONTEXTITEMS, IDC_CONTEXTCONVERT),
    DIALOG_KEY(SETUPCONTEXTITEMS, IDC_CONTEXTTOPEXTRACT),
    DIALOG_KEY(SETUPCONTEXTITEMS, IDC_CONTEXTTOPEXTRACTTO),
    DIALOG_KEY(SETUPCONTEXTITEMS, IDC_CONTEXTTOPEXTRACTHERE),
    DIALOG_KEY(SETUPCONTEXTITEMS, IDC_CONTEXTTOPEXTRACTSEPARATE),
    DIALOG_KEY(SETUPCONTEXTITEMS, IDC_CONTEXTTOPADDARC),
    DIALOG_KEY(SETUPCONTEXTITEMS, IDC_CONTEXTTOPADD),
    DIALOG_KEY(SETUPCONTEXTITEMS, IDC_CONTEXTNEWMENU),
    DIALOG_KEY(SETUPCONTEXTITEMS, IDC_CONTEXTNEWBDL),
    DIALOG_KEY(SETUPCONTEXTITEMS, IDC_CONTEXTNEWZIP),
    DIALOG_KEY(SETUPCONTEXTITEMS, IDC_CONTEXTDROPMENU),
    DIALOG_KEY(SETUPCONTEXTITEMS, IDC_CONTEXTDRAGADD),
    DIALOG_KEY(SETUPCONTEXTITEMS, IDC_CONTEXTDRAGEXTRACT),
    DIALOG_KEY(SETUPCONTEXTITEMS, IDC_CONTEXTSFXARCHIVES),
    DIALOG_KEY(SETUPCONTEXTITEMS, IDC_CONTEXTSFXLOCAL),
    DIALOG_KEY(SETUPCONTEXTITEMS, IDC_CONTEXTSFXNETWORK),
    DIALOG_KEY(SETUPCONTEXTITEMS, IDC_CONTEXTSFXOTHER),
    DIALOG_KEY(SETUPCONTEXTITEMS, IDC_CONTEXTALWAYSARCTITLE),
    DIALOG_KEY(SETUPCONTEXTITEMS, IDOK),
    DIALOG_KEY(SETUPCONTEXTITEMS, IDCANCEL),
    DIALOG_KEY(SETUPCONTEXTITEMS, IDHELP),
};
#undef STRING_KEY
#undef DIALOG_KEY
#undef DIALOG_TEXT
// A row missing from the list would otherwise leave a zero row at the end of the table.
static_assert(sizeof LanguageKeyTable / sizeof LanguageKeyTable[0] == LanguageKeyCount,
              "the key table must have exactly LanguageKeyCount rows");

LanguageFile Language;

namespace {

const int32_t MarkerReadSize = 8192;
const int MarkerReadCount = 256;
// Consecutive reads share this many bytes. A marker that straddles the end of one read must lie
// whole in the next, so the overlap must hold the longer (UTF-16) form of the marker less one
// byte; with less, a UTF-16 marker starting in the last bytes of a read would be found in no read.
const int32_t MarkerOverlap = 32;
const char MarkerTail[] = "*messages***"; // after the leading "**"; 11 characters are compared
const int MarkerTailLength = 11;
const int32_t AnsiMarkerBytes = 2 + MarkerTailLength;
const int32_t WideMarkerBytes = 2 * AnsiMarkerBytes;

// Characters counted from the line start within which an entry's separator must appear.
const size_t SeparatorWindow = 99;
// Characters of a section name taken after its keyword.
const size_t SectionNameLimit = 99;
// Room for a prefix built from a section name: "$", the name in the ANSI code page (up to three
// bytes a character), ":" and the terminator.
const size_t PrefixCapacity = 3 * SectionNameLimit + 3;
// The same for an identifier; everything beyond the key's 49 characters is cut in the end.
const size_t IdentifierCapacity = 3 * SeparatorWindow + 1;
// "$%s:%s" of a dialog and an item, and a table key handed to FindText.
const size_t LookupKeyCapacity = 80;

struct FreeDeleter {
    void operator()(void* block) const { free(block); }
};
template <typename T> using HeapBlock = std::unique_ptr<T[], FreeDeleter>;

// Work buffers are taken without the out-of-memory exit: when one cannot be had the file is
// simply not read, and the program runs on its own resources.
template <typename T> HeapBlock<T> TryAllocate(size_t count) {
    return HeapBlock<T>(static_cast<T*>(malloc(count * sizeof(T))));
}

template <typename T> void ReleaseArray(Array<T>& array) {
    free(array.Data);
    array.Data = nullptr;
    array.Count = 0;
    array.Capacity = 0;
}

// The section prefix of a table key: the characters before its first ":".
size_t PrefixLength(const char* key) {
    return strcspn(key, ":");
}

int ComparePrefixes(const char* a, const char* b) {
    size_t lengthA = PrefixLength(a);
    size_t lengthB = PrefixLength(b);
    int order = memcmp(a, b, lengthA < lengthB ? lengthA : lengthB);
    if (order != 0)
        return order;
    return lengthA < lengthB ? -1 : lengthA > lengthB ? 1 : 0;
}

int CompareTableKeys(const void* a, const void* b) {
    return strcmp(LanguageKeyTable[*static_cast<const uint32_t*>(a)].Key,
                  LanguageKeyTable[*static_cast<const uint32_t*>(b)].Key);
}

int CompareRowToPrefixAndId(const LanguageKeyRow& row, const char* prefix, unsigned id) {
    int order = ComparePrefixes(row.Key, prefix);
    if (order != 0)
        return order;
    return row.Id < id ? -1 : row.Id > id ? 1 : 0;
}

int CompareTablePrefixesAndIds(const void* a, const void* b) {
    const LanguageKeyRow& right = LanguageKeyTable[*static_cast<const uint32_t*>(b)];
    return CompareRowToPrefixAndId(LanguageKeyTable[*static_cast<const uint32_t*>(a)], right.Key,
                                   right.Id);
}

// SortArray's comparison takes no context; the entries being indexed are named here.
const Array<LanguageEntry>* SortedEntries;

int CompareEntryKeys(const void* a, const void* b) {
    const Array<LanguageEntry>& entries = *SortedEntries;
    return strcmp(entries[*static_cast<const uint32_t*>(a)].Key,
                  entries[*static_cast<const uint32_t*>(b)].Key);
}

void FillPositions(Array<uint32_t>& index, uint32_t count) {
    index.Resize(count);
    for (uint32_t i = 0; i < count; i++)
        index[i] = i;
}

void BuildKeyTableIndexes(LanguageFile& file) {
    FillPositions(file.KeyIndex, LanguageKeyCount);
    SortArray(file.KeyIndex.Data, LanguageKeyCount, sizeof(uint32_t), CompareTableKeys);
    FillPositions(file.IdIndex, LanguageKeyCount);
    SortArray(file.IdIndex.Data, LanguageKeyCount, sizeof(uint32_t), CompareTablePrefixesAndIds);
}

void BuildEntryIndex(LanguageFile& file) {
    FillPositions(file.EntryIndex, file.Entries.Count);
    SortedEntries = &file.Entries;
    SortArray(file.EntryIndex.Data, file.EntryIndex.Count, sizeof(uint32_t), CompareEntryKeys);
    SortedEntries = nullptr;
}

enum class MarkerForm { None, Ansi, Wide };

bool TailMatchesAnsi(const unsigned char* bytes) {
    for (int i = 0; i < MarkerTailLength; i++)
        if (bytes[i] != static_cast<unsigned char>(MarkerTail[i]))
            return false;
    return true;
}

bool TailMatchesWide(const unsigned char* bytes) {
    for (int i = 0; i < MarkerTailLength; i++)
        if (bytes[2 * i] != static_cast<unsigned char>(MarkerTail[i]) || bytes[2 * i + 1] != 0)
            return false;
    return true;
}

bool IsWideAsterisk(const unsigned char* bytes) {
    return bytes[0] == '*' && bytes[1] == 0;
}

// Looks through the file from its start, in overlapping reads, for the first position where the
// marker lies whole in one read, in either form.
MarkerForm FindMarker(File& file, unsigned char* buffer, int64_t* markerPosition) {
    int64_t position = 0;
    for (int read = 0; read < MarkerReadCount; read++) {
        if (read > 0)
            file.Seek(position, FILE_BEGIN);
        int32_t count = file.Read(buffer, MarkerReadSize);
        // Only positions where the whole marker was read are compared, so no comparison reaches
        // past the bytes read, however few they are.
        for (int32_t j = 0; j + AnsiMarkerBytes <= count; j++) {
            if (buffer[j] == '*' && buffer[j + 1] == '*' && TailMatchesAnsi(buffer + j + 2)) {
                *markerPosition = position + j;
                return MarkerForm::Ansi;
            }
            if (j + WideMarkerBytes <= count && IsWideAsterisk(buffer + j) &&
                IsWideAsterisk(buffer + j + 2) && TailMatchesWide(buffer + j + 4)) {
                *markerPosition = position + j;
                return MarkerForm::Wide;
            }
        }
        // A short read means the file ended: every position has been seen, and stepping back by
        // the overlap would only read the same bytes again.
        if (count < MarkerReadSize)
            break;
        position += count - MarkerOverlap;
    }
    return MarkerForm::None;
}

// -1 when the size cannot be read.
int64_t FileSize(File& file) {
    LARGE_INTEGER size;
    return GetFileSizeEx(file.Handle.get(), &size) ? size.QuadPart : -1;
}

// Reads from the marker on, at most LanguageReadLimit bytes.
HeapBlock<unsigned char> ReadFromMarker(File& file, int64_t markerPosition, int64_t fileSize,
                                        size_t* byteCount) {
    // The file may grow while it is read (others may write it), so the size only bounds the
    // buffer; an unknown size takes the whole limit.
    size_t size = LanguageReadLimit;
    if (fileSize >= markerPosition && uint64_t(fileSize - markerPosition) < size)
        size = size_t(fileSize - markerPosition);
    // Two bytes more for a terminator in either form.
    HeapBlock<unsigned char> buffer = TryAllocate<unsigned char>(size + 2);
    if (!buffer)
        return buffer;
    file.Seek(markerPosition, FILE_BEGIN);
    size_t total = 0;
    while (total < size) {
        int32_t count = file.Read(buffer.get() + total, int32_t(size - total));
        if (count <= 0)
            break;
        total += size_t(count);
    }
    buffer[total] = 0;
    buffer[total + 1] = 0;
    *byteCount = total;
    return buffer;
}

// The text from the marker on, terminated and cut to LanguageCharLimit characters; charCount
// bounds its length.
HeapBlock<wchar_t> DecodeText(const unsigned char* bytes, size_t byteCount, MarkerForm form,
                              size_t* charCount) {
    size_t count = form == MarkerForm::Wide ? byteCount / 2 : byteCount;
    HeapBlock<wchar_t> text = TryAllocate<wchar_t>(count + 1);
    if (!text)
        return text;
    if (form == MarkerForm::Wide) {
        memcpy(text.get(), bytes, count * sizeof(wchar_t));
        text[count] = 0;
    } else {
        // The ANSI code page never gives more characters than bytes, so the whole text fits.
        ToWide(reinterpret_cast<const char*>(bytes), text.get(), count + 1);
    }
    if (count > LanguageCharLimit)
        count = LanguageCharLimit;
    text[count] = 0;
    *charCount = count;
    return text;
}

bool IsLineEnd(wchar_t c) {
    return c == L'\r' || c == L'\n';
}

bool EndsName(wchar_t c) {
    return unsigned(c) <= 32;
}

const wchar_t* SkipToLineEnd(const wchar_t* p) {
    while (*p != 0 && !IsLineEnd(*p))
        p++;
    return p;
}

const wchar_t* SkipBlanks(const wchar_t* p) {
    while (IsSpaceOrTab(*p))
        p++;
    return p;
}

// The keyword must end at a blank, a control character or the end of the text.
const wchar_t* MatchKeyword(const wchar_t* p, const wchar_t* keyword) {
    while (*keyword != 0)
        if (*p++ != *keyword++)
            return nullptr;
    return EndsName(*p) ? p : nullptr;
}

// A section name in the ANSI code page, at most SectionNameLimit characters.
void ReadSectionName(const wchar_t* p, wchar_t* wide, char* narrow, size_t narrowCapacity) {
    p = SkipBlanks(p);
    size_t length = 0;
    while (length < SectionNameLimit && !EndsName(p[length])) {
        wide[length] = p[length];
        length++;
    }
    wide[length] = 0;
    ToNarrow(wide, narrow, narrowCapacity);
}

void SetPrefix(char* prefix, const char* lead, const char* name) {
    CopyNarrowText(prefix, lead, PrefixCapacity);
    AppendNarrowText(prefix, name, PrefixCapacity);
    AppendNarrowText(prefix, ":", PrefixCapacity);
}

// A line that begins with ":". An unknown keyword makes it an ignored line.
LanguageLineKind ReadDirective(const wchar_t* p, char* prefix, LanguageFile& file) {
    wchar_t wideName[SectionNameLimit + 1];
    char name[PrefixCapacity];
    const wchar_t* rest;
    if (MatchKeyword(p, L"STRINGS")) {
        CopyNarrowText(prefix, "s:", PrefixCapacity);
    } else if ((rest = MatchKeyword(p, L"DIALOG")) != nullptr) {
        ReadSectionName(rest, wideName, name, sizeof name);
        SetPrefix(prefix, "$", name);
    } else if ((rest = MatchKeyword(p, L"MENU")) != nullptr) {
        ReadSectionName(rest, wideName, name, sizeof name);
        SetPrefix(prefix, "@", name);
    } else if ((rest = MatchKeyword(p, L"DIRECTION")) != nullptr) {
        ReadSectionName(rest, wideName, name, sizeof name);
        file.RightToLeft = wcscmp(wideName, L"RTL") == 0;
        return LanguageLineKind::Direction;
    } else {
        return LanguageLineKind::Ignored;
    }
    return LanguageLineKind::Section;
}

// The separator of an entry line: the first space, tab or comma among the line's first
// SeparatorWindow characters. The search stops at the line end: a line holding only an
// identifier is then an ignored line, where searching on would take the first word of the next
// line into its key and drop that line's entry. Lines with a separator read the same either way.
const wchar_t* FindSeparator(const wchar_t* line) {
    for (size_t i = 0; i < SeparatorWindow; i++) {
        wchar_t c = line[i];
        if (c == 0 || IsLineEnd(c))
            return nullptr;
        if (c == L' ' || c == L'\t' || c == L',')
            return line + i;
    }
    return nullptr;
}

void BuildKey(const char* prefix, const wchar_t* identifier, size_t length, char* key) {
    wchar_t wide[SeparatorWindow + 1];
    wmemcpy(wide, identifier, length);
    wide[length] = 0;
    char narrow[IdentifierCapacity];
    ToNarrow(wide, narrow, sizeof narrow);
    CopyNarrowText(key, prefix, LanguageKeyCapacity);
    AppendNarrowText(key, narrow, LanguageKeyCapacity);
}

char* DuplicateKey(const char* key) {
    size_t size = strlen(key) + 1;
    char* copy = static_cast<char*>(malloc(size));
    if (copy != nullptr)
        memcpy(copy, key, size);
    return copy;
}

// Finishes a text as translators write it: trailing blanks go, then one closing quote, then
// one opening quote, so quotes are needed only to keep blanks at either end.
void AppendEntry(LanguageFile& file, const char* key, const wchar_t* text, size_t length) {
    while (length > 0 && IsSpaceOrTab(text[length - 1]))
        length--;
    if (length > 0 && text[length - 1] == L'"')
        length--;
    if (length > 0 && text[0] == L'"') {
        text++;
        length--;
    }
    LanguageEntry entry;
    entry.Key = DuplicateKey(key);
    entry.Text = DuplicateText(text, length);
    if (entry.Key == nullptr || entry.Text == nullptr) {
        free(entry.Key);
        free(entry.Text);
        MemoryExit();
    }
    try {
        file.Entries.Append(entry);
    } catch (...) {
        free(entry.Key);
        free(entry.Text);
        throw;
    }
}

wchar_t EscapedChar(wchar_t c) {
    switch (c) {
    case L'"':
        return L'"';
    case L'\\':
        return L'\\';
    case L'n':
        return L'\n';
    case L'r':
        return L'\r';
    case L't':
        return L'\t';
    default:
        return 0;
    }
}

// Reads an entry's text from p to the line end into buffer, keeping at most limit characters;
// returns the line end.
const wchar_t* ReadText(const wchar_t* p, wchar_t* buffer, size_t limit, size_t* length) {
    size_t used = 0;
    while (*p != 0 && !IsLineEnd(*p)) {
        wchar_t c = *p++;
        if (c == L'\\') {
            wchar_t escaped = EscapedChar(*p);
            // The escaped character is taken even when the buffer is full, so an escape that does
            // not fit is dropped whole rather than leaving its letter behind.
            if (escaped != 0) {
                p++;
                c = escaped;
            }
        }
        if (used < limit)
            buffer[used++] = c;
    }
    *length = used;
    return p;
}

// Tells a sink of each line; without a sink it does nothing.
struct LineReport {
    LanguageLineSink Sink;
    void* Context;
    unsigned Number;

    void Tell(LanguageLineKind kind, const wchar_t* line, const wchar_t* end,
              const char* key = nullptr, uint32_t entry = 0, bool wide = false) const {
        if (Sink == nullptr)
            return;
        LanguageLine told = {kind, Number, line, size_t(end - line), key, entry, wide};
        Sink(told, Context);
    }
};

void Parse(const wchar_t* text, wchar_t* buffer, size_t limit, LanguageFile& file,
           LineReport& report, bool wide) {
    char prefix[PrefixCapacity] = "s:";
    char key[LanguageKeyCapacity];
    // The marker's own line is never parsed.
    const wchar_t* p = SkipToLineEnd(text);
    report.Tell(LanguageLineKind::Marker, text, p, nullptr, 0, wide);
    while (*p != 0) {
        // p is at a line end; the next line starts after it. CR LF ends one line, so the empty
        // stretch between the two is no line of its own.
        bool betweenCrAndLf = p[0] == L'\r' && p[1] == L'\n';
        if (!betweenCrAndLf)
            report.Number++;
        p++;
        const wchar_t* line = p;
        LanguageLineKind kind = LanguageLineKind::Ignored;
        if (*p == L':') {
            kind = ReadDirective(p + 1, prefix, file);
        } else if (IsAsciiLetter(*p)) {
            const wchar_t* separator = FindSeparator(p);
            if (separator != nullptr) {
                BuildKey(prefix, p, size_t(separator - p), key);
                size_t length;
                p = ReadText(SkipBlanks(separator + 1), buffer, limit, &length);
                AppendEntry(file, key, buffer, length);
                report.Tell(LanguageLineKind::Entry, line, p, key, file.Entries.Count - 1);
                continue;
            }
        }
        p = SkipToLineEnd(p);
        if (!betweenCrAndLf)
            report.Tell(kind, line, p, kind == LanguageLineKind::Section ? prefix : nullptr);
    }
}

// The lines before the marker's, counted in the marker's form: for a UTF-16 marker, the 16-bit
// units aligned with it.
unsigned LinesBefore(File& input, int64_t markerPosition, MarkerForm form, unsigned char* buffer) {
    int step = form == MarkerForm::Wide ? 2 : 1;
    int64_t position = markerPosition % step;
    input.Seek(position, FILE_BEGIN);
    unsigned lines = 0;
    bool afterCr = false;
    while (position < markerPosition) {
        int64_t left = markerPosition - position;
        int32_t count = input.Read(buffer, left < MarkerReadSize ? int32_t(left) : MarkerReadSize);
        if (count <= 0)
            break;
        for (int32_t i = 0; i + step <= count; i += step) {
            unsigned c = step == 2 ? buffer[i] | unsigned(buffer[i + 1]) << 8 : buffer[i];
            if (c == '\n' || afterCr)
                lines++;
            afterCr = c == '\r';
        }
        position += count;
    }
    return afterCr ? lines + 1 : lines;
}

void Load(LanguageFile& file, const wchar_t* nameOrPath, LineReport& report) {
    wchar_t path[PathCapacity];
    if (wcschr(nameOrPath, L'\\') != nullptr) {
        // Cut, the path would name another file.
        if (!CopyPath(nameOrPath, path))
            return;
    } else if (!GetProgramFile(nameOrPath, path)) {
        // Without the program's own path a bare name would be looked for in whatever folder is
        // current, and another file of that name read.
        return;
    }

    File input;
    if (!input.Open(path, File::OpenShareWrite))
        return;
    BuildKeyTableIndexes(file);

    int64_t markerPosition = 0;
    MarkerForm form;
    {
        HeapBlock<unsigned char> window = TryAllocate<unsigned char>(MarkerReadSize);
        if (!window)
            return;
        form = FindMarker(input, window.get(), &markerPosition);
        if (form != MarkerForm::None && report.Sink != nullptr)
            report.Number = LinesBefore(input, markerPosition, form, window.get()) + 1;
    }
    if (form == MarkerForm::None)
        return;

    HeapBlock<wchar_t> text;
    size_t charCount = 0;
    {
        size_t byteCount = 0;
        HeapBlock<unsigned char> bytes =
            ReadFromMarker(input, markerPosition, FileSize(input), &byteCount);
        input.Close();
        if (!bytes)
            return;
        text = DecodeText(bytes.get(), byteCount, form, &charCount);
    }
    if (!text)
        return;
    // No entry's text is longer than the whole text, and a small file needs no full-sized buffer.
    size_t limit = charCount < LanguageTextCapacity ? charCount : LanguageTextCapacity;
    HeapBlock<wchar_t> buffer = TryAllocate<wchar_t>(limit + 1);
    if (!buffer)
        return;
    Parse(text.get(), buffer.get(), limit, file, report, form == MarkerForm::Wide);
    text.reset();
    buffer.reset();
    BuildEntryIndex(file);
}

// A percentage of a SIZE entry as ParseInt64 reads a number (a sign, then decimal digits), except
// that a number too large for an int stays too large: wrapped at 64 bits, twenty digits could
// come out as any size at all.
int64_t ReadPercentage(const wchar_t* text) {
    bool negative = *text == L'-';
    if (negative)
        text++;
    int64_t value = 0;
    for (; IsDigit(*text); text++)
        if (value <= INT_MAX)
            value = value * 10 + (*text - L'0');
    return negative ? -value : value;
}

// The row of the table's string section with this id.
const LanguageKeyRow* FindStringRow(unsigned id) {
    const Array<uint32_t>& index = Language.IdIndex;
    uint32_t low = 0;
    uint32_t high = index.Count;
    while (low < high) {
        uint32_t middle = low + (high - low) / 2;
        const LanguageKeyRow& row = LanguageKeyTable[index[middle]];
        int order = CompareRowToPrefixAndId(row, "s", id);
        if (order == 0)
            return &row;
        if (order < 0)
            low = middle + 1;
        else
            high = middle;
    }
    return nullptr;
}

} // namespace

LanguageFile::~LanguageFile() {
    Clear();
}

void LanguageFile::Clear() {
    for (uint32_t i = 0; i < Entries.Count; i++) {
        free(Entries[i].Key);
        free(Entries[i].Text);
    }
    ReleaseArray(Entries);
    ReleaseArray(EntryIndex);
    ReleaseArray(KeyIndex);
    ReleaseArray(IdIndex);
    RightToLeft = false;
}

void LoadLanguageFile(const wchar_t* nameOrPath, LanguageLineSink sink, void* context) {
    Language.Clear();
    if (nameOrPath == nullptr)
        return;
    LineReport report = {sink, context, 1};
    Load(Language, nameOrPath, report);
}

bool FindText(const char* key, wchar_t* output, size_t capacity) {
    const Array<uint32_t>& index = Language.EntryIndex;
    if (key == nullptr || index.Count == 0)
        return false;
    uint32_t low = 0;
    uint32_t high = index.Count;
    while (low < high) {
        uint32_t middle = low + (high - low) / 2;
        const LanguageEntry& entry = Language.Entries[index[middle]];
        int order = strcmp(entry.Key, key);
        if (order == 0) {
            CopyText(output, entry.Text, capacity);
            return true;
        }
        if (order < 0)
            low = middle + 1;
        else
            high = middle;
    }
    return false;
}

bool FindDialogText(const wchar_t* dialog, const wchar_t* item, wchar_t* output, size_t capacity) {
    wchar_t wideKey[LookupKeyCapacity];
    FormatText(wideKey, L"$%s:%s", dialog, item);
    char key[LookupKeyCapacity];
    ToNarrow(wideKey, key, LookupKeyCapacity);
    return FindText(key, output, capacity);
}

bool GetDialogScale(const wchar_t* dialog, int* widthPercent, int* heightPercent) {
    wchar_t size[512];
    if (!FindDialogText(dialog, L"SIZE", size, 512))
        return false;
    const wchar_t* star = wcschr(size, L'*');
    if (star == nullptr)
        return false;
    int64_t width = ReadPercentage(size);
    int64_t height = ReadPercentage(star + 1);
    // Percentages that do not fit an int are no scale, not a wrapped one.
    if (width <= 0 || height <= 0 || width > INT_MAX || height > INT_MAX)
        return false;
    if (width == 100 && height == 100)
        return false;
    *widthPercent = int(width);
    *heightPercent = int(height);
    return true;
}

bool FindTextById(unsigned id, wchar_t* output, size_t capacity) {
    if (Language.Entries.Count == 0)
        return false;
    const LanguageKeyRow* row = FindStringRow(id);
    if (row == nullptr)
        return false;
    char key[LookupKeyCapacity];
    CopyNarrowText(key, row->Key, LookupKeyCapacity);
    return FindText(key, output, capacity);
}
