// The setup's dialogs with their real procedures, under a display: rendered into BMP files, so
// that a translator sees the layout, the SIZE correction and right-to-left without running an
// installer, or measured, every text against its control, for the checker. The measurements, one
// line each:
//   dpi <dots per inch>
//   control <dialog> <item> <width needed> <width> <height needed> <height>   (pixels, as shown)
//   need <dialog> <h10> <h11> ... <h500>
// where h<w> is the smallest SIZE height percent at which every text of the dialog fits when the
// width percent is w, or -1 when no height helps.
#include <windows.h>
#include <commctrl.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "common/files.h"
#include "common/registry.h"
#include "common/system.h"
#include "lang/langfile.h"
#include "lang/localise.h"
#include "tests/unit/test_support.h"
#include "tools/lngkit/kit.h"
#include "uninstall/dialogs.h"
#include "uninstall/startup.h"

namespace {

void Pump(DWORD milliseconds) {
    DWORD start = GetTickCount();
    MSG message;
    while (GetTickCount() - start < milliseconds) {
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(20);
    }
}

bool SaveBitmap(HDC source, int width, int height, const std::wstring& file) {
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(source, reinterpret_cast<BITMAPINFO*>(&header),
                                      DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap)
        return false;
    HDC memory = CreateCompatibleDC(source);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
    DWORD stride = (DWORD(width) * 3 + 3) & ~3u;
    BITMAPFILEHEADER fileHeader = {};
    fileHeader.bfType = 0x4D42;
    fileHeader.bfOffBits = sizeof fileHeader + sizeof header;
    fileHeader.bfSize = fileHeader.bfOffBits + stride * DWORD(height);
    FILE* out = _wfopen(file.c_str(), L"wb");
    bool written = out && fwrite(&fileHeader, sizeof fileHeader, 1, out) == 1 &&
                   fwrite(&header, sizeof header, 1, out) == 1 &&
                   fwrite(bits, stride * DWORD(height), 1, out) == 1;
    if (out)
        fclose(out);
    DeleteObject(bitmap);
    return written;
}

const int SmallestPercent = 10;
const int LargestPercent = 500;

// A width and a height in pixels.
struct Extent {
    int Width, Height;
};
// Measuring only: the dialogs stay hidden and nothing is painted.
bool MeasureOnly;

// The control's size before any SIZE correction: its template's, in this dialog's units, as the
// dialog manager converts them.
Extent UnscaledExtent(HWND dialog, const DialogTemplateText& text, int id) {
    for (const TemplateControl& control : text.Controls) {
        if (control.Id == unsigned(id)) {
            RECT r = {0, 0, control.Width, control.Height};
            MapDialogRect(dialog, &r);
            return {r.right, r.bottom};
        }
    }
    return {0, 0};
}

// A size as LocaliseDialog makes it at a SIZE percent. Without a correction the size stays as it
// is, with one it grows by a pixel first; at 100 the smaller is taken, so a fit found there holds
// whatever the other percent is.
int Scaled(int size, int percent) {
    return percent == 100 ? size : (size + 1) * percent / 100;
}

int SmallestPercentFor(int size, int needed) {
    for (int percent = SmallestPercent; percent <= LargestPercent; percent++)
        if (Scaled(size, percent) >= needed)
            return percent;
    return LargestPercent + 1;
}

enum class Kind { Button, GroupBox, Label, Other };

Kind KindOf(HWND control) {
    wchar_t name[32];
    GetClassNameW(control, name, 32);
    LONG style = GetWindowLongW(control, GWL_STYLE);
    if (_wcsicmp(name, L"Button") == 0)
        return (style & BS_TYPEMASK) == BS_GROUPBOX ? Kind::GroupBox : Kind::Button;
    if (_wcsicmp(name, L"Static") == 0 && (style & SS_TYPEMASK) <= SS_RIGHT)
        return Kind::Label;
    return Kind::Other;
}

// What a control's text needs, in pixels, when the control is `width` wide: buttons and check
// boxes say so themselves; a group box's title sits inside its frame; a label wraps at its width,
// and a word longer than the width needs more.
Extent Needed(HWND control, Kind kind, int width) {
    if (kind == Kind::Button) {
        SIZE ideal = {0, 0};
        SendMessageW(control, BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&ideal));
        return {ideal.cx, ideal.cy};
    }
    wchar_t text[1024];
    GetWindowTextW(control, text, 1024);
    HDC dc = GetDC(control);
    HGDIOBJ old =
        SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
    RECT r = {0, 0, width, 0};
    UINT format = DT_CALCRECT | DT_EXPANDTABS;
    if (kind == Kind::Label)
        format |=
            DT_WORDBREAK | ((GetWindowLongW(control, GWL_STYLE) & SS_NOPREFIX) ? DT_NOPREFIX : 0);
    else
        format |= DT_SINGLELINE;
    DrawTextW(dc, text, -1, &r, format);
    int frame = kind == Kind::GroupBox ? 2 * MulDiv(8, GetDeviceCaps(dc, LOGPIXELSX), 96) : 0;
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    return {r.right + frame, r.bottom};
}

