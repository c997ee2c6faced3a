// Operates the program's windows from a second process in the same prefix, so tests can read
// a dialog or message box and use it the way a person would.
//   guidriver wait <caption> <timeout ms> [<id> <class>]
//                                       print the controls of the window (one that has a control
//                                       of that id and class, when given; captions repeat), one
//                                       per line: id<TAB>class<TAB>text (UTF-8)
//   guidriver press <caption> <control id>
//                                       send the button's command to the window
//   guidriver click <caption> <control id>
//                                       the same, and wait until the window has handled it (not
//                                       for buttons that open a window or close this one)
//   guidriver gone <caption> <timeout ms>
//                                       wait until no such window is left
//   guidriver state <caption>           print id<TAB>checked<TAB>enabled<TAB>visible for every
//                                       control (checked: 0, 1 or 2)
//   guidriver check <caption> <control id> <0|1>
//                                       click the box when its state differs, as a person would;
//                                       fails on a disabled or hidden box and when the state
//                                       does not follow
//   guidriver settext <caption> <control id> <text>
//                                       replace a field's text
//   guidriver key <caption> <virtual key>
//                                       press and release a key in the window (27 is Esc)
//   guidriver count <caption>           print how many such windows are shown
// Several commands can be joined with "+"; each printed list ends with an empty line. Exit code
// 0 on success, 1 when no such window appeared (or it did not go away, or the action failed),
// 2 for a wrong command line.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

namespace {
const DWORD FindTimeoutMs = 2000;
const UINT ReplyTimeoutMs = 5000;

struct Search {
    const wchar_t* caption;
    HWND found;
    int count;
};

BOOL CALLBACK MatchCaption(HWND window, LPARAM context) {
    Search* search = reinterpret_cast<Search*>(context);
    wchar_t text[512];
    if (IsWindowVisible(window) && GetWindowTextW(window, text, 512) > 0 &&
        wcscmp(text, search->caption) == 0) {
        if (!search->found)
            search->found = window;
        search->count++;
    }
    return TRUE;
}

Search FindAll(const wchar_t* caption) {
    Search search = {caption, nullptr, 0};
    EnumWindows(MatchCaption, reinterpret_cast<LPARAM>(&search));
    return search;
}

HWND FindByCaption(const wchar_t* caption, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        HWND found = FindAll(caption).found;
        if (found || GetTickCount() - start >= timeoutMs)
            return found;
        Sleep(100);
    }
}

void PrintUtf8(const wchar_t* text) {
    char bytes[4096];
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
    if (n > 0)
        fputs(bytes, stdout);
}

// The window belongs to another process, which may be busy: never wait for it forever.
bool Ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* result) {
    return SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, ReplyTimeoutMs,
                               result) != 0;
}

BOOL CALLBACK PrintControl(HWND control, LPARAM) {
    wchar_t className[128], text[2048] = L"";
    GetClassNameW(control, className, 128);
    // Asked of the control itself: GetWindowText gives a field of another process only the text
    // it was created with.
    DWORD_PTR length = 0;
    if (!Ask(control, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(text), &length))
        text[0] = 0;
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

bool IsButton(HWND control) {
    wchar_t className[32];
    return GetClassNameW(control, className, 32) > 0 && _wcsicmp(className, L"Button") == 0;
}

int CheckState(HWND control) {
    DWORD_PTR state = 0;
    if (!IsButton(control) || !Ask(control, BM_GETCHECK, 0, 0, &state))
        return 0;
    return int(state);
}

BOOL CALLBACK PrintState(HWND control, LPARAM) {
    printf("%d\t%d\t%d\t%d\n", GetDlgCtrlID(control), CheckState(control),
           IsWindowEnabled(control) ? 1 : 0, IsWindowVisible(control) ? 1 : 0);
    return TRUE;
}

int Check(HWND window, int id, int wanted) {
    HWND box = GetDlgItem(window, id);
    if (!box || !IsButton(box) || !IsWindowEnabled(box) || !IsWindowVisible(box))
        return 1;
    if (CheckState(box) == wanted)
        return 0;
    // Posted: the click may open a modal message box, which would hold a sent message.
    PostMessageW(box, BM_CLICK, 0, 0);
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ReplyTimeoutMs) {
        if (CheckState(box) == wanted)
            return 0;
        Sleep(50);
    }
    return 1;
}

int SetText(HWND window, int id, const wchar_t* text) {
    HWND field = GetDlgItem(window, id);
    DWORD_PTR done = 0;
    if (!field || !Ask(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text), &done))
        return 1;
    return done ? 0 : 1;
}

