#include "lang/help.h"

#include <htmlhelp.h>
#include <wchar.h>

#include "common/paths.h"
#include "common/system.h"
#include "common/text.h"
#include "lang/localise.h"

HtmlHelpFunction HtmlHelpOverride = nullptr;

namespace {

const size_t HelpTopicCapacity = 2098;

struct HelpState {
    OwnedModule Library;
    HtmlHelpFunction HtmlHelp = nullptr;
    wchar_t FilePath[PathCapacity] = {};
    bool RetryUsed = false;
    HWND Window = nullptr;
};
HelpState Help;

bool SurvivesAnsi(const wchar_t* path) {
    char narrow[PathCapacity];
    wchar_t back[PathCapacity];
    ToNarrow(path, narrow);
    ToWide(narrow, back);
    return wcscmp(path, back) == 0;
}

} // namespace

bool HelpFileOf(const wchar_t* program, wchar_t* path, size_t capacity) {
    // Without a name the language folder itself would be looked up, and without a folder the
    // current one. A program path that does not fit gives no help file at all: cut, it would name
    // another.
    if (program[0] == 0 || !CopyPath(program, path, capacity) ||
        !ReplaceNamePart(path, L"bundlo.chm", capacity))
        return false;
    FindRunnableInLanguageFolder(path, path, capacity);
    return path[0] != 0;
}

void ShowHelp(const wchar_t* topic) {
    if (!Help.Library)
        Help.Library = LoadSystemLibrary(L"hhctrl.ocx");
    if (!Help.HtmlHelp) {
        if (!Help.Library)
            return;
        Help.HtmlHelp = GetExport<HtmlHelpFunction>(Help.Library.get(), "HtmlHelpW");
        wchar_t program[PathCapacity];
        GetProgramPath(program);
        HelpFileOf(program, Help.FilePath);
        if (!Help.HtmlHelp)
            return;
    }
    if (Help.FilePath[0] == 0)
        return;
    HtmlHelpFunction htmlHelp = HtmlHelpOverride ? HtmlHelpOverride : Help.HtmlHelp;
    HWND window;
    if (topic == nullptr) {
        window = htmlHelp(GetDesktopWindow(), Help.FilePath, HH_DISPLAY_TOC, 0);
    } else {
        wchar_t page[HelpTopicCapacity];
        FormatText(page, L"%s::/html/%s.htm", Help.FilePath, topic);
        window = htmlHelp(GetDesktopWindow(), page, HH_DISPLAY_TOPIC, 0);
    }
    if (window) {
        Help.Window = window;
        return;
    }
    // HTML Help may not open a path that the ANSI code page cannot hold; the short form of the
    // program's path usually can be. Tried once per process.
    if (Help.RetryUsed)
        return;
    Help.RetryUsed = true;
    if (SurvivesAnsi(Help.FilePath))
        return;
    wchar_t program[PathCapacity];
    GetProgramPath(program);
    wchar_t shortPath[PathCapacity];
    DWORD length = GetShortPathNameW(program, shortPath, PathCapacity);
    if (length != 0 && length < PathCapacity && shortPath[0] != 0)
        CopyText(program, shortPath);
    HelpFileOf(program, Help.FilePath);
    ShowHelp(topic);
}

void ReleaseHelp() {
    Help = HelpState();
}