struct Measured {
    HWND Control;
    Kind Type;
    Extent Unscaled;
    Extent Needs; // a label's at its present width; the same at every width for the others
};

// Writes what every text of the dialog needs against what its control has, and for every SIZE
// width the height that makes all of them fit.
void Measure(HWND dialog, const wchar_t* name) {
    char prefix[80];
    snprintf(prefix, sizeof prefix, "$%ls:", name);
    DialogTemplateText text;
    ReadDialogTemplate(name, text, DialogInstance(name));
    std::vector<Measured> measured;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        int id = GetDlgCtrlID(child);
        Kind kind = KindOf(child);
        // Hidden controls too: the Windows 11 top-level items show in place of the others.
        if (kind == Kind::Other || id == 0)
            continue;
        const char* item = nullptr;
        for (const LanguageKeyRow& row : LanguageKeyTable)
            if (row.Id == unsigned(id) && strncmp(row.Key, prefix, strlen(prefix)) == 0)
                item = row.Key + strlen(prefix);
        for (const AssembledText& assembled : AssembledTexts)
            if (assembled.Id == unsigned(id) && Widen(assembled.Dialog) == name)
                item = assembled.Item;
        if (item == nullptr)
            continue;
        RECT r;
        GetWindowRect(child, &r);
        Extent has = {r.right - r.left, r.bottom - r.top};
        Extent needs = Needed(child, kind, has.Width);
        printf("control %ls %s %d %d %d %d\n", name, item, needs.Width, has.Width, needs.Height,
               has.Height);
        measured.push_back({child, kind, UnscaledExtent(dialog, text, id), needs});
    }
    printf("need %ls", name);
    for (int widthPercent = SmallestPercent; widthPercent <= LargestPercent; widthPercent++) {
        int heightPercent = SmallestPercent;
        for (const Measured& m : measured) {
            int width = Scaled(m.Unscaled.Width, widthPercent);
            Extent needs = m.Type == Kind::Label ? Needed(m.Control, m.Type, width) : m.Needs;
            heightPercent =
                needs.Width > width
                    ? LargestPercent + 1
                    : std::max(heightPercent, SmallestPercentFor(m.Unscaled.Height, needs.Height));
        }
        printf(" %d", heightPercent > LargestPercent ? -1 : heightPercent);
    }
    printf("\n");
}

