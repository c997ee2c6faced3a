#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "common/text.h"
#include "resources/resource.h"
#include "tools/lngkit/kit.h"

namespace {

// Where each numbered string shows. A string the program uses as a file name or a web address
// says so, since the program sets aside a translation that is not one.
const StringNote StringNotes[] = {
    {"s:IDS_UNINSTTITLE", TextUse::Shown, L"Title of the setup's message boxes"},
    {"s:IDS_BUNDLOHELP", TextUse::PlainName,
     L"Name of the program group's shortcut to the help file"},
    {"s:IDS_BDLHELP", TextUse::PlainName,
     L"Name of the program group's shortcut to the command line manual"},
    {"s:IDS_WHATSNEW", TextUse::PlainName,
     L"Name of the program group's shortcut to the release notes"},
    {"s:IDS_WHATSNEWNAME", TextUse::PlainName,
     L"File name of the release notes in the program folder; change it only when your "
     L"translation ships its own release notes under that name"},
    {"s:IDS_UNINSTALLBDL", TextUse::Shown, L"Title of the uninstaller's message boxes"},
    {"s:IDS_UNINSTALLCOMPLETED", TextUse::Shown,
     L"First line of the message shown when the uninstall could not delete the program itself"},
    {"s:IDS_UNINSTALLSHOULDDELETE", TextUse::Shown,
     L"Second line of that message; %s is the program's path"},
    {"s:IDS_CONTINUEUNINSTALL", TextUse::Shown,
     L"Question before the uninstall starts, answered Yes or No"},
    {"s:IDS_CANNOTOPENLIST", TextUse::Shown,
     L"Error when the list of installed files is missing; %s is its file name"},
    {"s:IDS_BUNDLOARC", TextUse::Shown, L"Explorer's type name of Bundlo archives"},
    {"s:IDS_BUNDLOZIPARC", TextUse::Shown,
     L"Explorer's type name of ZIP archives opened with Bundlo"},
    {"s:IDS_BDLRECVOL", TextUse::Shown, L"Explorer's type name of recovery volumes"},
    {"s:IDS_HOMEURL", TextUse::WebAddress,
     L"Address the completion dialog's home page button opens, such as a page in your language"},
    {"s:IDS_BUNDLODESC", TextUse::Shown,
     L"Description (tool tip) of every shortcut the setup makes"},
    {"s:IDS_REBOOTREQUIRED", TextUse::Shown,
     L"Notice at the end of an uninstall that could not remove every file at once"},
    {"s:IDS_INSTHELP1", TextUse::Shown,
     L"Explanation below the settings of the integration settings dialog, sentence 1; the "
     L"sentences 1 to 5 are joined with spaces"},
    {"s:IDS_INSTHELP2", TextUse::Shown, L"Explanation of the integration settings, sentence 2"},
    {"s:IDS_INSTHELP3", TextUse::Shown, L"Explanation of the integration settings, sentence 3"},
    {"s:IDS_INSTHELP4", TextUse::Shown, L"Explanation of the integration settings, sentence 4"},
    {"s:IDS_INSTHELP5", TextUse::Shown, L"Explanation of the integration settings, sentence 5"},
    {"s:IDS_INSTHELP6", TextUse::Shown,
     L"Last line of the explanation of the integration settings, on a line of its own"},
    {"s:IDS_WARN32BIT", TextUse::Shown,
     L"Notice after setting up the 32-bit version on 64-bit Windows"},
    {"s:IDS_INSTREBOOTREQUIRED", TextUse::Unused,
     L"Not shown by this version; translating it is optional"},
    {"s:IDS_BETA", TextUse::Unused, L"Not shown by this version; translating it is optional"},
    {"s:IDS_32BIT", TextUse::Shown,
     L"Added in brackets after the version in the list of installed programs"},
    {"s:IDS_64BIT", TextUse::Shown,
     L"Added in brackets after the version in the list of installed programs"},
    {"s:IDS_SINGLETOPITEM", TextUse::Shown,
     L"Notice when the cascaded menu is switched off on Windows 11"},
    {"s:IDS_CLEARALLTYPES", TextUse::Shown,
     L"The settings dialog's button under the archive types when all are checked; it unchecks "
     L"them. With some unchecked the button shows the dialog's IDC_ASSOCALL, which checks all"},
    {"s:IDS_TOPITEMSTITLE", TextUse::Shown,
     L"Title of the context menu items on Windows 11's top level, in place of the dialog's "
     L"IDC_CONTEXTMENUITEMS: of each group of items only one can be chosen"},
    {"s:IDS_SETTINGSDAMAGED", TextUse::Shown,
     L"Error when the settings file cannot be read; %s is its path"},
    {"s:IDS_USAGE", TextUse::Shown,
     L"Command line summary of Uninstall.exe /?; the switches stay as they are"},
    {"s:IDS_ANOTHERRUN", TextUse::Shown,
     L"Message when a setup or removal starts while another one is running"},
};

// A template's fields in order; reading past its end marks the reader failed.
class TemplateReader {
  public:
    TemplateReader(const BYTE* data, size_t size) : Failed(false), Data(data), Size(size), At(0) {}
    WORD Word() {
        WORD value = 0;
        Take(&value, sizeof value);
        return value;
    }
    DWORD Dword() {
        DWORD value = 0;
        Take(&value, sizeof value);
        return value;
    }
    void Skip(size_t count) {
        if (count > Size - At)
            Failed = true;
        else
            At += count;
    }
    void AlignDword() { Skip((4 - At % 4) % 4); }
    // A string, or 0xFFFF and an ordinal; nothing at all is an empty string.
    void NameOrOrdinal(std::wstring* text, WORD* ordinal) {
        text->clear();
        *ordinal = 0;
        WORD first = Word();
        if (first == 0xFFFF) {
            *ordinal = Word();
            return;
        }
        for (WORD c = first; c != 0 && !Failed; c = Word())
            *text += wchar_t(c);
    }
    bool Failed;

