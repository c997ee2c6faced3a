#include "uninstall/dialogs.h"

#include "common/handles.h"
#include "common/paths.h"
#include "common/text.h"
#include "lang/help.h"
#include "lang/localise.h"
#include "resources/resource.h"
#include "uninstall/startup.h"
#include "uninstall/user_shell.h"

namespace {

const wchar_t DialogName[] = L"DONEDLG";

// The heading's bold font, made from the face the dialog shows (a language module's template may
// name another one than ours); it lives as long as the dialog.
OwnedGdiObject HeadingFont;

void SetHeadingFont(HWND dialog) {
    HGDIOBJ dialogFont = reinterpret_cast<HGDIOBJ>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    LOGFONTW face;
    if (dialogFont == nullptr || GetObjectW(dialogFont, sizeof face, &face) == 0)
        return; // the heading keeps the dialog's own font
    face.lfHeight = ScaleForDpi(-12);
    face.lfWidth = 0;
    face.lfWeight = FW_BOLD;
    face.lfCharSet = DEFAULT_CHARSET;
    HeadingFont.reset(CreateFontIndirectW(&face));
    if (HeadingFont)
        SendDlgItemMessageW(dialog, IDC_THANKS, WM_SETFONT,
                            reinterpret_cast<WPARAM>(HeadingFont.get()), FALSE);
}

// The installer unpacked the archiver into the current folder and started the setup there.
bool GetInstallFolder(wchar_t* folder, size_t capacity) {
    DWORD length = GetCurrentDirectoryW(DWORD(capacity), folder);
    if (length == 0 || length >= capacity) {
        folder[0] = 0;
        return false;
    }
    return true;
}

void InitDialog(HWND dialog) {
    SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(DialogIcon));
    SetHeadingFont(dialog);
    wchar_t folder[PathCapacity];
    GetInstallFolder(folder, PathCapacity);
    SetDlgItemTextW(dialog, IDC_INSTINFOFOLDERTEXT, folder);
    if (Silent)
        SendMessageW(dialog, WM_COMMAND, IDOK, 0);
}

void ViewLicense(HWND dialog) {
    wchar_t path[PathCapacity];
    if (!GetInstallFolder(path, PathCapacity) || !JoinPath(path, L"license.txt", path))
        return;
    // A translated licence in the user's language folder comes first, while not elevated.
    FindRunnableInLanguageFolder(path, path);
    OpenForUser(dialog, path);
}

} // namespace

void HomePageAddress(wchar_t* address, size_t capacity) {
    LoadUsableText(IDS_HOMEURL, IsWebAddress, address, capacity);
}

INT_PTR CALLBACK DoneDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (DialogPrologue(dialog, message, wParam, lParam, DialogName, nullptr))
        return TRUE;
    if (message == WM_INITDIALOG) {
        InitDialog(dialog);
        return TRUE;
    }
    if (message == WM_DESTROY)
        HeadingFont.reset();
    if (message != WM_COMMAND)
        return FALSE;
    switch (LOWORD(wParam)) {
    case IDOK:
    case IDCANCEL:
        EndDialog(dialog, 1);
        break;
    case IDC_VIEWHELP:
        ShowHelp(nullptr);
        break;
    case IDC_VIEWLICENSE:
        ViewLicense(dialog);
        break;
    case IDC_HOMEPAGE: {
        wchar_t address[TextRingCapacity];
        HomePageAddress(address, TextRingCapacity);
        OpenForUser(dialog, address);
        break;
    }
    default:
        break;
    }
    return TRUE;
}
