#include "lang/localise.h"

#include <stdint.h>
#include <string.h>
#include <wchar.h>

#include "common/files.h"
#include "common/paths.h"
#include "common/registry.h"
#include "common/system.h"
#include "common/text.h"
#include "lang/help.h"
#include "lang/langfile.h"

HINSTANCE ResourceInstance;
HINSTANCE OwnInstance;

namespace {
wchar_t TextRing[8][TextRingCapacity];
unsigned TextRingPosition;
int DpiX, DpiY;
// The language module, loaded as a data file, when there is one.
OwnedModule LanguageModule;

// The module is released at process exit whatever way the program ends.
struct LanguageModuleRelease {
    ~LanguageModuleRelease() { UnloadLanguageModule(); }
} ReleaseAtExit;

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

// value x percent / 100, truncating toward zero; a translator's absurd percentage must not
// wrap around into a negative size.
int Percent(int value, int percent) {
    int64_t scaled = int64_t(value) * percent / 100;
    if (scaled > 0x3FFFFFFF)
        return 0x3FFFFFFF;
    if (scaled < -0x3FFFFFFF)
        return -0x3FFFFFFF;
    return int(scaled);
}

void ScaleChildren(HWND window, int scaleX, int scaleY) {
    HWND first = GetWindow(window, GW_CHILD);
    HWND child = first;
    for (int count = 0; child != nullptr && count < 512; count++) {
        // In the dialog's client coordinates, which SetWindowPos takes: the system's own mapping
        // knows where the frame and caption end, and that a mirrored dialog counts x from its
        // right edge, so both directions scale alike.
        RECT r;
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
        int x = Percent(r.left, scaleX);
        int y = Percent(r.top, scaleY);
        int width = Percent(r.right - r.left + 1, scaleX);
        int height = Percent(r.bottom - r.top + 1, scaleY);
        wchar_t className[32];
        if (GetClassNameW(child, className, 32) && CompareNoCase(className, L"COMBOBOX") == 0 &&
            (GetWindowLongW(child, GWL_STYLE) & 3) != CBS_SIMPLE) {
            RECT dropped = {};
            SendMessageW(child, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped));
            height = Percent(dropped.bottom - dropped.top + 1, scaleY) + height;
        }
        SetWindowPos(child, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOOWNERZORDER);
        child = GetWindow(child, GW_HWNDNEXT);
        if (child == first)
            break;
    }
}
} // namespace

