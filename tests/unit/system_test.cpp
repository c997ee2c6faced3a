// Platform questions, and system libraries loaded by full path so that no planted copy is used.
#include <gtest/gtest.h>

#include <windows.h>
#include <wchar.h>

#include "common/paths.h"
#include "common/system.h"

namespace {
TEST(RunsUnderWow64, TrueExactlyForThe32BitBuildIn64BitWindows) {
    // The test prefix is 64-bit, so the answer follows the build's word size.
    EXPECT_EQ(sizeof(void*) == 4, RunsUnderWow64());
}

TEST(LoadSystemLibrary, LoadsFromTheSystemFolderAndNothingElse) {
    HMODULE richEdit = LoadSystemLibrary(L"riched20.dll");
    ASSERT_NE(nullptr, richEdit);
    wchar_t loaded[MAX_PATH], system[MAX_PATH];
    ASSERT_NE(0u, GetModuleFileNameW(richEdit, loaded, MAX_PATH));
    ASSERT_NE(0u, GetSystemDirectoryW(system, MAX_PATH));
    AddTrailingBackslash(system, MAX_PATH);
    EXPECT_EQ(0, _wcsnicmp(loaded, system, wcslen(system))) << "loaded from elsewhere";
    FreeLibrary(richEdit);

    EXPECT_EQ(nullptr, LoadSystemLibrary(L"no-such-library-bdl.dll"));
}

} // namespace
