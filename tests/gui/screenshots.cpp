// Renders the setup's dialogs, with their real procedures, into BMP files, so that a translator
// sees the layout, the SIZE correction and right-to-left without running an installer:
//   screenshots <output folder> [<language file>]
// Writes SETUPDLG.bmp, SETUPCONTEXTITEMS.bmp (normal mode), SETUPCONTEXTITEMS-top.bmp (the
// Windows 11 top-level mode) and DONEDLG.bmp. Run by scripts/screenshots.py under a display.
#include <windows.h>
#include <stdio.h>

#include <string>

#include "common/system.h"
#include "lang/langfile.h"
#include "lang/localise.h"
#include "uninstall/dialogs.h"
#include "uninstall/startup.h"
#include "../unit/test_support.h"

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

// Opens the dialog modeless with its real procedure, lets it paint, and copies it from the
// screen (the virtual display shows nothing else).
bool Render(const wchar_t* name, DLGPROC procedure, LPARAM parameter, const std::wstring& file) {
    HWND dialog = CreateDialogParamW(DialogInstance(name), name, nullptr, procedure, parameter);
    if (!dialog)
        return false;
    ShowWindow(dialog, SW_SHOW);
    SetWindowPos(dialog, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    Pump(600);
    RECT r;
    GetWindowRect(dialog, &r);
    HDC screen = GetDC(nullptr);
    bool saved = SaveBitmap(screen, r.right - r.left, r.bottom - r.top, file);
    ReleaseDC(nullptr, screen);
    DestroyWindow(dialog);
    Pump(100);
    return saved;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: screenshots <output folder> [<language file>]\n");
        return 2;
    }
    std::wstring folder = argv[1];
    HINSTANCE instance = GetModuleHandleW(nullptr);
    LoadLanguageModule(instance);
    InitLanguage(argc > 2 ? argv[2] : L"uninstall.lng");
    LoadLibraryW(L"riched20.dll");
    DialogIcon = LoadIconW(instance, L"BDLICON");
    BoldFont = CreateFontW(ScaleForDpi(-12), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, 0, 0, 0, 0, 0,
                           L"MS Shell Dlg");
    bool ok = Render(L"SETUPDLG", SetupDialogProc, 0, folder + L"\\SETUPDLG.bmp") &&
              Render(L"SETUPCONTEXTITEMS", ContextItemsDialogProc, 1,
                     folder + L"\\SETUPCONTEXTITEMS.bmp") &&
              Render(L"DONEDLG", DoneDialogProc, 0, folder + L"\\DONEDLG.bmp");
    VersionQueryOverride = PretendWindows11;
    ResetPlatformCache();
    ok = ok && Render(L"SETUPCONTEXTITEMS", ContextItemsDialogProc, 0,
                      folder + L"\\SETUPCONTEXTITEMS-top.bmp");
    return ok ? 0 : 1;
}
