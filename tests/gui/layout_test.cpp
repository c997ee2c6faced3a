// The dialogs' common prologue on real windows: texts, caption and size correction from a
// language file, right-to-left layout, and help. Needs a display: the end-to-end scenario
// test_dialog_layout.py runs this program under a virtual one.
#include <gtest/gtest.h>

#include <windows.h>
#include <htmlhelp.h>

#include <string>
#include <vector>

#include "lang/help.h"
#include "lang/langfile.h"
#include "lang/localise.h"
#include "resources/resource.h"

namespace {

const wchar_t* OpenDialogName;
const wchar_t* OpenHelpTopic;

INT_PTR CALLBACK PrologueOnly(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (DialogPrologue(window, message, wParam, lParam, OpenDialogName, OpenHelpTopic))
        return TRUE;
    return message == WM_INITDIALOG;
}

struct Child {
    int Id;
    std::wstring Class;
    RECT Screen;
    POINT Inside; // from the client area's top and its leading edge: the right one when mirrored
};

struct Geometry {
    RECT Window;
    RECT Client;
    std::vector<Child> Children;
};

Geometry Measure(HWND dialog) {
    Geometry g;
    GetWindowRect(dialog, &g.Window);
    GetClientRect(dialog, &g.Client);
    WINDOWINFO info = {};
    info.cbSize = sizeof info;
    GetWindowInfo(dialog, &info);
    bool mirrored = (GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        Child c;
        c.Id = GetDlgCtrlID(child);
        wchar_t name[64];
        GetClassNameW(child, name, 64);
        c.Class = name;
        GetWindowRect(child, &c.Screen);
        c.Inside = {mirrored ? info.rcClient.right - c.Screen.right
                             : c.Screen.left - info.rcClient.left,
                    c.Screen.top - info.rcClient.top};
        g.Children.push_back(c);
    }
    return g;
}

std::wstring WindowText(HWND window) {
    wchar_t text[1024];
    GetWindowTextW(window, text, 1024);
    return text;
}

class DialogLayout : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // As at the program's start, for a language module's rich-edit explanation.
        LoadLibraryW(L"riched20.dll");
    }
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        LanguagePath = std::wstring(temp) + L"bdl_layout_test.lng";
        LoadLanguageModule(GetModuleHandleW(nullptr));
        Language.Clear();
    }
    void TearDown() override {
        for (HWND window : Opened)
            DestroyWindow(window);
        Language.Clear();
        DeleteFileW(LanguagePath.c_str());
        HtmlHelpOverride = nullptr;
    }
    void UseLanguage(const std::string& body) {
        std::string content = "***messages***\r\n" + body;
        HANDLE file =
            CreateFileW(LanguagePath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        DWORD written;
        WriteFile(file, content.data(), DWORD(content.size()), &written, nullptr);
        CloseHandle(file);
        LoadLanguageFile(LanguagePath.c_str());
    }
    HWND Open(const wchar_t* name, const wchar_t* topic = nullptr) {
        OpenDialogName = name;
        OpenHelpTopic = topic;
        HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), name, nullptr, PrologueOnly, 0);
        if (dialog)
            Opened.push_back(dialog);
        return dialog;
    }
    HWND OpenIndirect(const DLGTEMPLATE* dialogTemplate, const wchar_t* name) {
        OpenDialogName = name;
        OpenHelpTopic = nullptr;
        HWND dialog = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), dialogTemplate, nullptr,
                                                 PrologueOnly, 0);
        if (dialog)
            Opened.push_back(dialog);
        return dialog;
    }
    // The geometry of a dialog opened without a language file.
    Geometry Baseline(const wchar_t* name) {
        Language.Clear();
        HWND dialog = Open(name);
        EXPECT_NE(nullptr, dialog) << "the template cannot be opened";
        if (!dialog)
            return Geometry();
        Geometry g = Measure(dialog);
        DestroyWindow(dialog);
        Opened.pop_back();
        return g;
    }
    std::wstring LanguagePath;
    std::vector<HWND> Opened;
};

int Width(const RECT& r) {
    return r.right - r.left;
}
int Height(const RECT& r) {
    return r.bottom - r.top;
}

