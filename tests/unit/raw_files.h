// Fixture helpers for tests on real files: they reach a file by its exact name (the "\\?\" form),
// independent of the file layer under test.
#pragma once
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

inline std::wstring Long(const std::wstring& path) {
    return L"\\\\?\\" + path;
}

inline bool Exists(const std::wstring& path) {
    return GetFileAttributesW(Long(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline void WriteRaw(const std::wstring& path, const std::string& content) {
    HANDLE file =
        CreateFileW(Long(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << "cannot create the fixture file";
    DWORD written = 0;
    WriteFile(file, content.data(), DWORD(content.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_EQ(content.size(), written);
}

inline std::string ReadRaw(const std::wstring& path) {
    HANDLE file = CreateFileW(Long(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<missing>";
    std::string content;
    char buffer[256];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
        content.append(buffer, read);
    CloseHandle(file);
    return content;
}

inline void MakeFolderRaw(const std::wstring& path) {
    ASSERT_TRUE(CreateDirectoryW(Long(path).c_str(), nullptr)) << "cannot create the fixture";
}

inline void RemoveTree(const std::wstring& longPath) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((longPath + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring child = longPath + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileW(child.c_str());
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(longPath.c_str());
}

// A folder of its own in the prefix's temporary folder, removed with everything in it.
class TempFolderTest : public ::testing::Test {
  protected:
    explicit TempFolderTest(const wchar_t* tag) : Tag(tag) {}
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        ASSERT_NE(0u, GetTempPathW(MAX_PATH, temp));
        static unsigned serial = 0;
        Root = std::wstring(temp) + L"bdl_" + Tag + L"_" + std::to_wstring(GetCurrentProcessId()) +
               L"_" + std::to_wstring(serial++);
        ASSERT_TRUE(CreateDirectoryW(Root.c_str(), nullptr));
    }
    void TearDown() override { RemoveTree(Long(Root)); }

    std::wstring At(const std::wstring& name) const { return Root + L"\\" + name; }

    const wchar_t* Tag;
    std::wstring Root;
};