// Opens the dialog modeless with its real procedure and measures its texts, or lets it paint and
// copies it from the screen (the virtual display shows nothing else).
bool Render(const wchar_t* name, DLGPROC procedure, LPARAM parameter, const std::wstring& file) {
    HWND dialog = CreateDialogParamW(DialogInstance(name), name, nullptr, procedure, parameter);
    if (!dialog)
        return false;
    bool saved = true;
    if (MeasureOnly) {
        Measure(dialog, name);
    } else {
        ShowWindow(dialog, SW_SHOW);
        SetWindowPos(dialog, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
        Pump(600);
        RECT r;
        GetWindowRect(dialog, &r);
        HDC screen = GetDC(nullptr);
        saved = SaveBitmap(screen, r.right - r.left, r.bottom - r.top, file);
        ReleaseDC(nullptr, screen);
    }
    DestroyWindow(dialog);
    if (!MeasureOnly)
        Pump(100);
    return saved;
}

const wchar_t DesktopKey[] = L"\\Control Panel\\Desktop";

// The user's DPI, which every program reads once as it starts: set for the runs at each DPI and
// put back as it was, whatever happens in between.
class DpiSetting {
  public:
    DpiSetting() : Original(GetDword(HKEY_CURRENT_USER, DesktopKey, L"LogPixels", 0)) {}
    ~DpiSetting() {
        if (Original != 0)
            SetDword(HKEY_CURRENT_USER, DesktopKey, L"LogPixels", Original);
        else
            DeleteValue(HKEY_CURRENT_USER, DesktopKey, L"LogPixels");
    }
    DpiSetting(const DpiSetting&) = delete;
    DpiSetting& operator=(const DpiSetting&) = delete;
    bool Set(DWORD dpi) {
        return SetDword(HKEY_CURRENT_USER, DesktopKey, L"LogPixels", dpi) == ERROR_SUCCESS;
    }

  private:
    DWORD Original;
};

// A run of this program whose standard output comes through a pipe.
struct SelfRun {
    HANDLE Process = nullptr;
    HANDLE Output = nullptr;
    std::string Text;
};

bool StartSelf(const std::wstring& arguments, SelfRun* run) {
    wchar_t self[PathCapacity];
    GetModuleFileNameW(nullptr, self, PathCapacity);
    std::wstring command = L"\"" + std::wstring(self) + L"\" " + arguments;
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    HANDLE writer;
    if (!CreatePipe(&run->Output, &writer, &inherited, 0))
        return false;
    SetHandleInformation(run->Output, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writer;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process;
    BOOL started = CreateProcessW(self, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                  &startup, &process);
    CloseHandle(writer);
    if (!started)
        return false;
    CloseHandle(process.hThread);
    run->Process = process.hProcess;
    return true;
}

// Reads until the run has written a whole line, or all it writes with `all`.
bool Read(SelfRun* run, bool all) {
    char buffer[4096];
    DWORD read;
    while (all || run->Text.find('\n') == std::string::npos) {
        if (!ReadFile(run->Output, buffer, sizeof buffer, &read, nullptr) || read == 0)
            return all;
        run->Text.append(buffer, read);
    }
    return true;
}

// True when the run ended successfully.
bool Finish(SelfRun* run) {
    bool read = run->Process && Read(run, true);
    DWORD code = 1;
    if (run->Process) {
        WaitForSingleObject(run->Process, INFINITE);
        GetExitCodeProcess(run->Process, &code);
        CloseHandle(run->Process);
    }
    if (run->Output)
        CloseHandle(run->Output);
    return read && code == 0;
}

} // namespace

const int RenderDpis[RenderDpiCount] = {96, 120, 144, 192};

int RenderDialogs(const wchar_t* folder, const wchar_t* languageFile) {
    MeasureOnly = folder == nullptr;
    // The DPI comes first, and at once: it tells whoever started this run that the DPI setting
    // has been read. The measurements follow in one piece at the end.
    if (MeasureOnly)
        setvbuf(stdout, nullptr, _IOFBF, 1 << 20);
    HDC screen = GetDC(nullptr);
    printf("dpi %d\n", GetDeviceCaps(screen, LOGPIXELSY));
    ReleaseDC(nullptr, screen);
    fflush(stdout);
    std::wstring prefix = folder ? std::wstring(folder) + L"\\" : L"";
    HINSTANCE instance = GetModuleHandleW(nullptr);
    LoadLanguageModule(instance);
    LoadLibraryW(L"riched20.dll");
    InitLanguage(languageFile ? languageFile : L"uninstall.lng");
    DialogIcon = LoadIconW(instance, L"BDLICON");
    // Measuring, the dialogs need not ask which Windows this is: every control is measured,
    // whatever the version shows or hides.
    if (MeasureOnly) {
        VersionQueryOverride = PretendWindows11;
        ResetPlatformCache();
    }
    bool ok = Render(L"SETUPDLG", SetupDialogProc, 0, prefix + L"SETUPDLG.bmp") &&
              Render(L"SETUPCONTEXTITEMS", ContextItemsDialogProc, 1,
                     prefix + L"SETUPCONTEXTITEMS.bmp") &&
              Render(L"DONEDLG", DoneDialogProc, 0, prefix + L"DONEDLG.bmp");
    if (!MeasureOnly) {
        VersionQueryOverride = PretendWindows11;
        ResetPlatformCache();
        ok = ok && Render(L"SETUPCONTEXTITEMS", ContextItemsDialogProc, 0,
                          prefix + L"SETUPCONTEXTITEMS-top.bmp");
    }
    return fflush(stdout) == 0 && ok ? 0 : 1;
}

bool RenderAtEachDpi(const wchar_t* folder, const wchar_t* languageFile,
                     std::vector<std::string>* measurements) {
    DpiSetting dpiSetting;
    SelfRun runs[RenderDpiCount];
    bool ok = true;
    for (size_t i = 0; i < RenderDpiCount && ok; i++) {
        std::wstring target = L"-";
        if (folder) {
            target = std::wstring(folder) + L"\\" + std::to_wstring(RenderDpis[i]);
            MakeDir(target.c_str());
        }
        std::wstring arguments = L"render \"" + target + L"\"";
        if (languageFile)
            arguments += L" \"" + std::wstring(languageFile) + L"\"";
        // Measuring runs side by side once the first has read its DPI; painting runs take the
        // screen one at a time.
        ok = dpiSetting.Set(DWORD(RenderDpis[i])) && StartSelf(arguments, &runs[i]) &&
             (folder ? Finish(&runs[i]) : Read(&runs[i], false));
    }
    for (SelfRun& run : runs) {
        ok = (folder || Finish(&run)) && ok;
        if (measurements)
            measurements->push_back(run.Text);
    }
    return ok;
}