// Right to left the same correction gives the mirror image of the left-to-right dialog.
TEST_F(DialogLayout, Size120x100WidensTheDialogAndEveryControlAroundItsCentreInEitherDirection) {
    std::vector<POINT> leftToRight;
    for (const char* direction : {"LTR", "RTL"}) {
        SCOPED_TRACE(direction);
        std::string directive = std::string(":DIRECTION ") + direction + "\r\n";
        UseLanguage(directive);
        Geometry before = Measure(Open(L"SETUPDLG"));
        ASSERT_GT(before.Children.size(), 30u);
        UseLanguage(directive + ":DIALOG SETUPDLG\r\nSIZE 120*100\r\nCAPTION \"[xx] Setup\"\r\n"
                                "IDC_ASSOCWITH \"[xx] Types\"\r\n");
        HWND dialog = Open(L"SETUPDLG");
        ASSERT_NE(nullptr, dialog);
        Geometry after = Measure(dialog);
        EXPECT_EQ(L"[xx] Setup", WindowText(dialog));
        EXPECT_EQ(L"[xx] Types", WindowText(GetDlgItem(dialog, IDC_ASSOCWITH)));

        const RECT& w = before.Window;
        int borderWidth = (w.right - w.left + 1) - before.Client.right;
        int borderHeight = (w.bottom - w.top + 1) - before.Client.bottom;
        int width = borderWidth + before.Client.right * 120 / 100;
        EXPECT_EQ(width, Width(after.Window));
        EXPECT_EQ(before.Client.bottom + borderHeight, Height(after.Window));
        // Centred dialogs keep their centre (within rounding), never leaving the screen.
        int left = w.left + ((w.right - w.left + 1) - width) / 2;
        EXPECT_EQ(left < 0 ? 0 : left, after.Window.left);
        EXPECT_EQ(w.top, after.Window.top);

        ASSERT_EQ(before.Children.size(), after.Children.size());
        for (size_t i = 0; i < before.Children.size(); i++) {
            const Child& was = before.Children[i];
            const Child& is = after.Children[i];
            SCOPED_TRACE(was.Id);
            EXPECT_EQ(was.Inside.x * 120 / 100, is.Inside.x);
            EXPECT_EQ(was.Inside.y, is.Inside.y);
            EXPECT_EQ((Width(was.Screen) + 1) * 120 / 100, Width(is.Screen));
            EXPECT_EQ(Height(was.Screen) + 1, Height(is.Screen));
            if (direction[0] == 'L') {
                leftToRight.push_back(is.Inside);
            } else if (i < leftToRight.size()) {
                EXPECT_EQ(leftToRight[i].x, is.Inside.x);
            }
        }
    }
}

TEST_F(DialogLayout, ANeutralOrInvalidSizeKeepsTheGeometryButNotTheTexts) {
    Geometry before = Baseline(L"DONEDLG");
    for (const char* size : {"100*100", "0*120", "120", "-5*120", "abc"}) {
        SCOPED_TRACE(size);
        UseLanguage(std::string(":DIALOG DONEDLG\r\nSIZE ") + size +
                    "\r\nCAPTION Fertig\r\nIDC_THANKS \"[xx] Danke\"\r\n");
        HWND dialog = Open(L"DONEDLG");
        ASSERT_NE(nullptr, dialog);
        Geometry after = Measure(dialog);
        EXPECT_TRUE(EqualRect(&before.Window, &after.Window));
        for (size_t i = 0; i < before.Children.size(); i++)
            EXPECT_TRUE(EqualRect(&before.Children[i].Screen, &after.Children[i].Screen))
                << before.Children[i].Id;
        EXPECT_EQ(L"Fertig", WindowText(dialog));
        EXPECT_EQ(L"[xx] Danke", WindowText(GetDlgItem(dialog, IDC_THANKS)));
        DestroyWindow(dialog);
        Opened.pop_back();
    }
}

// An in-memory dialog with a drop-down combo box (id 301) and a simple one (302), not centred.
class ComboTemplate {
  public:
    ComboTemplate() {
        DLGTEMPLATE dialog = {};
        dialog.style = WS_POPUP | WS_CAPTION | DS_MODALFRAME;
        dialog.cdit = 2;
        dialog.x = 10;
        dialog.y = 10;
        dialog.cx = 200;
        dialog.cy = 120;
        Put(&dialog, sizeof dialog);
        Words.insert(Words.end(), {0, 0, 0}); // no menu, the default class, no title
        Item(CBS_DROPDOWNLIST, 10, 301);
        Item(CBS_SIMPLE, 100, 302);
    }
    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(Words.data()); }

  private:
    void Put(const void* data, size_t size) {
        const WORD* words = static_cast<const WORD*>(data);
        Words.insert(Words.end(), words, words + size / sizeof(WORD));
    }
    void Item(DWORD style, short x, WORD id) {
        if (Words.size() % 2)
            Words.push_back(0); // every item starts on a DWORD boundary
        DLGITEMTEMPLATE item = {};
        item.style = WS_CHILD | WS_VISIBLE | style;
        item.x = x;
        item.y = 10;
        item.cx = 80;
        item.cy = 60;
        item.id = id;
        Put(&item, sizeof item);
        Words.insert(Words.end(), {0xFFFF, 0x0085, 0, 0}); // combo box, no text, no data
    }
    std::vector<WORD> Words;
};