// Keys go to the control that has the focus, where the dialog's message loop meets them.
int PressKey(HWND window, UINT key) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    HWND target = window;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) && info.hwndFocus &&
        (info.hwndFocus == window || IsChild(window, info.hwndFocus)))
        target = info.hwndFocus;
    UINT scan = MapVirtualKeyW(key, MAPVK_VK_TO_VSC);
    PostMessageW(target, WM_KEYDOWN, key, 1 | (LPARAM(scan) << 16));
    PostMessageW(target, WM_KEYUP, key, 1 | (LPARAM(scan) << 16) | (LPARAM(3) << 30));
    return 0;
}

int Usage() {
    fprintf(stderr, "usage: guidriver <command> <caption> [arguments] [+ <command> ...]\n");
    return 2;
}

HWND FindWithControl(const wchar_t* caption, DWORD timeoutMs, int id, const wchar_t* className) {
    DWORD start = GetTickCount();
    for (;;) {
        HWND window = FindByCaption(caption, 0);
        wchar_t found[128];
        HWND control = window ? GetDlgItem(window, id) : nullptr;
        if (control && GetClassNameW(control, found, 128) > 0 && _wcsicmp(found, className) == 0)
            return window;
        if (GetTickCount() - start >= timeoutMs)
            return nullptr;
        Sleep(100);
    }
}

// One command of the command line; argv[0] is the command.
int Run(int argc, wchar_t** argv) {
    if (argc < 2)
        return Usage();
    const wchar_t* verb = argv[0];
    const wchar_t* caption = argv[1];
    if (wcscmp(verb, L"count") == 0 && argc == 2) {
        printf("%d\n\n", FindAll(caption).count);
        return 0;
    }
    if (wcscmp(verb, L"state") == 0 && argc == 2) {
        HWND window = FindByCaption(caption, FindTimeoutMs);
        if (!window)
            return 1;
        EnumChildWindows(window, PrintState, 0);
        printf("\n");
        return 0;
    }
    if ((wcscmp(verb, L"check") == 0 || wcscmp(verb, L"settext") == 0) && argc == 4) {
        HWND window = FindByCaption(caption, FindTimeoutMs);
        if (!window)
            return 1;
        int id = int(wcstol(argv[2], nullptr, 10));
        if (wcscmp(verb, L"check") == 0)
            return Check(window, id, int(wcstol(argv[3], nullptr, 10)));
        return SetText(window, id, argv[3]);
    }
    if (wcscmp(verb, L"wait") == 0 && (argc == 3 || argc == 5)) {
        DWORD timeoutMs = wcstoul(argv[2], nullptr, 10);
        HWND window = argc == 3 ? FindByCaption(caption, timeoutMs)
                                : FindWithControl(caption, timeoutMs,
                                                  int(wcstol(argv[3], nullptr, 10)), argv[4]);
        if (!window)
            return 1;
        // Let the window finish its initialisation before its texts are read.
        Sleep(300);
        EnumChildWindows(window, PrintControl, 0);
        printf("\n");
        return 0;
    }
    if (argc != 3)
        return Usage();
    DWORD number = wcstoul(argv[2], nullptr, 10);
    if (wcscmp(verb, L"press") == 0 || wcscmp(verb, L"click") == 0) {
        HWND window = FindByCaption(caption, FindTimeoutMs);
        if (!window)
            return 1;
        WPARAM command = MAKEWPARAM(number, BN_CLICKED);
        LPARAM button = reinterpret_cast<LPARAM>(GetDlgItem(window, number));
        if (wcscmp(verb, L"press") == 0) {
            PostMessageW(window, WM_COMMAND, command, button);
            return 0;
        }
        DWORD_PTR result;
        return SendMessageTimeoutW(window, WM_COMMAND, command, button, SMTO_ABORTIFHUNG,
                                   ReplyTimeoutMs, &result)
                   ? 0
                   : 1;
    }
    if (wcscmp(verb, L"key") == 0) {
        HWND window = FindByCaption(caption, FindTimeoutMs);
        if (!window)
            return 1;
        return PressKey(window, UINT(number));
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
    return Usage();
}
} // namespace

// Commands joined by "+" run one after the other in this one process (each Wine process start
// costs seconds); the first that fails ends the run with its code.
int wmain(int argc, wchar_t** argv) {
    int code = 2;
    for (int first = 1; first < argc;) {
        int end = first;
        while (end < argc && wcscmp(argv[end], L"+") != 0)
            end++;
        code = Run(end - first, argv + first);
        fflush(stdout);
        if (code != 0)
            return code;
        first = end + 1;
    }
    return code;
}
