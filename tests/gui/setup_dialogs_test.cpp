// The setup dialogs on Windows 11, which Wine cannot be: the version query is replaced, the
// dialogs open for real and are clicked like a person would. Needs a display: the end-to-end
// scenario test_setup.py runs this program under a virtual one.
#include <gtest/gtest.h>

#include <windows.h>
#include <richedit.h>

#include <string>
#include <vector>

#include "common/registry.h"
#include "common/system.h"
#include "lang/localise.h"
#include "resources/resource.h"
#include "uninstall/dialogs.h"
#include "uninstall/startup.h"
#include "../unit/test_support.h"

namespace {

BOOL WINAPI Windows10(OSVERSIONINFOW* info) {
    PretendWindows11(info);
    info->dwMajorVersion = 10;
    info->dwBuildNumber = 19045;
    return TRUE;
}

const int TopItemIds[] = {IDC_CONTEXTTOPEXTRACT,     IDC_CONTEXTTOPEXTRACTTO,
                          IDC_CONTEXTTOPEXTRACTHERE, IDC_CONTEXTTOPEXTRACTSEPARATE,
                          IDC_CONTEXTTOPADDARC,      IDC_CONTEXTTOPADD};

// A window that a dialog opens over itself (a message box, the items dialog) runs its own
// message loop; a thread timer inside that loop reads the window and answers it.
struct PopupSeen {
    std::wstring Caption;
    std::wstring Text;      // a message box's text
    bool ClassicItemsShown; // the items dialog's "Extract to" box
    bool TopItemsShown;     // the items dialog's top-level "Extract" box
};
struct PopupWatch {
    HWND Owner = nullptr;
    int Answer = IDOK;
    HWND Last = nullptr;
    std::vector<PopupSeen> Seen;
};
PopupWatch Watch;

BOOL CALLBACK FindOwnedPopup(HWND window, LPARAM found) {
    if (!IsWindowVisible(window) || GetWindow(window, GW_OWNER) != Watch.Owner)
        return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

std::wstring TextOf(HWND window) {
    wchar_t text[1024] = {};
    if (window)
        GetWindowTextW(window, text, 1024);
    return text;
}

void CALLBACK AnswerPopup(HWND, UINT, UINT_PTR, DWORD) {
    HWND popup = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindOwnedPopup, reinterpret_cast<LPARAM>(&popup));
    if (!popup || popup == Watch.Last)
        return;
    Watch.Last = popup;
    const int MessageBoxText = 0xFFFF;
    Watch.Seen.push_back({TextOf(popup), TextOf(GetDlgItem(popup, MessageBoxText)),
                          IsWindowVisible(GetDlgItem(popup, IDC_CONTEXTEXTRACTTO)) != FALSE,
                          IsWindowVisible(GetDlgItem(popup, IDC_CONTEXTTOPEXTRACT)) != FALSE});
    PostMessageW(popup, WM_COMMAND, Watch.Answer, 0);
}

// While alive, every window that `owner` opens is recorded and answered with `answer`.
class Answering {
  public:
    Answering(HWND owner, int answer) {
        Watch = PopupWatch();
        Watch.Owner = owner;
        Watch.Answer = answer;
        Timer = SetTimer(nullptr, 0, 50, AnswerPopup);
    }
    ~Answering() { KillTimer(nullptr, Timer); }
    Answering(const Answering&) = delete;
    Answering& operator=(const Answering&) = delete;

  private:
    UINT_PTR Timer;
};

class SetupDialogs : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // As at the program's start, for a language module's rich-edit explanation.
        LoadLibraryW(L"riched20.dll");
        LoadLanguageModule(GetModuleHandleW(nullptr));
    }
    void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Bundlo"); }
    void TearDown() override {
        for (HWND window : Opened)
            DestroyWindow(window);
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Bundlo");
        VersionQueryOverride = nullptr;
        ResetPlatformCache();
    }
    void UseWindows(VersionQuery query, bool windows11) {
        VersionQueryOverride = query;
        ResetPlatformCache();
        ASSERT_EQ(windows11, IsWindows11OrLater());
    }
    HWND Open(const wchar_t* name, DLGPROC procedure, LPARAM parameter) {
        HWND dialog =
            CreateDialogParamW(GetModuleHandleW(nullptr), name, nullptr, procedure, parameter);
        EXPECT_NE(nullptr, dialog) << "cannot open " << name;
        if (dialog)
            Opened.push_back(dialog);
        return dialog;
    }
    HWND OpenSetup() { return Open(L"SETUPDLG", SetupDialogProc, 0); }
    HWND OpenItems(bool cascaded) {
        return Open(L"SETUPCONTEXTITEMS", ContextItemsDialogProc, cascaded ? 1 : 0);
    }
    static void Click(HWND dialog, int id) { SendDlgItemMessageW(dialog, id, BM_CLICK, 0, 0); }
    static bool Checked(HWND dialog, int id) {
        return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
    }
    static bool Enabled(HWND dialog, int id) {
        return IsWindowEnabled(GetDlgItem(dialog, id)) != 0;
    }
    // The dialogs stay hidden (showing a window without a window manager takes seconds): what
    // counts is whether the dialog hid the control.
    static bool Shown(HWND dialog, int id) {
        return (GetWindowLongW(GetDlgItem(dialog, id), GWL_STYLE) & WS_VISIBLE) != 0;
    }
    // The top-level boxes that are checked, as a string of 0 and 1 in table order.
    static std::string TopChecks(HWND dialog) {
        std::string checks;
        for (int id : TopItemIds)
            checks += Checked(dialog, id) ? '1' : '0';
        return checks;
    }
    std::vector<HWND> Opened;
};

