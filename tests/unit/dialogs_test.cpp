// The three dialog templates in the program's own resources. There is no display for unit
// tests, so the templates are read here as the dialog manager reads them.
#include <gtest/gtest.h>

#include <windows.h>
#include <limits.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "common/system.h"
#include "common/text.h"
#include "lang/langfile.h"
#include "lang/localise.h"
#include "resources/resource.h"
#include "test_support.h"
#include "uninstall/dialogs.h"
#include "uninstall/user_shell.h"

namespace {
const WORD ButtonAtom = 0x80, EditAtom = 0x81, StaticAtom = 0x82, ComboBoxAtom = 0x85;

struct DialogItem {
    DWORD style;
    short x, y, cx, cy;
    DWORD id;
    WORD classAtom; // 0 when the class is named
    wchar_t className[64];
    wchar_t text[256];
};

struct DialogTemplate {
    DWORD style;
    short cx, cy;
    wchar_t caption[256];
    WORD pointSize;
    wchar_t font[64];
    int count;
    DialogItem items[64];
};

// Walks one resource with bounds checks: a template cut short fails the parse.
struct Reader {
    const BYTE* data;
    DWORD size, position;
    bool ok;

    const void* Take(DWORD bytes) {
        if (!ok || size - position < bytes) {
            ok = false;
            return nullptr;
        }
        const BYTE* at = data + position;
        position += bytes;
        return at;
    }
    WORD Word() {
        const void* at = Take(2);
        return at ? *static_cast<const WORD*>(at) : 0;
    }
    DWORD Dword() {
        const void* at = Take(4);
        return at ? *static_cast<const DWORD*>(at) : 0;
    }
    void Text(wchar_t* output, size_t capacity) {
        size_t length = 0;
        for (WORD c = Word(); ok && c != 0; c = Word())
            if (length + 1 < capacity)
                output[length++] = wchar_t(c);
        output[length] = 0;
    }
    // A name or an ordinal; the ordinal is 0 for a name or nothing.
    WORD NameOrOrdinal(wchar_t* output, size_t capacity) {
        output[0] = 0;
        WORD first = Word();
        if (first == 0xFFFF)
            return Word();
        if (first != 0) {
            position -= 2;
            Text(output, capacity);
        }
        return 0;
    }
    void AlignToDword() { position = (position + 3) & ~3u; }
};

bool LoadDialog(const wchar_t* name, DialogTemplate* dialog) {
    HRSRC found = FindResourceW(nullptr, name, RT_DIALOG);
    HGLOBAL loaded = found ? LoadResource(nullptr, found) : nullptr;
    if (!loaded)
        return false;
    Reader r = {static_cast<const BYTE*>(LockResource(loaded)), SizeofResource(nullptr, found), 0,
                true};
    if (r.Word() != 1 || r.Word() != 0xFFFF)
        return false; // not an extended template
    r.Dword();        // help id
    r.Dword();        // extended style
    dialog->style = r.Dword();
    dialog->count = r.Word();
    r.Take(4);
    dialog->cx = short(r.Word());
    dialog->cy = short(r.Word());
    wchar_t ignored[64];
    r.NameOrOrdinal(ignored, 64); // menu
    r.NameOrOrdinal(ignored, 64); // class
    r.Text(dialog->caption, 256);
    dialog->pointSize = 0;
    dialog->font[0] = 0;
    if (dialog->style & DS_SETFONT) {
        dialog->pointSize = r.Word();
        r.Take(4); // weight, italic, character set
        r.Text(dialog->font, 64);
    }
    if (dialog->count > 64)
        return false;
    for (int i = 0; i < dialog->count && r.ok; i++) {
        DialogItem& item = dialog->items[i];
        r.AlignToDword();
        r.Take(8); // help id, extended style
        item.style = r.Dword();
        item.x = short(r.Word());
        item.y = short(r.Word());
        item.cx = short(r.Word());
        item.cy = short(r.Word());
        item.id = r.Dword();
        item.classAtom = r.NameOrOrdinal(item.className, 64);
        r.NameOrOrdinal(item.text, 256);
        r.Take(r.Word());
    }
    return r.ok;
}

const DialogItem* FindItem(const DialogTemplate& dialog, DWORD id) {
    for (int i = 0; i < dialog.count; i++)
        if (dialog.items[i].id == id)
            return &dialog.items[i];
    return nullptr;
}

DWORD ButtonType(const DialogItem& item) {
    return item.classAtom == ButtonAtom ? item.style & BS_TYPEMASK : ~0u;
}

bool IsClassicItem(DWORD id) {
    return id >= IDC_CONTEXTEXTRACTTO && id <= IDC_CONTEXTCONVERT;
}
bool IsTopItem(DWORD id) {
    return id >= IDC_CONTEXTTOPEXTRACT && id <= IDC_CONTEXTTOPADD;
}

bool Contains(const DialogItem& outer, const DialogItem& inner) {
    return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.cx <= outer.x + outer.cx &&
           inner.y + inner.cy <= outer.y + outer.cy;
}

// A group box lies around its controls, and the context items dialog shows either its classic
// or its top-level items in the same place; nothing else may cover another control.
bool MayOverlap(const wchar_t* dialog, const DialogItem& a, const DialogItem& b) {
    bool aGroup = ButtonType(a) == BS_GROUPBOX, bGroup = ButtonType(b) == BS_GROUPBOX;
    if (aGroup != bGroup)
        return aGroup ? Contains(a, b) : Contains(b, a);
    return wcscmp(dialog, L"SETUPCONTEXTITEMS") == 0 &&
           ((IsClassicItem(a.id) && IsTopItem(b.id)) || (IsTopItem(a.id) && IsClassicItem(b.id)));
}

bool Overlap(const DialogItem& a, const DialogItem& b) {
    return a.x < b.x + b.cx && b.x < a.x + a.cx && a.y < b.y + b.cy && b.y < a.y + a.cy;
}

// What the dialog procedures do with each control: the code checks and reads boxes, so those
// must be check boxes that toggle by themselves; labels and headings take no focus.
enum Kind { CheckBox, PushButton, Heading, Field };

struct Expected {
    DWORD id;
    Kind kind;
};

void ExpectControls(const DialogTemplate& dialog, const Expected* expected, size_t count) {
    for (size_t i = 0; i < count; i++) {
        const DialogItem* item = FindItem(dialog, expected[i].id);
        ASSERT_NE(nullptr, item) << "control " << expected[i].id << " missing";
        SCOPED_TRACE(testing::Message() << "control " << item->id);
        switch (expected[i].kind) {
        case CheckBox:
            EXPECT_EQ(DWORD(BS_AUTOCHECKBOX), ButtonType(*item));
            EXPECT_TRUE(item->style & WS_TABSTOP);
            break;
        case PushButton:
            EXPECT_TRUE(ButtonType(*item) == BS_PUSHBUTTON ||
                        ButtonType(*item) == BS_DEFPUSHBUTTON);
            EXPECT_TRUE(item->style & WS_TABSTOP);
            break;
        case Heading:
            EXPECT_TRUE(ButtonType(*item) == BS_GROUPBOX || item->classAtom == StaticAtom);
            EXPECT_FALSE(item->style & WS_TABSTOP);
            break;
        case Field:
            EXPECT_EQ(EditAtom, item->classAtom);
            EXPECT_TRUE(item->style & WS_TABSTOP);
            EXPECT_TRUE(item->style & ES_AUTOHSCROLL) << "a long text must fit";
            break;
        }
    }
}

const wchar_t* const DialogNames[] = {L"SETUPDLG", L"SETUPCONTEXTITEMS", L"DONEDLG"};

TEST(DialogTemplates, LoadInTheShellFontWithNoControlOutsideOrOverAnother) {
    for (const wchar_t* name : DialogNames) {
        SCOPED_TRACE(testing::Message() << "dialog " << name);
        DialogTemplate dialog;
        ASSERT_TRUE(LoadDialog(name, &dialog));
        EXPECT_EQ(DWORD(DS_SHELLFONT), dialog.style & DS_SHELLFONT);
        EXPECT_STREQ(L"MS Shell Dlg", dialog.font);
        EXPECT_EQ(8, dialog.pointSize);
        // Centred, so that a size correction of the language file keeps the centre.
        EXPECT_TRUE(dialog.style & DS_CENTER);
        // The close box and Esc must reach the cancel command.
        EXPECT_EQ(DWORD(WS_CAPTION | WS_SYSMENU), dialog.style & (WS_CAPTION | WS_SYSMENU));
        EXPECT_STRNE(L"", dialog.caption);
        for (int i = 0; i < dialog.count; i++) {
            const DialogItem& item = dialog.items[i];
            SCOPED_TRACE(testing::Message() << "control " << item.id);
            EXPECT_TRUE(item.x >= 7 && item.y >= 7 && item.x + item.cx <= dialog.cx - 7 &&
                        item.y + item.cy <= dialog.cy - 7)
                << "outside the margins";
            // A drop-down list would be resized wrongly by the size correction.
            EXPECT_NE(ComboBoxAtom, item.classAtom);
            for (int j = i + 1; j < dialog.count; j++)
                EXPECT_TRUE(MayOverlap(name, item, dialog.items[j]) ||
                            !Overlap(item, dialog.items[j]))
                    << "overlaps " << dialog.items[j].id;
        }
    }
}

TEST(DialogTemplates, IdsAcceleratorsAndDefaultButtonAreUnambiguous) {
    for (const wchar_t* name : DialogNames) {
        SCOPED_TRACE(testing::Message() << "dialog " << name);
        DialogTemplate dialog;
        ASSERT_TRUE(LoadDialog(name, &dialog));
        wchar_t keys[64];
        int keyCount = 0, defaults = 0;
        for (int i = 0; i < dialog.count; i++) {
            const DialogItem& item = dialog.items[i];
            for (int j = i + 1; j < dialog.count; j++)
                EXPECT_NE(item.id, dialog.items[j].id) << "two controls share an id";
            for (const wchar_t* c = wcschr(item.text, L'&'); c && c[1]; c = wcschr(c + 2, L'&')) {
                if (c[1] == L'&')
                    continue;
                wchar_t key = UpperChar(c[1]);
                for (int k = 0; k < keyCount; k++)
                    EXPECT_NE(keys[k], key) << "accelerator &" << char(key) << " twice";
                if (keyCount < 64)
                    keys[keyCount++] = key;
            }
            if (ButtonType(item) == BS_DEFPUSHBUTTON) {
                defaults++;
                EXPECT_EQ(DWORD(IDOK), item.id) << "Enter must confirm";
            }
        }
        EXPECT_EQ(1, defaults);
    }
}

TEST(DialogTemplates, SettingsDialogHasItsControlsInTypeTableOrder) {
    DialogTemplate dialog;
    ASSERT_TRUE(LoadDialog(L"SETUPDLG", &dialog));
    const Expected expected[] = {{IDC_LINKDESKTOP, CheckBox},
                                 {IDC_LINKSTARTMENU, CheckBox},
                                 {IDC_LINKPROGRAMS, CheckBox},
                                 {IDC_SHELLEXT, CheckBox},
                                 {IDC_SHELLCASCADED, CheckBox},
                                 {IDC_SHELLICONS, CheckBox},
                                 {IDC_SHELLLEGACYMENU, CheckBox},
                                 {IDC_ASSOCALL, PushButton},
                                 {IDC_SETCONTEXTMENU, PushButton},
                                 {IDC_ASSOCWITH, Heading},
                                 {IDC_INTEGRATIONINTERFACE, Heading},
                                 {IDC_SHELLINTEGRATION, Heading},
                                 {IDOK, PushButton},
                                 {IDCANCEL, PushButton},
                                 {IDHELP, PushButton}};
    ExpectControls(dialog, expected, sizeof expected / sizeof expected[0]);

    // The archive type table's rows: the ids of .lz, .z and .xz are out of order there, and the
    // boxes must still carry their own type's extensions, in table order for Tab.
    const struct {
        DWORD id;
        const wchar_t* text;
    } types[] = {{IDC_ASSOCBDL, L".bdl"},
                 {IDC_ASSOCZIP, L".zip"},
                 {IDC_ASSOCCAB, L".cab"},
                 {IDC_ASSOCARJ, L".arj"},
                 {IDC_ASSOCLZ, L".lz.tlz"},
                 {IDC_ASSOCLZH, L".lzh.lha"},
                 {IDC_ASSOC7Z, L".7z"},
                 {IDC_ASSOCTAR, L".tar"},
                 {IDC_ASSOCGZ, L".gz.tgz"},
                 {IDC_ASSOCUUE, L".uue.xxe.uu"},
                 {IDC_ASSOCBZ2, L".bz2.tbz2.bz.tbz"},
                 {IDC_ASSOCJAR, L".jar"},
                 {IDC_ASSOCISO, L".iso"},
                 {IDC_ASSOCZ, L".z.taz"},
                 {IDC_ASSOCXZ, L".xz.txz"},
                 {IDC_ASSOCZIPX, L".zipx"},
                 {IDC_ASSOCZST, L".zst.tzst"},
                 {IDC_ASSOC001, L".001"}};
    const DialogItem* previous = nullptr;
    for (const auto& type : types) {
        const DialogItem* item = FindItem(dialog, type.id);
        ASSERT_NE(nullptr, item) << type.id;
        EXPECT_EQ(DWORD(BS_AUTOCHECKBOX), ButtonType(*item)) << type.id;
        EXPECT_STREQ(type.text, item->text);
        EXPECT_TRUE(previous == nullptr || item > previous) << type.id << " out of tab order";
        previous = item;
    }

    // The explanation is the dialog's own text; an "&" of a translation shows as it stands.
    const DialogItem* help = FindItem(dialog, IDC_SETUPHELPTEXT);
    ASSERT_NE(nullptr, help);
    EXPECT_EQ(StaticAtom, help->classAtom);
    EXPECT_TRUE(help->style & SS_NOPREFIX);
}

TEST(DialogTemplates, ContextItemsDialogPutsTopItemsInPlaceOfTheClassicOnes) {
    DialogTemplate dialog;
    ASSERT_TRUE(LoadDialog(L"SETUPCONTEXTITEMS", &dialog));
    Expected expected[40];
    size_t count = 0;
    for (DWORD id = IDC_CONTEXTEXTRACTTO; id <= IDC_CONTEXTSFXOTHER; id++)
        if (id != IDC_CONTEXTNEWMENU)
            expected[count++] = {id, CheckBox};
    for (DWORD id : {IDC_CONTEXTNEWMENU, IDC_CONTEXTMENUITEMS, IDC_CONTEXTDROPMENU,
                     IDC_CONTEXTSFXARCHIVES, IDC_CONTEXTALWAYSARCTITLE})
        expected[count++] = {id, Heading};
    expected[count++] = {IDC_CONTEXTALWAYSARC, Field};
    for (DWORD id : {IDOK, IDCANCEL, IDHELP})
        expected[count++] = {id, PushButton};
    ExpectControls(dialog, expected, count);
    EXPECT_FALSE(FindItem(dialog, IDC_CONTEXTALWAYSARC)->style & ES_READONLY);

    // The top-level items take the classic ones' place, so the dialog keeps its layout in
    // either mode.
    short left = SHRT_MAX, top = SHRT_MAX, right = 0, bottom = 0;
    for (int i = 0; i < dialog.count; i++) {
        const DialogItem& item = dialog.items[i];
        if (IsClassicItem(item.id)) {
            left = item.x < left ? item.x : left;
            top = item.y < top ? item.y : top;
            right = item.x + item.cx > right ? item.x + item.cx : right;
            bottom = item.y + item.cy > bottom ? item.y + item.cy : bottom;
        }
    }
    for (DWORD id = IDC_CONTEXTTOPEXTRACT; id <= IDC_CONTEXTTOPADD; id++) {
        const DialogItem* item = FindItem(dialog, id);
        EXPECT_TRUE(item->x >= left && item->y >= top && item->x + item->cx <= right &&
                    item->y + item->cy <= bottom)
            << id << " lies outside the classic items' area";
    }
}

TEST(DialogTemplates, CompletionDialogShowsTheFolderInAReadOnlyField) {
    DialogTemplate dialog;
    ASSERT_TRUE(LoadDialog(L"DONEDLG", &dialog));
    const Expected expected[] = {{IDOK, PushButton},
                                 {IDC_VIEWHELP, PushButton},
                                 {IDC_VIEWLICENSE, PushButton},
                                 {IDC_HOMEPAGE, PushButton},
                                 {IDC_INSTINFOFOLDER, Heading},
                                 {IDC_INSTINFOOPTIONS, Heading},
                                 {IDC_INSTINFOHELP, Heading},
                                 {IDC_THANKS, Heading},
                                 {IDC_INSTINFOFOLDERTEXT, Field}};
    ExpectControls(dialog, expected, sizeof expected / sizeof expected[0]);
    EXPECT_TRUE(FindItem(dialog, IDC_INSTINFOFOLDERTEXT)->style & ES_READONLY);
    // Enter on the focused control must close the dialog, not open the help.
    EXPECT_EQ(DWORD(IDOK), dialog.items[0].id) << "the first control takes the focus";
}

// The address the home-page button opens while the language file beside the program, written
// in UTF-16, gives `translated` for it.
std::wstring HomePageFor(const std::wstring& translated) {
    std::wstring text = L"***messages***\r\nIDS_HOMEURL " + translated + L"\r\n";
    std::wstring path = ModuleFolder() + L"\\uninstall.lng";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, text.c_str(), DWORD(text.size() * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(file);
    LoadLanguageFile(L"uninstall.lng");
    wchar_t address[TextRingCapacity] = L"untouched";
    HomePageAddress(address, TextRingCapacity);
    Language.Clear();
    DeleteFileW(path.c_str());
    return address;
}

TEST(CompletionDialog, HomePageOpensOnlyAWebAddress) {
    wchar_t builtIn[TextRingCapacity] = L"";
    ASSERT_NE(0, LoadStringW(GetModuleHandleW(nullptr), IDS_HOMEURL, builtIn, TextRingCapacity));
    for (const wchar_t* address : {L"https://www.bundlo.com/de/", L"HTTP://Example.org/?a=1&b=%20"})
        EXPECT_EQ(address, HomePageFor(address));

    const std::wstring refused[] = {
        L"file:C:/Windows/System32/calc.exe", L"file:///C:/users",
        L"C:\\Windows\\System32\\calc.exe", L"\\\\server\\share\\setup.exe", L"calc.exe",
        L"javascript:alert(1)", L"mailto:a@b.example", L"", L"https://", L"http:///C:/Windows",
        L"https:\\\\host", L"http:/host", L"https://a b.example", L"https://a\tb.example",
        L"https://a.example/\x01", L"https://a.example/\u202Etxt.exe", L"https://a.example/\u00A0",
        // Longer than any buffer it is read into: cut, it would be some other address.
        L"https://" + std::wstring(2 * TextRingCapacity, L'a') + L".example"};
    for (const std::wstring& address : refused)
        EXPECT_EQ(builtIn, HomePageFor(address)) << address;
}

// What opens a file type is the user's to set, and the language folder is the user's to choose:
// elevated, the licence beside the program goes to the desktop's shell; not elevated, the
// translated one is opened by the process, as before.
std::vector<std::wstring> OpenedByProcess, OpenedByShell;
HINSTANCE WINAPI RecordOwnOpening(HWND, LPCWSTR, LPCWSTR target, LPCWSTR, LPCWSTR, INT) {
    OpenedByProcess.push_back(target);
    return reinterpret_cast<HINSTANCE>(33);
}
bool RecordShellOpening(const wchar_t* target) {
    OpenedByShell.push_back(target);
    return true;
}

TEST(CompletionDialog, TheLicenceIsOpenedForTheUserNeverByTheElevatedProcess) {
    std::wstring folder = ModuleFolder() + L"\\licence_test", translated = folder + L"\\lang";
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW(translated.c_str(), nullptr);
    for (const std::wstring& path : {folder, translated})
        CloseHandle(CreateFileW((path + L"\\license.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                                CREATE_ALWAYS, 0, nullptr));
    RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Bundlo\\General", L"LanguageFolder", REG_SZ,
                    translated.c_str(), DWORD((translated.size() + 1) * sizeof(wchar_t)));
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(folder.c_str()); // where the installer unpacked the program
    ShellExecuteOverride = RecordOwnOpening;
    DesktopShellOverride = RecordShellOpening;
    for (ElevationQuery elevation : {PretendElevated, PretendUnelevated}) {
        ElevationOverride = elevation;
        DoneDialogProc(nullptr, WM_COMMAND, IDC_VIEWLICENSE, 0);
    }
    ElevationOverride = ElevationOfToken;
    ShellExecuteOverride = nullptr;
    DesktopShellOverride = nullptr;
    SetCurrentDirectoryW(previous);
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Bundlo\\General", L"LanguageFolder");
    for (const std::wstring& path : {translated, folder}) {
        DeleteFileW((path + L"\\license.txt").c_str());
        RemoveDirectoryW(path.c_str());
    }
    EXPECT_EQ(std::vector<std::wstring>{folder + L"\\license.txt"}, OpenedByShell);
    EXPECT_EQ(std::vector<std::wstring>{translated + L"\\license.txt"}, OpenedByProcess);
}
} // namespace
