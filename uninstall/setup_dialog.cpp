#include "uninstall/dialogs.h"

#include <richedit.h>

#include "common/log.h"
#include "common/settings.h"
#include "common/paths.h"
#include "common/system.h"
#include "common/text.h"
#include "integration/apply.h"
#include "integration/associations.h"
#include "integration/choices.h"
#include "integration/record.h"
#include "integration/registration.h"
#include "integration/shortcuts.h"
#include "lang/localise.h"
#include "resources/resource.h"
#include "uninstall/startup.h"

namespace {

const wchar_t DialogName[] = L"SETUPDLG";
const wchar_t HelpTopic[] = L"HELPIntegrationSettings";
// Six numbered strings of up to a text ring's capacity each, and the blanks between them.
const size_t ExplanationCapacity = 6 * TextRingCapacity + 16;

// The shortcut and shell boxes, each bound to its flag of the record.
struct OptionBox {
    int Id;
    uint8_t IntegrationSettings::*Flag;
};
const OptionBox OptionBoxes[] = {
    {IDC_LINKDESKTOP, &IntegrationSettings::linkDesktop},
    {IDC_LINKSTARTMENU, &IntegrationSettings::linkStartMenu},
    {IDC_LINKPROGRAMS, &IntegrationSettings::linkProgramGroup},
    {IDC_SHELLEXT, &IntegrationSettings::shellExtension},
    {IDC_SHELLCASCADED, &IntegrationSettings::cascadedMenu},
    {IDC_SHELLICONS, &IntegrationSettings::menuIcons},
    {IDC_SHELLLEGACYMENU, &IntegrationSettings::legacyMenu},
};

// The Windows 11 notice about the single top-level command is worth reading once, not at every
// click on the box.
bool CascadedNoticeShown = false;
// The type button's text while a type is unchecked: the template's or the translation's, as the
// dialog opened with it.
wchar_t SelectAllLabel[TextRingCapacity];

UINT CheckState(uint8_t flag) {
    return flag != 0 ? BST_CHECKED : BST_UNCHECKED;
}

void ShowSettings(HWND dialog, const IntegrationSettings& settings) {
    for (size_t row = 0; row < ArchiveTypeCount; row++)
        CheckDlgButton(dialog, ArchiveTypeTable[row].CheckBoxId,
                       CheckState(settings.associate[row]));
    for (const OptionBox& box : OptionBoxes)
        CheckDlgButton(dialog, box.Id, CheckState(settings.*box.Flag));
    // The menu options mean nothing without the shell extension, and the classic menu exists
    // only beside the Windows 11 one.
    bool shellExtension = settings.shellExtension != 0;
    EnableWindow(GetDlgItem(dialog, IDC_SHELLCASCADED), shellExtension);
    EnableWindow(GetDlgItem(dialog, IDC_SHELLICONS), shellExtension);
    EnableWindow(GetDlgItem(dialog, IDC_SHELLLEGACYMENU), shellExtension && IsWindows11OrLater());
}

void ReadSettings(HWND dialog, IntegrationSettings& settings) {
    settings = IntegrationSettings();
    for (size_t row = 0; row < ArchiveTypeCount; row++)
        settings.associate[row] =
            IsDlgButtonChecked(dialog, ArchiveTypeTable[row].CheckBoxId) ? 1 : 0;
    for (const OptionBox& box : OptionBoxes)
        settings.*box.Flag = IsDlgButtonChecked(dialog, box.Id) ? 1 : 0;
}

bool AnyTypeUnchecked(HWND dialog) {
    for (int id = IDC_ASSOCBDL; id <= IDC_ASSOC001; id++)
        if (GetDlgItem(dialog, id) != nullptr && !IsDlgButtonChecked(dialog, id))
            return true;
    return false;
}

// The button says what a click will do. Its name changes only with the state, so a screen reader
// reads the new name on the focused button and the user hears what the click did.
void LabelTypeButton(HWND dialog) {
    if (SelectAllLabel[0] == 0)
        return;
    const wchar_t* label = AnyTypeUnchecked(dialog) ? SelectAllLabel : LoadText(IDS_CLEARALLTYPES);
    wchar_t shown[TextRingCapacity];
    if (GetDlgItemTextW(dialog, IDC_ASSOCALL, shown, int(TextRingCapacity)) == 0 ||
        wcscmp(shown, label) != 0)
        SetDlgItemTextW(dialog, IDC_ASSOCALL, label);
}

// A language module's template may still bring the explanation as a rich edit, which paints its
// own background: it takes the dialog's colour, again whenever the colours or the theme change.
// A static text follows them by itself.
void MatchExplanationBackground(HWND dialog) {
    HWND explanation = GetDlgItem(dialog, IDC_SETUPHELPTEXT);
    wchar_t name[16];
    if (explanation && GetClassNameW(explanation, name, 16) &&
        CompareNoCasePrefix(name, L"RichEdit", 8) == 0)
        SendMessageW(explanation, EM_SETBKGNDCOLOR, 0, GetSysColor(COLOR_BTNFACE));
}

void SetExplanation(HWND dialog) {
    wchar_t text[ExplanationCapacity];
    CopyText(text, L"   ");
    for (unsigned id = IDS_INSTHELP1; id <= IDS_INSTHELP5; id++) {
        AppendText(text, L" ");
        AppendText(text, LoadText(id));
    }
    AppendText(text, L"\r\n    ");
    AppendText(text, LoadText(IDS_INSTHELP6));
    SetDlgItemTextW(dialog, IDC_SETUPHELPTEXT, text);
}

void InitDialog(HWND dialog) {
    SetExplanation(dialog);
    IntegrationSettings settings = IntegrationSettings();
    LoadIntegrationSettings(settings);
    ApplyInitText(InitSettingsText, settings);
    ShowSettings(dialog, settings);
    // A text too long to keep whole stays as it is, and the button with it.
    HWND typeButton = GetDlgItem(dialog, IDC_ASSOCALL);
    SelectAllLabel[0] = 0;
    if (GetWindowTextLengthW(typeButton) < int(TextRingCapacity) &&
        GetWindowTextW(typeButton, SelectAllLabel, int(TextRingCapacity)) == 0)
        SelectAllLabel[0] = 0;
    LabelTypeButton(dialog);
    // An unattended run must not take the foreground from whatever the user is doing.
    if (!Silent)
        SetForegroundWindow(dialog);
    SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(DialogIcon));
    MatchExplanationBackground(dialog);
    if (Silent)
        SendMessageW(dialog, WM_COMMAND, IDOK, 0);
}