// Without rights on the machine the apply stops at its first write: the dialog still closes, but
// a distribution tool must learn from the exit code that nothing was done.
TEST_F(SetupDialogs, ARefusedApplyEndsTheRunWithCode1) {
    ExitCode = 0;
    HWND dialog = OpenSetup();
    ASSERT_NE(nullptr, dialog);
    CapturedDiagnostics diagnostics;
    {
        RefusedCreations refused(
            [](HKEY root, const wchar_t*) { return root == HKEY_LOCAL_MACHINE; });
        Click(dialog, IDOK);
    }
    EXPECT_EQ(1, ExitCode);
    ExitCode = 0;
    // The refused write, then the stop; the uninstall entry, written after the apply, is refused
    // as well. Each line names the key an administrator would look at.
    const std::vector<std::wstring>& lines = CapturedDiagnostics::Lines();
    ASSERT_LE(2u, lines.size());
    EXPECT_EQ(0u, lines[0].find(L"Bundlo Uninstall: create key: HKEY_LOCAL_MACHINE\\Software\\"
                                L"Microsoft\\Windows\\CurrentVersion\\App Paths\\Bundlo.exe"))
        << lines[0];
    EXPECT_NE(std::wstring::npos, lines[0].find(L": error 5")) << lines[0];
    EXPECT_EQ(L"Bundlo Uninstall: apply stopped: App Paths: error 5", lines[1]);
}

// A screen reader reads a dialog's static texts with it, and the focused button's name again when
// it changes.
TEST_F(SetupDialogs, TheExplanationIsTheDialogsTextAndTheTypeButtonSaysWhatItWillDo) {
    HWND dialog = OpenSetup();
    ASSERT_NE(nullptr, dialog);
    HWND explanation = nullptr;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (TextOf(child).find(LoadText(IDS_INSTHELP1)) != std::wstring::npos)
            explanation = child;
    wchar_t name[32] = {};
    GetClassNameW(explanation, name, 32);
    EXPECT_EQ(0, _wcsicmp(L"Static", name)) << name;

    std::wstring selectAll = TextOf(GetDlgItem(dialog, IDC_ASSOCALL));
    EXPECT_NE(LoadText(IDS_CLEARALLTYPES), selectAll);
    ASSERT_FALSE(Checked(dialog, IDC_ASSOCJAR)); // as on a machine whose .jar is another's
    Click(dialog, IDC_ASSOCALL);
    EXPECT_TRUE(Checked(dialog, IDC_ASSOCJAR));
    EXPECT_EQ(LoadText(IDS_CLEARALLTYPES), TextOf(GetDlgItem(dialog, IDC_ASSOCALL)));
    Click(dialog, IDC_ASSOCZIP);
    EXPECT_EQ(selectAll, TextOf(GetDlgItem(dialog, IDC_ASSOCALL)));
}

// A language module's older template may bring the explanation as a rich edit, which paints its
// own background.
TEST_F(SetupDialogs, ARichEditExplanationTakesTheDialogsColourAsTheColoursChange) {
    HWND dialog = OpenSetup();
    ASSERT_NE(nullptr, dialog);
    DestroyWindow(GetDlgItem(dialog, IDC_SETUPHELPTEXT));
    HWND rich = CreateWindowExW(0, L"RichEdit20W", L"", WS_CHILD | ES_MULTILINE | ES_READONLY, 0, 0,
                                10, 10, dialog, HMENU(IDC_SETUPHELPTEXT), nullptr, nullptr);
    ASSERT_NE(nullptr, rich);
    int element = COLOR_BTNFACE;
    COLORREF was = GetSysColor(element), other = was ^ 0x102030;
    ASSERT_TRUE(SetSysColors(1, &element, &other));
    SendMessageW(dialog, WM_SYSCOLORCHANGE, 0, 0);
    COLORREF shown = COLORREF(SendMessageW(rich, EM_SETBKGNDCOLOR, 0, 0));
    SetSysColors(1, &element, &was);
    EXPECT_EQ(other, shown);
}