bool FindInLanguageFolder(const wchar_t* path, wchar_t* output, size_t capacity) {
    // A path cut to fit would name another file: neither looked up nor given back.
    wchar_t original[PathCapacity];
    if (!CopyPath(path, original) || !CopyPath(original, output, capacity)) {
        if (capacity > 0)
            output[0] = 0;
        return false;
    }
    size_t length = wcslen(original);
    if (length >= PathCapacity - 1)
        return true;
    wchar_t folder[PathCapacity];
    DWORD size = DWORD((PathCapacity - 1 - length) * sizeof(wchar_t));
    DWORD type = REG_NONE;
    if (ReadUserValueDirect(L"General", L"LanguageFolder", &type, folder, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return true;
    // Only whole text: an odd byte count is some other value's bytes, and a zero inside would
    // name a folder only in part. A text stored without its terminator (as many tools write it)
    // is whole; the buffer has room for the terminator added here.
    size_t characters = size / sizeof(wchar_t);
    if (size % sizeof(wchar_t) != 0)
        return true;
    if (characters > 0 && folder[characters - 1] == 0)
        characters--;
    folder[characters] = 0;
    if (wcslen(folder) != characters)
        return true;
    wchar_t candidate[PathCapacity];
    DWORD expanded = ExpandEnvironmentStringsW(folder, candidate, PathCapacity);
    if (expanded == 0 || expanded > PathCapacity)
        return true;
    // An empty or relative folder would be resolved against the current folder, which whoever
    // starts the program chooses.
    if (!IsFullPath(candidate))
        return true;
    // Cut, the candidate would be some other file.
    if (!JoinPath(candidate, NamePart(original), candidate,
                  capacity < PathCapacity ? capacity : PathCapacity))
        return true;
    if (FileExists(candidate))
        CopyText(output, candidate, capacity);
    return true;
}

bool FindRunnableInLanguageFolder(const wchar_t* path, wchar_t* output, size_t capacity) {
    if (!IsElevated())
        return FindInLanguageFolder(path, output, capacity);
    return CopyPath(path, output, capacity);
}

void LoadLanguageModule(HINSTANCE ownInstance) {
    UnloadLanguageModule();
    OwnInstance = ownInstance;
    ResourceInstance = ownInstance;
    wchar_t path[PathCapacity];
    if (!GetProgramFile(L"bdllng.dll", path))
        return;
    if (!FindRunnableInLanguageFolder(path, path))
        return;
    // By its full path and as a data file: nothing in it runs, and no search is made. (As an
    // image resource, this Wine keeps the file mapped after FreeLibrary, and the removal could
    // not delete it.)
    LanguageModule.reset(LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (LanguageModule)
        ResourceInstance = LanguageModule.get();
}

void UnloadLanguageModule() {
    if (!LanguageModule)
        return;
    ResourceInstance = OwnInstance;
    LanguageModule.reset();
}

bool IsLanguageModuleLoaded() {
    return bool(LanguageModule);
}

HINSTANCE DialogInstance(const wchar_t* dialogName) {
    if (ResourceInstance != OwnInstance && !FindResourceW(ResourceInstance, dialogName, RT_DIALOG))
        return OwnInstance;
    return ResourceInstance;
}

void InitLanguage(const wchar_t* languageFileName) {
    wchar_t path[PathCapacity];
    // A name that cannot be looked up whole gives no language file, not the one loaded before.
    LoadLanguageFile(FindInLanguageFolder(languageFileName, path) ? path : nullptr);
    if (FindResourceW(ResourceInstance, L"RTL", RT_DIALOG))
        Language.RightToLeft = true;
    if (Language.RightToLeft)
        SetProcessDefaultLayout(LAYOUT_RTL);
}

bool DialogPrologue(HWND window, UINT message, WPARAM wParam, LPARAM, const wchar_t* dialogName,
                    const wchar_t* helpTopic) {
    switch (message) {
    case WM_INITDIALOG:
        LocaliseDialog(window, dialogName);
        return false;
    case WM_SETFONT:
        ApplyRtlLayout(window);
        return false;
    case WM_HELP:
        if (helpTopic)
            ShowHelp(helpTopic);
        return true;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDHELP && helpTopic)
            ShowHelp(helpTopic);
        return false;
    default:
        return false;
    }
}

void LocaliseDialog(HWND window, const wchar_t* dialogName) {
    wchar_t widePrefix[80];
    FormatText(widePrefix, L"$%s:", dialogName);
    char prefix[80];
    ToNarrow(widePrefix, prefix);
    size_t prefixLength = strlen(prefix);
    wchar_t text[1024];
    for (size_t row = 0; row < LanguageKeyCount; row++) {
        const LanguageKeyRow& key = LanguageKeyTable[row];
        if (key.Id != 0 && strncmp(key.Key, prefix, prefixLength) == 0 &&
            FindText(key.Key, text, 1024))
            SetDlgItemTextW(window, int(key.Id), text);
    }

    int scaleX = 0, scaleY = 0;
    bool scaled = GetDialogScale(dialogName, &scaleX, &scaleY);
    RECT w, c;
    GetWindowRect(window, &w);
    GetClientRect(window, &c);
    int borderWidth = (w.right - w.left + 1) - c.right;
    int borderHeight = (w.bottom - w.top + 1) - c.bottom;
    if (scaled) {
        int width = borderWidth + Percent(c.right, scaleX);
        int height = Percent(c.bottom, scaleY) + borderHeight;
        int left = w.left + ((w.right - w.left + 1) - width) / 2;
        int top = w.top + ((w.bottom - w.top + 1) - height) / 2;
        UINT flags = SWP_NOZORDER | SWP_NOOWNERZORDER;
        if ((GetWindowLongW(window, GWL_STYLE) & DS_CENTER) == 0)
            flags |= SWP_NOMOVE;
        SetWindowPos(window, nullptr, left < 0 ? 0 : left, top < 0 ? 0 : top, width, height, flags);
    }
    if (FindDialogText(dialogName, L"CAPTION", text, 1024))
        SetWindowTextW(window, text);
    if (scaled)
        ScaleChildren(window, scaleX, scaleY);
}

void ApplyRtlLayout(HWND window) {
    if (Language.RightToLeft)
        SetWindowLongW(window, GWL_EXSTYLE, GetWindowLongW(window, GWL_EXSTYLE) | WS_EX_LAYOUTRTL);
}

void ClearRtlReading(HWND window) {
    if (Language.RightToLeft)
        SetWindowLongW(window, GWL_EXSTYLE,
                       GetWindowLongW(window, GWL_EXSTYLE) & ~LONG(WS_EX_RTLREADING));
}

namespace {
// A numbered string of a module's string table, as LoadStringW gives it (at most capacity - 1
// characters, terminated; 0 when the module has no text for the id), but read only within the
// table's block: the language module is anyone's file, and a damaged length would send
// LoadStringW reading into whatever memory follows the block. A string that runs past its
// block is not used.
size_t ReadModuleString(HINSTANCE module, unsigned id, wchar_t* output, size_t capacity) {
    if (capacity == 0)
        return 0;
    output[0] = 0;
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW((LOWORD(id) >> 4) + 1), RT_STRING);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const WORD* block = loaded ? static_cast<const WORD*>(LockResource(loaded)) : nullptr;
    if (block == nullptr)
        return 0;
    size_t words = SizeofResource(module, found) / sizeof(WORD);
    size_t at = 0;
    // Each string is its length and that many characters; the id's is the (id % 16)-th.
    for (unsigned skipped = 0; skipped < (id & 0x0F); skipped++) {
        if (at >= words)
            return 0;
        at += size_t(block[at]) + 1;
    }
    if (at >= words || block[at] > words - at - 1)
        return 0;
    size_t length = block[at] < capacity - 1 ? block[at] : capacity - 1;
    wmemcpy(output, reinterpret_cast<const wchar_t*>(block + at + 1), length);
    output[length] = 0;
    return length;
}
} // namespace

wchar_t* LoadTextInto(unsigned id, wchar_t* output, size_t capacity) {
    if (capacity == 0)
        return output;
    output[0] = 0;
    if (FindTextById(id, output, capacity))
        return output;
    if (ReadModuleString(ResourceInstance, id, output, capacity) == 0 &&
        ReadModuleString(OwnInstance, id, output, capacity) == 0)
        output[0] = 0;
    return output;
}

namespace {
bool FitsAndUsable(const wchar_t* text, size_t capacity, bool (*usable)(const wchar_t*)) {
    return wcslen(text) + 1 < capacity && usable(text);
}
} // namespace

bool LoadUsableText(unsigned id, bool (*usable)(const wchar_t*), wchar_t* output, size_t capacity) {
    if (capacity == 0)
        return false;
    if (FitsAndUsable(LoadTextInto(id, output, capacity), capacity, usable))
        return true;
    // The language file and the language module are both translations; only the program's own
    // text is the built-in one.
    if (ReadModuleString(OwnInstance, id, output, capacity) > 0 &&
        FitsAndUsable(output, capacity, usable))
        return true;
    output[0] = 0;
    return false;
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
