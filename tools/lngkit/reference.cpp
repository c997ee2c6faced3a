#include <windows.h>
#include <string.h>

#include "common/file.h"
#include "resources/resource.h"
#include "tools/lngkit/kit.h"

namespace {

const wchar_t Header[] = L"Bundlo Uninstall.exe " TEXT(
    BDL_VERSION_TEXT) L": the English reference language file.\r\n"
                      L"\r\n"
                      L"Copy it, translate the text in quotes of every entry and save the copy as "
                      L"\"uninstall.lng\"\r\n"
                      L"beside Uninstall.exe or in your language folder; docs/translating.md tells "
                      L"how to check it.\r\n"
                      L"Nothing above the line of asterisks is read.\r\n"
                      L"\r\n"
                      L"***messages***\r\n"
                      L"; An entry is a key at the start of a line, a blank and the text in "
                      L"quotes. Lines that\r\n"
                      L"; begin with \";\" are comments. Keep every key as it is: a text under a "
                      L"changed key is not\r\n"
                      L"; found, and the English one shows. In texts, \\n is a line break, \\t a "
                      L"tab, \\\" a quote\r\n"
                      L"; and \\\\ a backslash. In dialogs, \"&\" before a letter makes it the "
                      L"access key (typed\r\n"
                      L"; with Alt), and \"&&\" shows an \"&\".\r\n"
                      L"\r\n"
                      L"; The reading direction: RTL for a language written from right to left.\r\n"
                      L":DIRECTION LTR\r\n";

const wchar_t* KindName(ControlKind kind) {
    switch (kind) {
    case ControlKind::GroupBox:
        return L"Group box title";
    case ControlKind::CheckBox:
        return L"Check box";
    case ControlKind::Button:
        return L"Button";
    case ControlKind::Label:
        return L"Text";
    default:
        return L"Control";
    }
}

// " in the group ..." for a control inside a group box, so that a translator finds it.
std::wstring GroupOf(const TemplateControl& control, const DialogTemplateText& dialog) {
    for (const TemplateControl& group : dialog.Controls) {
        if (group.Kind != ControlKind::GroupBox || &group == &control)
            continue;
        if (control.X >= group.X && control.X < group.X + group.Width && control.Y >= group.Y &&
            control.Y < group.Y + group.Height) {
            std::wstring title;
            for (size_t i = 0; i < group.Text.size(); i++) {
                if (group.Text[i] == L'&' && i + 1 < group.Text.size())
                    i++; // "&x" shows x, "&&" one "&"
                title += group.Text[i];
            }
            return L" in the group \"" + title + L"\"";
        }
    }
    return L"";
}

// A text in quotes, read back by the program's parser exactly as it is.
std::wstring Quoted(const std::wstring& text) {
    std::wstring quoted = L"\"";
    for (wchar_t c : text) {
        switch (c) {
        case L'\\':
            quoted += L"\\\\";
            break;
        case L'"':
            quoted += L"\\\"";
            break;
        case L'\n':
            quoted += L"\\n";
            break;
        case L'\r':
            quoted += L"\\r";
            break;
        case L'\t':
            quoted += L"\\t";
            break;
        default:
            quoted += c;
        }
    }
    return quoted + L"\"";
}

// What of the English text a translation must keep.
std::wstring KeepNote(const std::wstring& english) {
    TextMarks marks = CountMarks(english);
    std::wstring note;
    if (marks.Placeholders > 0)
        note += marks.Placeholders == 1 ? L" Keep \"%s\"." : L" Keep every \"%s\".";
    if (marks.LineBreaks > 0)
        note += L" Keep the " + std::to_wstring(marks.LineBreaks) +
                (marks.LineBreaks == 1 ? L" line break \"\\n\"." : L" line breaks \"\\n\".");
    if (marks.AccessKeys > 0)
        note += L" \"&\" marks the access key.";
    return note;
}

void Fail(const wchar_t* what, const char* key) {
    Print(L"lngkit: %s: %s\n", what, Widen(key).c_str());
}

bool AppendEntries(const std::string& section, std::wstring& file) {
    DialogTemplateText dialog;
    if (section != "s" && !ReadDialogTemplate(Widen(section.substr(1)).c_str(), dialog)) {
        Fail(L"no such dialog among the resources", section.c_str());
        return false;
    }
    for (const LanguageKeyRow& row : LanguageKeyTable) {
        if (KeySection(row.Key) != section)
            continue;
        std::wstring english;
        if (!EnglishText(row, english)) {
            Fail(L"no English text among the resources", row.Key);
            return false;
        }
        std::wstring where;
        std::string item = KeyItem(row.Key);
        if (section == "s") {
            const StringNote* note = FindStringNote(row.Key);
            if (note == nullptr) {
                Fail(L"no note says where the string shows", row.Key);
                return false;
            }
            where = note->Where;
        } else if (item == "SIZE") {
            where = L"The dialog's width and height in percent of the English layout, for texts "
                    L"that need more room";
        } else if (item == "CAPTION") {
            where = L"Title bar";
        } else {
            for (const TemplateControl& control : dialog.Controls)
                if (control.Id == row.Id)
                    where = KindName(control.Kind) + GroupOf(control, dialog);
            if (english[0] == L'.')
                where += L": an archive type's file extensions, usually kept as they are";
        }
        const StringNote* note = FindStringNote(row.Key);
        if (note && note->Use == TextUse::PlainName)
            where += L". It names a file: no \\ / : * ? \" < > |, no dot or blank at the end";
        if (note && note->Use == TextUse::WebAddress)
            where += L". An http:// or https:// address";
        file += L"; " + where + L"." + KeepNote(english) + L"\r\n";
        file += Widen(item) + L" " + (item == "SIZE" ? english : Quoted(english)) + L"\r\n";
    }
    // A control with a text but no key would stay English in every translation.
    for (const TemplateControl& control : dialog.Controls) {
        bool keyed = control.Text.empty();
        for (const LanguageKeyRow& row : LanguageKeyTable)
            keyed = keyed || (KeySection(row.Key) == section && row.Id == control.Id);
        if (!keyed) {
            Fail(L"a control with a text has no key in the key table", section.c_str());
            return false;
        }
    }
    return true;
}

// Read back by the program's own parser, the file must give every text as the resources do, no
// size correction and no other reading direction: installed beside the program it changes
// nothing.
bool ReadsAsTheResources(const wchar_t* path) {
    LoadLanguageFile(path);
    bool same = Language.Entries.Count == LanguageKeyCount && !Language.RightToLeft;
    if (!same)
        Print(L"lngkit: the reference reads as %u entries, the key table has %u rows\n",
              unsigned(Language.Entries.Count), unsigned(LanguageKeyCount));
    static wchar_t text[LanguageTextCapacity + 1];
    for (const LanguageKeyRow& row : LanguageKeyTable) {
        std::wstring english;
        EnglishText(row, english);
        if (!FindText(row.Key, text, LanguageTextCapacity + 1) || english != text) {
            Fail(L"the reference reads another text than the resources under", row.Key);
            same = false;
        }
    }
    for (const DialogNote& dialog : DialogNotes) {
        int width, height;
        if (GetDialogScale(Widen(dialog.Name).c_str(), &width, &height)) {
            Fail(L"the reference changes the size of", dialog.Name);
            same = false;
        }
    }
    Language.Clear();
    return same;
}

} // namespace

int WriteReference(const wchar_t* path) {
    std::wstring file = Header;
    file += L"\r\n:STRINGS\r\n";
    if (!AppendEntries("s", file))
        return 1;
    for (const DialogNote& dialog : DialogNotes) {
        file += L"\r\n; " + std::wstring(dialog.Where) + L".\r\n";
        file += SectionDirective(std::string("$") + dialog.Name) + L"\r\n";
        if (!AppendEntries(std::string("$") + dialog.Name, file))
            return 1;
    }
    // ASCII reads the same in every ANSI code page.
    std::string bytes;
    for (wchar_t c : file) {
        if (c >= 0x80) {
            Print(L"lngkit: the English texts must be ASCII, not U+%04X\n", unsigned(c));
            return 1;
        }
        bytes += char(c);
    }
    File output;
    if (!output.Create(path, 0) || !output.Write(bytes.data(), uint32_t(bytes.size())) ||
        !output.Close()) {
        Print(L"lngkit: cannot write %s\n", path);
        return 1;
    }
    return ReadsAsTheResources(path) ? 0 : 1;
}