// Windows 10 first: the notice is shown once per run, so it must not have been shown yet.
TEST_F(SetupDialogs, TheMenuOptionsFollowTheShellBoxAndWindows11NoticesTheFlatMenuOnce) {
    UseWindows(Windows10, false);
    HWND dialog = OpenSetup();
    ASSERT_NE(nullptr, dialog);
    EXPECT_TRUE(Checked(dialog, IDC_SHELLEXT));
    EXPECT_FALSE(Checked(dialog, IDC_SHELLCASCADED)); // Windows 10 starts without the submenu
    EXPECT_TRUE(Enabled(dialog, IDC_SHELLCASCADED));
    EXPECT_FALSE(Enabled(dialog, IDC_SHELLLEGACYMENU));
    {
        Answering notices(dialog, IDOK);
        Click(dialog, IDC_SHELLCASCADED);
        Click(dialog, IDC_SHELLCASCADED);
        EXPECT_FALSE(Checked(dialog, IDC_SHELLCASCADED));
        EXPECT_EQ(0u, Watch.Seen.size()) << "no notice on Windows 10";
    }

    UseWindows(PretendWindows11, true);
    dialog = OpenSetup();
    ASSERT_NE(nullptr, dialog);
    EXPECT_TRUE(Checked(dialog, IDC_SHELLCASCADED));
    EXPECT_TRUE(Enabled(dialog, IDC_SHELLLEGACYMENU));
    Click(dialog, IDC_SHELLEXT);
    for (int id : {IDC_SHELLCASCADED, IDC_SHELLICONS, IDC_SHELLLEGACYMENU})
        EXPECT_FALSE(Enabled(dialog, id)) << id;
    Click(dialog, IDC_SHELLEXT);
    for (int id : {IDC_SHELLCASCADED, IDC_SHELLICONS, IDC_SHELLLEGACYMENU})
        EXPECT_TRUE(Enabled(dialog, id)) << id;

    Answering notices(dialog, IDOK);
    Click(dialog, IDC_SHELLCASCADED); // off: the notice
    ASSERT_EQ(1u, Watch.Seen.size());
    EXPECT_EQ(LoadText(IDS_UNINSTTITLE), Watch.Seen[0].Caption);
    EXPECT_EQ(LoadText(IDS_SINGLETOPITEM), Watch.Seen[0].Text);
    Click(dialog, IDC_SHELLCASCADED); // on
    Click(dialog, IDC_SHELLCASCADED); // off again
    EXPECT_FALSE(Checked(dialog, IDC_SHELLCASCADED));
    HWND second = OpenSetup(); // and not in another dialog of the same run either
    ASSERT_NE(nullptr, second);
    Watch.Owner = second;
    Click(second, IDC_SHELLCASCADED);
    EXPECT_FALSE(Checked(second, IDC_SHELLCASCADED));
    EXPECT_EQ(1u, Watch.Seen.size());
}

TEST_F(SetupDialogs, TheItemsButtonOffersTopLevelItemsOnlyWithoutTheSubmenu) {
    UseWindows(PretendWindows11, true);
    // The user chose Windows 11's own menu, so the submenu is not forced on.
    SetUserDword(L"Setup", L"NewContextMenu", 1);
    SetUserDword(L"Setup", L"CascadedMenu", 0);
    HWND dialog = OpenSetup();
    ASSERT_NE(nullptr, dialog);
    ASSERT_FALSE(Checked(dialog, IDC_SHELLCASCADED));
    Answering items(dialog, IDCANCEL);
    Click(dialog, IDC_SETCONTEXTMENU);
    Click(dialog, IDC_SHELLCASCADED);
    Click(dialog, IDC_SETCONTEXTMENU);
    ASSERT_EQ(2u, Watch.Seen.size());
    EXPECT_EQ(L"Context Menu Items", Watch.Seen[0].Caption);
    EXPECT_TRUE(Watch.Seen[0].TopItemsShown);
    EXPECT_FALSE(Watch.Seen[0].ClassicItemsShown);
    EXPECT_FALSE(Watch.Seen[1].TopItemsShown);
    EXPECT_TRUE(Watch.Seen[1].ClassicItemsShown);
}

