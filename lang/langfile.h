// The language file "uninstall.lng": translated numbered strings and dialog texts, a size
// correction per dialog and the reading direction. Translators write symbolic keys; the built-in
// key table ties them to the ids the program uses.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "common/array.h"

// One row of the built-in key table: a section prefix ("s" for numbered strings, "$" and the
// dialog's resource name for dialog items), ":" and the item name. Rows with id 0 (SIZE,
// CAPTION) are found by name only.
struct LanguageKeyRow {
    unsigned Id;
    const char* Key;
};

const size_t LanguageKeyCount = 113;
extern const LanguageKeyRow LanguageKeyTable[LanguageKeyCount];

const size_t LanguageKeyCapacity = 50;     // 49 characters and the terminator
const size_t LanguageTextCapacity = 65536; // characters of one text, cut beyond
const size_t LanguageReadLimit = 2097152;  // bytes read from the marker on
const size_t LanguageCharLimit = 1048576;  // characters parsed

struct LanguageEntry {
    char* Key;
    wchar_t* Text;
};

struct LanguageFile {
    LanguageFile() = default;
    ~LanguageFile();
    LanguageFile(const LanguageFile&) = delete;
    LanguageFile& operator=(const LanguageFile&) = delete;

    // Frees every entry and index and clears RightToLeft.
    void Clear();

    Array<LanguageEntry> Entries;
    Array<uint32_t> EntryIndex; // positions into Entries, sorted by key (strcmp)
    Array<uint32_t> KeyIndex;   // positions into LanguageKeyTable, sorted by key
    Array<uint32_t> IdIndex;    // positions into LanguageKeyTable, sorted by prefix, then id
    // Right-to-left reading order, from the file's DIRECTION directive or the language
    // module's marker.
    bool RightToLeft = false;
};

// The one language file of the process, loaded at start-up and read-only afterwards.
extern LanguageFile Language;

// What the parser made of one line, for the translators' checker, which must read a file exactly
// as the program does; the program itself asks for none of this.
enum class LanguageLineKind {
    Marker,    // the start marker's line; Wide tells the encoding of what follows
    Section,   // ":STRINGS", ":DIALOG" or ":MENU"; Key is the prefix of the keys that follow
    Direction, // ":DIRECTION"
    Entry,     // Key is the key stored, Entry its position in Entries
    Ignored,   // every other line, comments and blank lines included
};
struct LanguageLine {
    LanguageLineKind Kind;
    // As an editor counts lines: from the file's first byte, CR LF, LF and a lone CR each ending
    // one.
    unsigned Number;
    const wchar_t* Text; // the line as read, without its end; not terminated
    size_t Length;
    const char* Key;
    uint32_t Entry;
    bool Wide;
};
typedef void (*LanguageLineSink)(const LanguageLine& line, void* context);

// A bare name is looked for beside the program; a name with a backslash is a path. Whatever the
// object held before is replaced. A missing file, or one without the start marker, leaves no
// entries. A sink hears of every line read, in order.
void LoadLanguageFile(const wchar_t* nameOrPath, LanguageLineSink sink = nullptr,
                      void* context = nullptr);
// False when the file supplied no entries or lacks the key; the text is cut to capacity.
bool FindText(const char* key, wchar_t* output, size_t capacity);
// FindText on "$<dialog>:<item>".
bool FindDialogText(const wchar_t* dialog, const wchar_t* item, wchar_t* output, size_t capacity);
// The dialog's SIZE entry "<width percent>*<height percent>", given only when both are above 0
// and not both 100.
bool GetDialogScale(const wchar_t* dialog, int* widthPercent, int* heightPercent);
// False when the file does not have the string; an empty text from the file counts as found.
bool FindTextById(unsigned id, wchar_t* output, size_t capacity);
