#include "uninstall/dialogs.h"

#include "common/registry.h"
#include "common/settings.h"
#include "common/system.h"
#include "lang/localise.h"
#include "resources/resource.h"

namespace {

const wchar_t DialogName[] = L"SETUPCONTEXTITEMS";
const wchar_t HelpTopic[] = L"HELPContextItems";
const wchar_t MenuItemsKey[] = L"Setup\\MenuItems";
const wchar_t TopMenuItemsKey[] = L"Setup\\TopMenuItems";
const wchar_t MaskValue[] = L"AlwaysArc";
const wchar_t DefaultMasks[] = L"*.iso";
const size_t MaskCapacity = 1024;

struct MenuItem {
    const wchar_t* Name;
    int Id;
    DWORD Default;
    bool Classic; // hidden where Windows 11 shows its own top-level items
};
const MenuItem MenuItems[] = {
    {L"ExtrTo", IDC_CONTEXTEXTRACTTO, 1, true},
    {L"ExtrHere", IDC_CONTEXTEXTRACTHERE, 1, true},
    {L"Extr", IDC_CONTEXTEXTRACT, 1, true},
    {L"ExtrSep", IDC_CONTEXTEXTRACTSEPARATE, 1, true},
    {L"OpenSFX", IDC_CONTEXTOPENSFX, 1, true},
    {L"OpenArc", IDC_CONTEXTOPENARC, 1, true},
    {L"AddTo", IDC_CONTEXTADD, 1, true},
    {L"AddArc", IDC_CONTEXTADDARC, 1, true},
    {L"EmailArc", IDC_CONTEXTEMAILARC, 1, true},
    {L"EmailOpt", IDC_CONTEXTEMAILARCOPT, 1, true},
    {L"Test", IDC_CONTEXTTEST, 0, true},
    {L"Convert", IDC_CONTEXTCONVERT, 0, true},
    {L"NewBDL", IDC_CONTEXTNEWBDL, 1, false},
    {L"NewZIP", IDC_CONTEXTNEWZIP, 1, false},
    {L"SFXLocal", IDC_CONTEXTSFXLOCAL, 1, false},
    {L"SFXNetwork", IDC_CONTEXTSFXNETWORK, 1, false},
    {L"SFXOther", IDC_CONTEXTSFXOTHER, 1, false},
    {L"DragAdd", IDC_CONTEXTDRAGADD, 1, false},
    {L"DragExtr", IDC_CONTEXTDRAGEXTRACT, 1, false},
};

// Items of one group are alternatives on the Windows 11 menu's top level.
struct TopItem {
    const wchar_t* Name;
    int Id;
    DWORD Default;
    int Group;
};
const TopItem TopItems[] = {
    {L"Extr", IDC_CONTEXTTOPEXTRACT, 1, 0},
    {L"ExtrTo", IDC_CONTEXTTOPEXTRACTTO, 0, 0},
    {L"ExtrHere", IDC_CONTEXTTOPEXTRACTHERE, 0, 0},
    {L"ExtrSep", IDC_CONTEXTTOPEXTRACTSEPARATE, 1, 1},
    {L"AddArc", IDC_CONTEXTTOPADDARC, 1, 2},
    {L"AddTo", IDC_CONTEXTTOPADD, 0, 2},
};

// Normal mode: the classic items are shown and the top-level items hidden. Only in top-level
// mode are the top-level items what the user saw, and so only then are they stored.
bool TopItemsHidden = true;

UINT CheckState(DWORD number) {
    return number != 0 ? BST_CHECKED : BST_UNCHECKED;
}

void ShowTopItems(HWND dialog) {
    SetDlgItemTextW(dialog, IDC_CONTEXTMENUITEMS, LoadText(IDS_TOPITEMSTITLE));
    for (const MenuItem& item : MenuItems)
        if (item.Classic)
            ShowWindow(GetDlgItem(dialog, item.Id), SW_HIDE);
    int lastGroup = -1;
    for (const TopItem& item : TopItems) {
        if (item.Group == lastGroup) {
            CheckDlgButton(dialog, item.Id, BST_UNCHECKED);
            continue;
        }
        DWORD number = GetUserDword(TopMenuItemsKey, item.Name, item.Default);
        CheckDlgButton(dialog, item.Id, CheckState(number));
        if (number != 0)
            lastGroup = item.Group;
    }
}

// Windows 11's top level takes one command of each group: ticking one unticks the others of its
// group, which can still be left off altogether.
void KeepOneOfGroup(HWND dialog, int clicked) {
    const TopItem* chosen = nullptr;
    for (const TopItem& item : TopItems)
        if (item.Id == clicked)
            chosen = &item;
    if (TopItemsHidden || chosen == nullptr || !IsDlgButtonChecked(dialog, clicked))
        return;
    for (const TopItem& item : TopItems)
        if (item.Group == chosen->Group && item.Id != clicked)
            CheckDlgButton(dialog, item.Id, BST_UNCHECKED);
}

void InitDialog(HWND dialog, bool cascaded) {
    // A cascaded menu keeps every item in the submenu; only Windows 11's flat menu has a top
    // level to fill.
    TopItemsHidden = cascaded || !IsWindows11OrLater();
    if (TopItemsHidden) {
        for (const TopItem& item : TopItems)
            ShowWindow(GetDlgItem(dialog, item.Id), SW_HIDE);
    } else {
        ShowTopItems(dialog);
    }
    // Hidden items too: OK stores every item as its box says.
    for (const MenuItem& item : MenuItems)
        CheckDlgButton(dialog, item.Id,
                       CheckState(GetUserDword(MenuItemsKey, item.Name, item.Default)));

    wchar_t masks[MaskCapacity];
    GetUserString(MenuItemsKey, MaskValue, masks, DefaultMasks);
    HWND field = GetDlgItem(dialog, IDC_CONTEXTALWAYSARC);
    // What does not fit the stored text cannot be typed, rather than being cut off unseen.
    SendMessageW(field, EM_LIMITTEXT, MaskCapacity - 1, 0);
    SetWindowTextW(field, masks);
    ClearRtlReading(field);
}

void Confirm(HWND dialog) {
    for (const MenuItem& item : MenuItems)
        SetUserDword(MenuItemsKey, item.Name, IsDlgButtonChecked(dialog, item.Id) ? 1 : 0);
    if (!TopItemsHidden)
        for (const TopItem& item : TopItems)
            SetUserDword(TopMenuItemsKey, item.Name, IsDlgButtonChecked(dialog, item.Id) ? 1 : 0);
    wchar_t masks[MaskCapacity];
    if (GetDlgItemTextW(dialog, IDC_CONTEXTALWAYSARC, masks, int(MaskCapacity)) == 0)
        masks[0] = 0;
    SetUserString(MenuItemsKey, MaskValue, masks);
    // The shell extension reads the items at once; a portable installation keeps them in its
    // settings file, which is otherwise written only at the end of the run.
    SaveSettingsFile();
    EndDialog(dialog, 1);
}

} // namespace

INT_PTR CALLBACK ContextItemsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (DialogPrologue(dialog, message, wParam, lParam, DialogName, HelpTopic) ||
        message == WM_HELP)
        return TRUE;
    if (message == WM_INITDIALOG) {
        InitDialog(dialog, lParam != 0);
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    switch (LOWORD(wParam)) {
    case IDOK:
        Confirm(dialog);
        return TRUE;
    case IDCANCEL:
        EndDialog(dialog, 0);
        return TRUE;
    default:
        if (HIWORD(wParam) == BN_CLICKED)
            KeepOneOfGroup(dialog, LOWORD(wParam));
        return FALSE;
    }
}

INT_PTR RunContextItemsDialog(HWND owner, bool cascaded) {
    return DialogBoxParamW(DialogInstance(DialogName), DialogName, owner, ContextItemsDialogProc,
                           cascaded ? 1 : 0);
}