TEST_F(DialogLayout, ADropDownComboGrowsByItsListASimpleOneDoesNot) {
    ComboTemplate t;
    Language.Clear();
    HWND plain = OpenIndirect(t.Get(), L"COMBOTEST");
    ASSERT_NE(nullptr, plain);
    RECT dropped, simple;
    SendMessageW(GetDlgItem(plain, 301), CB_GETDROPPEDCONTROLRECT, 0, LPARAM(&dropped));
    GetWindowRect(GetDlgItem(plain, 302), &simple);

    UseLanguage(":DIALOG COMBOTEST\r\nSIZE 100*150\r\n");
    HWND scaled = OpenIndirect(t.Get(), L"COMBOTEST");
    ASSERT_NE(nullptr, scaled);
    RECT droppedAfter, simpleAfter;
    SendMessageW(GetDlgItem(scaled, 301), CB_GETDROPPEDCONTROLRECT, 0, LPARAM(&droppedAfter));
    GetWindowRect(GetDlgItem(scaled, 302), &simpleAfter);
    EXPECT_EQ((Height(simple) + 1) * 150 / 100, Height(simpleAfter));
    // The closed box is resized to its own height plus the list: the list gets the rest.
    EXPECT_GT(Height(droppedAfter), (Height(dropped) + 1) * 150 / 100);
}

TEST_F(DialogLayout, RightToLeftLaysTheDialogOutMirrored) {
    UseLanguage(":DIRECTION RTL\r\n");
    ASSERT_TRUE(Language.RightToLeft);
    HWND dialog = Open(L"SETUPCONTEXTITEMS");
    ASSERT_NE(nullptr, dialog);
    EXPECT_NE(0, GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_LAYOUTRTL);
    HWND mask = GetDlgItem(dialog, IDC_CONTEXTALWAYSARC);
    ASSERT_NE(nullptr, mask);
    SetWindowLongW(mask, GWL_EXSTYLE, GetWindowLongW(mask, GWL_EXSTYLE) | WS_EX_RTLREADING);
    ClearRtlReading(mask);
    EXPECT_EQ(0, GetWindowLongW(mask, GWL_EXSTYLE) & WS_EX_RTLREADING);

    Language.Clear();
    HWND ltr = Open(L"SETUPCONTEXTITEMS");
    EXPECT_EQ(0, GetWindowLongW(ltr, GWL_EXSTYLE) & WS_EX_LAYOUTRTL);
}

std::vector<std::wstring> HelpFiles;
HWND WINAPI RecordHelp(HWND, const wchar_t* file, UINT, DWORD_PTR) {
    HelpFiles.push_back(file);
    return GetDesktopWindow();
}

TEST_F(DialogLayout, F1AndTheHelpButtonOpenTheDialogsTopic) {
    HtmlHelpOverride = RecordHelp;
    HelpFiles.clear();
    HWND dialog = Open(L"SETUPDLG", L"HELPIntegrationSettings");
    ASSERT_NE(nullptr, dialog);
    HELPINFO info = {};
    info.cbSize = sizeof info;
    EXPECT_TRUE(
        DialogPrologue(dialog, WM_HELP, 0, LPARAM(&info), L"SETUPDLG", L"HELPIntegrationSettings"));
    EXPECT_FALSE(DialogPrologue(dialog, WM_COMMAND, MAKEWPARAM(IDHELP, BN_CLICKED), 0, L"SETUPDLG",
                                L"HELPIntegrationSettings"));
    ASSERT_EQ(2u, HelpFiles.size());
    EXPECT_NE(std::wstring::npos, HelpFiles[0].find(L"::/html/HELPIntegrationSettings.htm"));
    // Without a topic F1 is handled but opens nothing.
    EXPECT_TRUE(DialogPrologue(dialog, WM_HELP, 0, LPARAM(&info), L"DONEDLG", nullptr));
    EXPECT_EQ(2u, HelpFiles.size());
}

} // namespace