  private:
    void Take(void* value, size_t count) {
        if (count > Size - At) {
            Failed = true;
            return;
        }
        memcpy(value, Data + At, count);
        At += count;
    }
    const BYTE* Data;
    size_t Size;
    size_t At;
};

ControlKind KindOf(WORD classOrdinal, DWORD style) {
    if (classOrdinal == 0x0080) { // button
        switch (style & BS_TYPEMASK) {
        case BS_PUSHBUTTON:
        case BS_DEFPUSHBUTTON:
            return ControlKind::Button;
        case BS_GROUPBOX:
            return ControlKind::GroupBox;
        case BS_CHECKBOX:
        case BS_AUTOCHECKBOX:
        case BS_3STATE:
        case BS_AUTO3STATE:
        case BS_RADIOBUTTON:
        case BS_AUTORADIOBUTTON:
            return ControlKind::CheckBox;
        default:
            return ControlKind::Other;
        }
    }
    if (classOrdinal == 0x0082) { // static
        DWORD type = style & SS_TYPEMASK;
        if (type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT || type == SS_SIMPLE ||
            type == SS_LEFTNOWORDWRAP)
            return ControlKind::Label;
    }
    return ControlKind::Other;
}

} // namespace

const DialogNote DialogNotes[DialogCount] = {
    {"SETUPDLG", L"The integration settings dialog, the first window of the setup"},
    {"SETUPCONTEXTITEMS",
     L"The context menu items dialog, opened from the integration settings. On Windows 11 "
     L"without the cascaded menu the IDC_CONTEXTTOP... items take the place of the others"},
    {"DONEDLG", L"The completion dialog at the end of the setup"},
};

const AssembledText AssembledTexts[AssembledTextCount] = {
    {"SETUPDLG", IDC_SETUPHELPTEXT, "explanation", "s:IDS_INSTHELP1", "s:IDS_INSTHELP6"},
};

const StringNote* FindStringNote(const char* key) {
    for (const StringNote& note : StringNotes)
        if (strcmp(note.Key, key) == 0)
            return &note;
    return nullptr;
}

