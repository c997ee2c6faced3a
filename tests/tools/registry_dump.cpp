// Writes HKEY_CLASSES_ROOT, HKEY_CURRENT_USER\Software and HKEY_LOCAL_MACHINE\Software (each in
// both views, as tests/fuzz/registry_state.cpp's WholeAreas reads them) to a file, one line per
// key and per value, for the round-trip scenarios: "wine reg export" of the same areas takes
// nearly a minute under Wine, this a few seconds.
//
//     registry_dump.exe <file>
//
// Lines, UTF-8, tab-separated: "K", area, key path relative to the area; or "V", area, key path,
// value name, type (decimal), data (hexadecimal). The area is HKCR, HKCU\Software or
// HKLM\Software; a path in the 32-bit view of HKEY_LOCAL_MACHINE\Software (and of
// HKEY_CLASSES_ROOT\CLSID) begins with "Wow6432Node\", as "reg export" of the 64-bit view shows it.
#include <windows.h>
#include <stdio.h>

#include <string>

#include "common/settings.h"
#include "tests/fuzz/registry_state.h"

namespace {

// A name as UTF-8, with a tab or a line end in it written as an escape: they separate the fields.
std::string Utf8(std::wstring text) {
    for (size_t at = 0; (at = text.find_first_of(L"\t\n\r", at)) != std::wstring::npos; at += 2)
        text.replace(at, 1, text[at] == L'\t' ? L"\\t" : text[at] == L'\n' ? L"\\n" : L"\\r");
    if (text.empty())
        return "";
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr,
                                   nullptr);
    std::string out(size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    PlugInSettingsStore();
    if (argc != 2) {
        fprintf(stderr, "usage: registry_dump.exe <file>\n");
        return 2;
    }
    FILE* out = _wfopen(argv[1], L"wb");
    if (!out)
        return 1;
    fuzz::RegistrySnapshot snapshot = fuzz::TakeSnapshot(fuzz::WholeAreas());
    for (const auto& entry : snapshot) {
        // The id is "<root>|<view>|<path>"; the place's own path leads the key's.
        const std::wstring& id = entry.first;
        size_t bar = id.find(L'|'), bar2 = id.find(L'|', bar + 1);
        std::wstring root = id.substr(0, bar), view = id.substr(bar + 1, bar2 - bar - 1);
        std::wstring path = entry.second.Name;
        std::string area;
        if (root == L"hkey_classes_root") {
            area = "HKCR";
            if (view == L"32")
                path = L"Wow6432Node\\" + path;
        } else {
            area = root == L"hkey_current_user" ? "HKCU\\Software" : "HKLM\\Software";
            path = path.size() > 9 ? path.substr(9) : L""; // below "Software\"
            if (root == L"hkey_local_machine" && view == L"32")
                path = path.empty() ? L"Wow6432Node" : L"Wow6432Node\\" + path;
        }
        fprintf(out, "K\t%s\t%s\n", area.c_str(), Utf8(path).c_str());
        for (const auto& value : entry.second.Values) {
            fprintf(out, "V\t%s\t%s\t%s\t%lu\t", area.c_str(), Utf8(path).c_str(),
                    Utf8(value.second.first).c_str(), value.second.second.Type);
            for (unsigned char c : value.second.second.Bytes)
                fprintf(out, "%02x", c);
            fputc('\n', out);
        }
    }
    fclose(out);
    return 0;
}