void Confirm(HWND dialog) {
    IntegrationSettings settings;
    ReadSettings(dialog, settings);
    SaveIntegrationSettings(settings);
    // A refused machine-wide write has left everything as it was; the setup still ends normally,
    // but not as a success.
    if (!ApplyIntegration(settings, ProgramGroupPath, PathCapacity))
        ExitCode = 1;
    if (!MsiMode) {
        RegisterUninstallEntry();
        LogLine(L"Setup step: the uninstall entry");
    }
    EndDialog(dialog, 1);
}

// The installer has already unpacked the program: without its entry in the list of installed
// programs nothing would ever remove it. Nothing else is integrated, and the run ends as not done.
void Cancel(HWND dialog) {
    // Never over the entry of an installation in another folder, which this copy has not
    // replaced: cancelled, it has taken nothing over.
    if (!MsiMode) {
        InstallationRecord installation = FindInstallationRecord();
        if (installation == RecordOfThisCopy || installation == NoInstallationRecord) {
            RegisterUninstallEntry();
            LogLine(L"Setup cancelled: the uninstall entry only");
        }
    }
    ExitCode = 1;
    EndDialog(dialog, 0);
}

void ToggleAllTypes(HWND dialog) {
    UINT state = AnyTypeUnchecked(dialog) ? BST_CHECKED : BST_UNCHECKED;
    for (int id = IDC_ASSOCBDL; id <= IDC_ASSOC001; id++)
        CheckDlgButton(dialog, id, state);
    LabelTypeButton(dialog);
}

void CascadedMenuClicked(HWND dialog) {
    if (CascadedNoticeShown || !IsWindows11OrLater() ||
        IsDlgButtonChecked(dialog, IDC_SHELLCASCADED))
        return;
    // Set first: the notice's message loop must not let a second click show it again.
    CascadedNoticeShown = true;
    ShowMessageBox(dialog, LoadText(IDS_SINGLETOPITEM), LoadText(IDS_UNINSTTITLE),
                   MB_OK | MB_ICONINFORMATION);
}

} // namespace

INT_PTR CALLBACK SetupDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (DialogPrologue(dialog, message, wParam, lParam, DialogName, HelpTopic))
        return TRUE;
    if (message == WM_INITDIALOG) {
        InitDialog(dialog);
        return TRUE;
    }
    if (message == WM_SYSCOLORCHANGE || message == WM_THEMECHANGED) {
        MatchExplanationBackground(dialog);
        return FALSE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    switch (LOWORD(wParam)) {
    case IDOK:
        Confirm(dialog);
        break;
    case IDCANCEL:
        Cancel(dialog);
        break;
    case IDC_SHELLEXT: {
        IntegrationSettings settings;
        ReadSettings(dialog, settings);
        ShowSettings(dialog, settings);
        break;
    }
    case IDC_SHELLCASCADED:
        CascadedMenuClicked(dialog);
        break;
    case IDC_ASSOCALL:
        ToggleAllTypes(dialog);
        break;
    case IDC_SETCONTEXTMENU:
        RunContextItemsDialog(dialog, IsDlgButtonChecked(dialog, IDC_SHELLCASCADED) != 0);
        break;
    default:
        if (LOWORD(wParam) >= IDC_ASSOCBDL && LOWORD(wParam) <= IDC_ASSOC001)
            LabelTypeButton(dialog);
        break;
    }
    return TRUE;
}