TEST_F(SetupDialogs, TopLevelModeChecksTheFirstStoredItemOfEachGroup) {
    UseWindows(PretendWindows11, true);
    HWND dialog = OpenItems(false);
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ("100110", TopChecks(dialog)); // Extr, ExtrSep, AddArc
    for (int id : TopItemIds)
        EXPECT_TRUE(Shown(dialog, id)) << id;
    for (int id = IDC_CONTEXTEXTRACTTO; id <= IDC_CONTEXTCONVERT; id++)
        EXPECT_FALSE(Shown(dialog, id)) << id;
    for (int id : {IDC_CONTEXTNEWBDL, IDC_CONTEXTSFXOTHER, IDC_CONTEXTDRAGEXTRACT})
        EXPECT_TRUE(Shown(dialog, id)) << id;
    // The hidden items still carry their stored state, which OK keeps.
    EXPECT_TRUE(Checked(dialog, IDC_CONTEXTEXTRACTTO));
    EXPECT_FALSE(Checked(dialog, IDC_CONTEXTTEST));

    for (const wchar_t* name : {L"ExtrTo", L"ExtrHere", L"AddTo"})
        SetUserDword(L"Setup\\TopMenuItems", name, 1);
    SetUserDword(L"Setup\\TopMenuItems", L"Extr", 0);
    SetUserDword(L"Setup\\TopMenuItems", L"ExtrSep", 0);
    dialog = OpenItems(false);
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ("010010", TopChecks(dialog));
}

TEST_F(SetupDialogs, OkStoresTheTopLevelItemsOnlyWhenTheyWereShown) {
    UseWindows(PretendWindows11, true);
    HWND dialog = OpenItems(true); // cascaded: the classic items
    ASSERT_NE(nullptr, dialog);
    EXPECT_FALSE(Shown(dialog, IDC_CONTEXTTOPEXTRACT));
    Click(dialog, IDC_CONTEXTTEST);
    Click(dialog, IDOK);
    EXPECT_EQ(1u, GetUserDword(L"Setup\\MenuItems", L"Test", 7));
    EXPECT_EQ(1u, GetUserDword(L"Setup\\MenuItems", L"DragExtr", 7));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Setup\\TopMenuItems"));

    dialog = OpenItems(false);
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ(LoadText(IDS_TOPITEMSTITLE), TextOf(GetDlgItem(dialog, IDC_CONTEXTMENUITEMS)));
    Click(dialog, IDC_CONTEXTTOPADD); // and not AddArc, the other of its group, beside it
    Click(dialog, IDC_CONTEXTNEWZIP);
    Click(dialog, IDOK);
    const wchar_t* names[] = {L"Extr", L"ExtrTo", L"ExtrHere", L"ExtrSep", L"AddArc", L"AddTo"};
    std::string stored;
    for (const wchar_t* name : names)
        stored += char('0' + GetUserDword(L"Setup\\TopMenuItems", name, 7));
    EXPECT_EQ("100101", stored);
    EXPECT_EQ(0u, GetUserDword(L"Setup\\MenuItems", L"NewZIP", 7));
    EXPECT_EQ(1u, GetUserDword(L"Setup\\MenuItems", L"Test", 7)); // hidden, kept

    // Windows 10 has no top level to fill, whatever the submenu setting.
    UseWindows(Windows10, false);
    dialog = OpenItems(false);
    ASSERT_NE(nullptr, dialog);
    EXPECT_FALSE(Shown(dialog, IDC_CONTEXTTOPEXTRACT));
    EXPECT_TRUE(Shown(dialog, IDC_CONTEXTTEST));
}

// A language module's template may name another face than ours: the heading keeps it, in bold.
TEST_F(SetupDialogs, TheCompletionHeadingIsTheDialogsOwnFaceInBold) {
    HWND dialog = Open(L"DONEDLG", DoneDialogProc, 0);
    ASSERT_NE(nullptr, dialog);
    LOGFONTW own, heading;
    HGDIOBJ font = reinterpret_cast<HGDIOBJ>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    ASSERT_NE(0, GetObjectW(font, sizeof own, &own));
    font = reinterpret_cast<HGDIOBJ>(SendDlgItemMessageW(dialog, IDC_THANKS, WM_GETFONT, 0, 0));
    ASSERT_NE(0, GetObjectW(font, sizeof heading, &heading));
    EXPECT_STREQ(own.lfFaceName, heading.lfFaceName);
    EXPECT_EQ(FW_BOLD, heading.lfWeight);
    EXPECT_EQ(DEFAULT_CHARSET, heading.lfCharSet);
}

} // namespace
