// Numbered strings, the language module and the dialogs' common localisation.
#pragma once
#include <windows.h>

// Module for dialog templates, icons and strings: the language module when one is loaded,
// else the program itself.
extern HINSTANCE ResourceInstance;
extern HINSTANCE OwnInstance;

const size_t TextRingCapacity = 1024;

// Loads "bdllng.dll" (beside the program, or in the language folder) as a data file, so that
// its strings, dialogs and icon replace the program's own.
void LoadLanguageModule(HINSTANCE ownInstance);
// Releases the module so that its file can be deleted; texts fetched afterwards come from the
// language file or the program's own resources.
void UnloadLanguageModule();
bool IsLanguageModuleLoaded();
// The module to load a dialog template from: the language module when it has the template,
// else the program itself, so that a module made for an older version still lets the dialog
// open.
HINSTANCE DialogInstance(const wchar_t* dialogName);
// Loads the language file and settles the reading direction (the file's DIRECTION, or a dialog
// resource named "RTL" in the language module).
void InitLanguage(const wchar_t* languageFileName);

// The file of the same name in the user's language folder (HKEY_CURRENT_USER
// "Software\Bundlo\General", value "LanguageFolder", environment variables allowed) when it
// exists there; else the path unchanged. `path` and `output` may be the same buffer. A value
// that is not whole text, or that does not expand to a full path, counts as no folder. False,
// with an empty output, when the path does not fit the output or a path buffer: a cut path names
// another file.
bool FindInLanguageFolder(const wchar_t* path, wchar_t* output, size_t capacity);
template <size_t N> bool FindInLanguageFolder(const wchar_t* path, wchar_t (&output)[N]) {
    return FindInLanguageFolder(path, output, N);
}

// FindInLanguageFolder for a file that can start or load something: the help file (HTML Help
// can run programs), the language module (its dialog templates), the licence (opened by its
// file type). The user chooses the language folder, and the user's unelevated programs can
// write it; an elevated run takes such files from the program folder only. The language
// file's texts, checked as they are read, may still come from there.
bool FindRunnableInLanguageFolder(const wchar_t* path, wchar_t* output, size_t capacity);
template <size_t N> bool FindRunnableInLanguageFolder(const wchar_t* path, wchar_t (&output)[N]) {
    return FindRunnableInLanguageFolder(path, output, N);
}

// Called first by every dialog procedure: localises and rescales on WM_INITDIALOG, lays the
// dialog out right to left on WM_SETFONT, and opens the help topic (if any) on F1 and on the
// IDHELP button. True when the message was handled.
bool DialogPrologue(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                    const wchar_t* dialogName, const wchar_t* helpTopic);
// Control texts and caption from the language file, and the size correction of its SIZE entry.
void LocaliseDialog(HWND window, const wchar_t* dialogName);
void ApplyRtlLayout(HWND window);
// Keeps a field left to right in a right-to-left language (file masks, say).
void ClearRtlReading(HWND window);

// Language file first, then the language module, then the program's own resources; a string
// missing everywhere is empty.
wchar_t* LoadTextInto(unsigned id, wchar_t* output, size_t capacity);
template <size_t N> wchar_t* LoadTextInto(unsigned id, wchar_t (&output)[N]) {
    return LoadTextInto(id, output, N);
}
// For a translated text that the program uses where a wrong one does harm (a file name, a web
// address): the translation when `usable` accepts it, else the program's own text. A text that
// fills the whole output may have been cut, and a cut name names something else, so it is not
// used either. False, with an empty output, when even the program's own text is not usable.
bool LoadUsableText(unsigned id, bool (*usable)(const wchar_t*), wchar_t* output, size_t capacity);
template <size_t N>
bool LoadUsableText(unsigned id, bool (*usable)(const wchar_t*), wchar_t (&output)[N]) {
    return LoadUsableText(id, usable, output, N);
}
// The same in one of eight rotating buffers: a result stays valid for the next seven calls.
const wchar_t* LoadText(unsigned id);

// value x LOGPIXELSY / 96, truncating toward zero; the DPI is read once, on first use.
int ScaleForDpi(int value);

// Fills the first "%s" of a translated format with the text. A translation is never used as a
// printf format: a stray "%d" or a second "%s" in a language file must not read arguments that
// were never passed. "%%" gives "%"; every other '%' is copied as it stands. The output is cut
// at capacity - 1 characters and always terminated.
void FormatLocalised(wchar_t* output, size_t capacity, const wchar_t* format, const wchar_t* text);
template <size_t N>
void FormatLocalised(wchar_t (&output)[N], const wchar_t* format, const wchar_t* text) {
    FormatLocalised(output, N, format, text);
}
