// The language file "uninstall.lng": translated numbered strings and dialog texts.
#pragma once
#include <stddef.h>

struct LanguageFile {
    // Right-to-left reading order, from the file's DIRECTION directive or the language
    // module's marker.
    bool RightToLeft = false;
};

// The one language file of the process, loaded at start-up and read-only afterwards.
extern LanguageFile Language;

void LoadLanguageFile(const wchar_t* nameOrPath);
// False when the file does not have the string; an empty text from the file counts as found.
bool FindTextById(unsigned id, wchar_t* output, size_t capacity);
