// Numbered strings, the language module and the dialogs' common localisation.
#pragma once
#include <windows.h>

// Module for dialog templates, icons and strings: the language module when one is loaded,
// else the program itself.
extern HINSTANCE ResourceInstance;
extern HINSTANCE OwnInstance;

const size_t TextRingCapacity = 1024;

void LoadLanguageModule(HINSTANCE ownInstance);
void UnloadLanguageModule();
void InitLanguage(const wchar_t* languageFileName);

// Language file first, then the language module, then the program's own resources; a string
// missing everywhere is empty.
wchar_t* LoadTextInto(unsigned id, wchar_t* output, size_t capacity);
// The same in one of eight rotating buffers: a result stays valid for the next seven calls.
const wchar_t* LoadText(unsigned id);

// value x LOGPIXELSY / 96, truncating toward zero; the DPI is read once, on first use.
int ScaleForDpi(int value);

// Fills the first "%s" of a translated format with the text. A translation is never used as a
// printf format: a stray "%d" or a second "%s" in a language file must not read arguments that
// were never passed. "%%" gives "%"; every other '%' is copied as it stands. The output is cut
// at capacity - 1 characters and always terminated.
void FormatLocalised(wchar_t* output, size_t capacity, const wchar_t* format, const wchar_t* text);
