// Sample files kept with the sources (tests/fixtures), reached from Windows code through Wine's
// drive Z:, which maps the Unix root.
#pragma once
#include <string>

#ifndef BDL_FIXTURES
#error "BDL_FIXTURES must name the fixture folder"
#endif

// relative: a path under the fixture folder, with either separator.
inline std::wstring FixturePath(const wchar_t* relative) {
    std::wstring path = L"Z:";
    for (const char* c = BDL_FIXTURES; *c != 0; c++)
        path += *c == '/' ? L'\\' : wchar_t(static_cast<unsigned char>(*c));
    path += L'\\';
    for (; *relative != 0; relative++)
        path += *relative == L'/' ? L'\\' : *relative;
    return path;
}
