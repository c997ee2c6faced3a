// The translators' kit: the English reference language file, made from the program's own
// resources and key table, and the checker that reads a translation as the program does.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "lang/langfile.h"

enum class ControlKind { GroupBox, CheckBox, Button, Label, Other };

struct TemplateControl {
    unsigned Id;
    ControlKind Kind;
    std::wstring Text;
    short X, Y, Width, Height; // dialog units
};
struct DialogTemplateText {
    std::wstring Caption;
    std::vector<TemplateControl> Controls;
};
// The caption and controls of a dialog of the module, by default this tool, whose resources are
// Uninstall.exe's (the same resource script). False when there is no such dialog or it is no
// DIALOGEX template.
bool ReadDialogTemplate(const wchar_t* name, DialogTemplateText& dialog, HMODULE module = nullptr);

// How the program uses a numbered string beyond showing it: a translation that is not a plain
// file name, or not a web address, is set aside for the English text.
enum class TextUse { Shown, PlainName, WebAddress, Unused };
struct StringNote {
    const char* Key;
    TextUse Use;
    const wchar_t* Where;
};
// Null for a key the notes lack; the reference is not made without one for every string.
const StringNote* FindStringNote(const char* key);

// The dialogs in the order the setup shows them.
struct DialogNote {
    const char* Name;
    const wchar_t* Where;
};
const size_t DialogCount = 3;
extern const DialogNote DialogNotes[DialogCount];

// "s" or "$" and the dialog name: the key up to its ":".
std::string KeySection(const char* key);
// The item after the ":".
const char* KeyItem(const char* key);
// How a section is written in a file: ":STRINGS", ":DIALOG DONEDLG".
std::wstring SectionDirective(const std::string& section);
std::wstring Widen(const std::string& text);

// The English text of a key-table row: the string resource, the template's caption or control
// text, or "100*100" for a SIZE. False when the resources lack it.
bool EnglishText(const LanguageKeyRow& row, std::wstring& text);
// The row of the key table with that key, or null.
const LanguageKeyRow* FindKeyRow(const char* key);

// Placeholders and escapes a translation must keep.
struct TextMarks {
    int Placeholders;  // "%s"
    int OtherPercents; // '%' before a letter or digit other than "%s": printed as it stands
    int LineBreaks;    // "\n"
    int AccessKeys;    // a single '&' marks the next letter as the control's access key
};
TextMarks CountMarks(const std::wstring& text);
// The letter the dialog manager takes as the control's access key: the one after the first '&'
// that is not part of "&&", in capitals; 0 for a text without one.
wchar_t AccessKey(const std::wstring& text);

// printf-style, to standard output in UTF-8.
void Print(const wchar_t* format, ...);

int WriteReference(const wchar_t* path);
// Reads the translation as the program does and measures the dialogs with it at each DPI of
// RenderDpis; prints what a translator must fix. 1 when there are errors.
int CheckTranslation(const wchar_t* path, const wchar_t* shownName);

// A control whose text the program puts together from numbered strings, not from a key of its
// own: it is measured under this item name, and a text that does not fit is the strings' fault.
struct AssembledText {
    const char* Dialog;
    unsigned Id;
    const char* Item;
    const char* FirstKey; // the strings, in the order of the key table
    const char* LastKey;
};
const size_t AssembledTextCount = 1;
extern const AssembledText AssembledTexts[AssembledTextCount];

// The settings users choose most: 100, 125, 150 and 200 percent.
const size_t RenderDpiCount = 4;
extern const int RenderDpis[RenderDpiCount];
// The dialogs at this process's DPI with the language file (null: none): painted into BMP files
// in the folder, or with no folder measured onto standard output. Needs a display.
int RenderDialogs(const wchar_t* folder, const wchar_t* languageFile);
// RenderDialogs in a run of this program at each DPI of RenderDpis, into sub-folders of the folder
// named by the DPI ("96", "120", ...), or with no folder giving each run's measurements. The user's
// DPI setting is put back afterwards.
bool RenderAtEachDpi(const wchar_t* folder, const wchar_t* languageFile,
                     std::vector<std::string>* measurements);
