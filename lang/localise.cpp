#include "lang/localise.h"

#include "common/text.h"
#include "lang/langfile.h"

HINSTANCE ResourceInstance;
HINSTANCE OwnInstance;

namespace {
wchar_t TextRing[8][TextRingCapacity];
unsigned TextRingPosition;
int DpiX, DpiY;

void ReadScreenDpi() {
    if (DpiY != 0)
        return;
    HDC screen = GetDC(nullptr);
    if (!screen)
        return; // stays 0 and is tried again on the next use
    DpiX = GetDeviceCaps(screen, LOGPIXELSX);
    DpiY = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
}
} // namespace

// The language module search comes with the localisation support; until then the program's
// own resources serve every string, dialog and icon.
void LoadLanguageModule(HINSTANCE ownInstance) {
    ResourceInstance = ownInstance;
    OwnInstance = ownInstance;
}

void UnloadLanguageModule() {}

void InitLanguage(const wchar_t* languageFileName) {
    LoadLanguageFile(languageFileName);
}

wchar_t* LoadTextInto(unsigned id, wchar_t* output, size_t capacity) {
    if (capacity == 0)
        return output;
    output[0] = 0;
    if (FindTextById(id, output, capacity))
        return output;
    int cap = capacity > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(capacity);
    if (LoadStringW(ResourceInstance, id, output, cap) == 0 &&
        LoadStringW(OwnInstance, id, output, cap) == 0)
        output[0] = 0;
    return output;
}

const wchar_t* LoadText(unsigned id) {
    TextRingPosition = (TextRingPosition + 1) % 8;
    return LoadTextInto(id, TextRing[TextRingPosition], TextRingCapacity);
}

int ScaleForDpi(int value) {
    ReadScreenDpi();
    return value * DpiY / 96;
}

void FormatLocalised(wchar_t* output, size_t capacity, const wchar_t* format, const wchar_t* text) {
    if (capacity == 0)
        return;
    size_t length = 0;
    auto put = [&](wchar_t c) {
        if (length + 1 < capacity)
            output[length++] = c;
    };
    bool filled = false;
    for (const wchar_t* p = format; *p; ++p) {
        if (p[0] == L'%' && p[1] == L'%') {
            put(L'%');
            ++p;
        } else if (p[0] == L'%' && p[1] == L's' && !filled) {
            for (const wchar_t* t = text; *t; ++t)
                put(*t);
            filled = true;
            ++p;
        } else {
            put(*p);
        }
    }
    output[length] = 0;
}
