// lngkit reference <file>
//     writes the English reference language file from the program's resources and key table
// lngkit check <language file> [<name to report>]
//     reads a translation as the program does, measures the dialogs with it at 96, 120, 144 and 192
//     DPI, and reports what a translator must fix
// lngkit screenshots <folder> [<language file>]
//     paints the dialogs at 96, 120, 144 and 192 DPI into BMP files in <folder>\96 and so on
// lngkit render <folder or -> [<language file>]
//     one run of those two at this process's DPI: "-" measures instead of painting
// The last three need a display. Exit code: 0 done (with warnings at most), 1 errors found or
// the work could not be done, 2 usage.
#include <wchar.h>

#include "common/settings.h"
#include "tools/lngkit/kit.h"

int wmain(int argc, wchar_t** argv) {
    PlugInSettingsStore();
    const wchar_t* mode = argc > 1 ? argv[1] : L"";
    const wchar_t* optional = argc > 3 ? argv[3] : nullptr;
    if (argc == 3 && wcscmp(mode, L"reference") == 0)
        return WriteReference(argv[2]);
    if ((argc == 3 || argc == 4) && wcscmp(mode, L"check") == 0)
        return CheckTranslation(argv[2], optional ? optional : argv[2]);
    if ((argc == 3 || argc == 4) && wcscmp(mode, L"screenshots") == 0)
        return RenderAtEachDpi(argv[2], optional, nullptr) ? 0 : 1;
    if ((argc == 3 || argc == 4) && wcscmp(mode, L"render") == 0)
        return RenderDialogs(wcscmp(argv[2], L"-") == 0 ? nullptr : argv[2], optional);
    Print(L"usage: lngkit reference <file>\n"
          L"       lngkit check <language file> [<name to report>]\n"
          L"       lngkit screenshots <folder> [<language file>]\n"
          L"       lngkit render <folder or -> [<language file>]\n");
    return 2;
}