bool ReadDialogTemplate(const wchar_t* name, DialogTemplateText& dialog, HMODULE module) {
    if (module == nullptr)
        module = GetModuleHandleW(nullptr);
    HRSRC resource = FindResourceW(module, name, RT_DIALOG);
    HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
    const BYTE* data = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    if (data == nullptr)
        return false;
    TemplateReader reader(data, SizeofResource(module, resource));
    WORD version = reader.Word();
    WORD signature = reader.Word();
    if (version != 1 || signature != 0xFFFF)
        return false;
    reader.Skip(8); // help id, extended style
    DWORD style = reader.Dword();
    WORD count = reader.Word();
    reader.Skip(8); // position and size
    std::wstring text;
    WORD ordinal;
    reader.NameOrOrdinal(&text, &ordinal); // menu
    reader.NameOrOrdinal(&text, &ordinal); // class
    reader.NameOrOrdinal(&dialog.Caption, &ordinal);
    if (style & DS_SETFONT) {
        reader.Skip(6); // point size, weight, italic, character set
        reader.NameOrOrdinal(&text, &ordinal);
    }
    dialog.Controls.clear();
    for (WORD i = 0; i < count && !reader.Failed; i++) {
        reader.AlignDword();
        reader.Skip(8); // help id, extended style
        DWORD controlStyle = reader.Dword();
        TemplateControl control;
        control.X = short(reader.Word());
        control.Y = short(reader.Word());
        control.Width = short(reader.Word());
        control.Height = short(reader.Word());
        control.Id = reader.Dword();
        WORD classOrdinal;
        reader.NameOrOrdinal(&text, &classOrdinal);
        reader.NameOrOrdinal(&control.Text, &ordinal);
        reader.Skip(reader.Word()); // creation data
        control.Kind = KindOf(classOrdinal, controlStyle);
        dialog.Controls.push_back(control);
    }
    return !reader.Failed;
}

std::string KeySection(const char* key) {
    return std::string(key, strcspn(key, ":"));
}

const char* KeyItem(const char* key) {
    const char* colon = strchr(key, ':');
    return colon ? colon + 1 : key;
}

std::wstring Widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

std::wstring SectionDirective(const std::string& section) {
    if (section == "s")
        return L":STRINGS";
    if (!section.empty() && section[0] == '@')
        return L":MENU " + Widen(section.substr(1));
    return L":DIALOG " + Widen(section.substr(section.empty() ? 0 : 1));
}

const LanguageKeyRow* FindKeyRow(const char* key) {
    for (const LanguageKeyRow& row : LanguageKeyTable)
        if (strcmp(row.Key, key) == 0)
            return &row;
    return nullptr;
}

bool EnglishText(const LanguageKeyRow& row, std::wstring& text) {
    std::string section = KeySection(row.Key);
    if (section == "s") {
        wchar_t buffer[4096];
        int length = LoadStringW(GetModuleHandleW(nullptr), row.Id, buffer, 4096);
        text.assign(buffer, length > 0 ? size_t(length) : 0);
        return length > 0;
    }
    std::string item = KeyItem(row.Key);
    if (item == "SIZE") {
        text = L"100*100";
        return true;
    }
    DialogTemplateText dialog;
    if (!ReadDialogTemplate(Widen(section.substr(1)).c_str(), dialog))
        return false;
    if (item == "CAPTION") {
        text = dialog.Caption;
        return true;
    }
    for (const TemplateControl& control : dialog.Controls) {
        if (control.Id == row.Id) {
            text = control.Text;
            return true;
        }
    }
    return false;
}

TextMarks CountMarks(const std::wstring& text) {
    TextMarks marks = {0, 0, 0, 0};
    for (size_t i = 0; i < text.size(); i++) {
        wchar_t c = text[i], next = i + 1 < text.size() ? text[i + 1] : 0;
        if (c == L'\n') {
            marks.LineBreaks++;
        } else if (c == L'%' && next == L'%') {
            i++;
        } else if (c == L'%' && next == L's') {
            marks.Placeholders++;
            i++;
        } else if (c == L'%' && (IsAsciiLetter(next) || IsDigit(next))) {
            marks.OtherPercents++;
        } else if (c == L'&' && next == L'&') {
            i++;
        } else if (c == L'&' && next != 0) {
            marks.AccessKeys++;
        }
    }
    return marks;
}

wchar_t AccessKey(const std::wstring& text) {
    for (size_t i = 0; i + 1 < text.size(); i++) {
        if (text[i] != L'&')
            continue;
        if (text[i + 1] != L'&')
            // Alt+a and Alt+A reach the same control: the dialog manager compares capitals.
            return wchar_t(reinterpret_cast<UINT_PTR>(
                CharUpperW(reinterpret_cast<wchar_t*>(UINT_PTR(text[i + 1])))));
        i++;
    }
    return 0;
}

void Print(const wchar_t* format, ...) {
    static wchar_t line[32768];
    va_list args;
    va_start(args, format);
    FormatTextV(line, sizeof line / sizeof line[0], format, args);
    va_end(args);
    static char bytes[4 * 32768];
    int count = WideCharToMultiByte(CP_UTF8, 0, line, -1, bytes, sizeof bytes, nullptr, nullptr);
    if (count > 1)
        fwrite(bytes, 1, size_t(count - 1), stdout);
}
