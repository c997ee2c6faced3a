// Operates the program's windows from a second process in the same prefix, so tests can read
// a dialog or message box and press its buttons the way a person would.
//   guidriver wait <caption> <timeout ms>        print the window's controls, one per line:
//                                                 id<TAB>class<TAB>text (UTF-8)
//   guidriver press <caption> <control id>        send the button's command to the window
//   guidriver gone <caption> <timeout ms>         wait until no such window is left
// Exit code 0 on success, 1 when no such window appeared (or it did not go away).
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

namespace {
struct Search {
    const wchar_t* caption;
    HWND found;
};

BOOL CALLBACK MatchCaption(HWND window, LPARAM context) {
    Search* search = reinterpret_cast<Search*>(context);
    wchar_t text[512];
    if (IsWindowVisible(window) && GetWindowTextW(window, text, 512) > 0 &&
        wcscmp(text, search->caption) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindByCaption(const wchar_t* caption, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        Search search = {caption, nullptr};
        EnumWindows(MatchCaption, reinterpret_cast<LPARAM>(&search));
        if (search.found || GetTickCount() - start >= timeoutMs)
            return search.found;
        Sleep(100);
    }
}

void PrintUtf8(const wchar_t* text) {
    char bytes[4096];
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
    if (n > 0)
        fputs(bytes, stdout);
}

BOOL CALLBACK PrintControl(HWND control, LPARAM) {
    wchar_t className[128], text[2048];
    GetClassNameW(control, className, 128);
    GetWindowTextW(control, text, 2048);
    // One line per control: line breaks inside a text are shown as \n.
    for (wchar_t* p = text; *p; ++p)
        if (*p == L'\n' || *p == L'\r')
            *p = (*p == L'\n') ? L'\x2424' : L' ';
    printf("%d\t", GetDlgCtrlID(control));
    PrintUtf8(className);
    printf("\t");
    PrintUtf8(text);
    printf("\n");
    return TRUE;
}
} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: guidriver wait|press|gone <caption> <number>\n");
        return 2;
    }
    const wchar_t* verb = argv[1];
    const wchar_t* caption = argv[2];
    DWORD number = wcstoul(argv[3], nullptr, 10);
    if (wcscmp(verb, L"wait") == 0) {
        HWND window = FindByCaption(caption, number);
        if (!window)
            return 1;
        // Let the window finish its initialisation before its texts are read.
        Sleep(300);
        EnumChildWindows(window, PrintControl, 0);
        fflush(stdout);
        return 0;
    }
    if (wcscmp(verb, L"press") == 0) {
        HWND window = FindByCaption(caption, 2000);
        if (!window)
            return 1;
        HWND button = GetDlgItem(window, number);
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(number, BN_CLICKED),
                     reinterpret_cast<LPARAM>(button));
        return 0;
    }
    if (wcscmp(verb, L"gone") == 0) {
        DWORD start = GetTickCount();
        while (FindByCaption(caption, 0)) {
            if (GetTickCount() - start >= number)
                return 1;
            Sleep(100);
        }
        return 0;
    }
    return 2;
}
