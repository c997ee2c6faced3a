// Helpers shared by the campaigns: escaped texts for reports, scratch folders and raw files,
// reached without the program's file layer.
#include <windows.h>
#include <ctype.h>
#include <stdio.h>

#include <string>

#include "tests/fuzz/fuzz.h"

namespace fuzz {

std::string Escape(const std::string& bytes, size_t limit) {
    std::string out = "\"";
    for (size_t i = 0; i < bytes.size(); i++) {
        if (out.size() > limit) {
            out += "\"... (" + std::to_string(bytes.size()) + " bytes)";
            return out;
        }
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        char piece[8];
        if (c == '\\' || c == '"')
            snprintf(piece, sizeof piece, "\\%c", c);
        else if (c == '\r')
            snprintf(piece, sizeof piece, "\\r");
        else if (c == '\n')
            snprintf(piece, sizeof piece, "\\n");
        else if (c == '\t')
            snprintf(piece, sizeof piece, "\\t");
        else if (c < 0x20 || c >= 0x7F)
            snprintf(piece, sizeof piece, "\\x%02x", c);
        else
            snprintf(piece, sizeof piece, "%c", c);
        out += piece;
        // A hex escape followed by a hex digit would read on in C; split the literal there.
        if (c < 0x20 && c != '\r' && c != '\n' && c != '\t' && i + 1 < bytes.size() &&
            isxdigit(static_cast<unsigned char>(bytes[i + 1])))
            out += "\" \"";
        else if (c >= 0x7F && i + 1 < bytes.size() &&
                 isxdigit(static_cast<unsigned char>(bytes[i + 1])))
            out += "\" \"";
    }
    return out + "\"";
}

std::string Escape(const std::wstring& text, size_t limit) {
    std::string out = "L\"";
    for (size_t i = 0; i < text.size(); i++) {
        if (out.size() > limit) {
            out += "\"... (" + std::to_string(text.size()) + " characters)";
            return out;
        }
        wchar_t c = text[i];
        char piece[12];
        if (c == L'\\' || c == L'"')
            snprintf(piece, sizeof piece, "\\%c", char(c));
        else if (c == L'\r')
            snprintf(piece, sizeof piece, "\\r");
        else if (c == L'\n')
            snprintf(piece, sizeof piece, "\\n");
        else if (c == L'\t')
            snprintf(piece, sizeof piece, "\\t");
        else if (c < 0x20 || c >= 0x7F)
            snprintf(piece, sizeof piece, "\\x%04x", unsigned(c));
        else
            snprintf(piece, sizeof piece, "%c", char(c));
        out += piece;
        if ((c < 0x20 || c >= 0x7F) && c != L'\r' && c != L'\n' && c != L'\t' &&
            i + 1 < text.size() && text[i + 1] < 0x80 && isxdigit(int(text[i + 1])))
            out += "\" L\"";
    }
    return out + "\"";
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out += char(c);
        } else {
            char piece[12];
            snprintf(piece, sizeof piece, "\\u%04x", unsigned(c));
            out += piece;
        }
    }
    return out;
}

std::wstring ModuleFolder() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = path;
    return folder.substr(0, folder.rfind(L'\\'));
}

std::wstring MakeScratchFolder(const wchar_t* tag) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    static unsigned serial = 0;
    for (;;) {
        std::wstring folder = std::wstring(temp) + L"bdlfuzz_" + tag + L"_" +
                              std::to_wstring(GetCurrentProcessId()) + L"_" +
                              std::to_wstring(serial++);
        if (CreateDirectoryW(folder.c_str(), nullptr))
            return folder;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return L"";
    }
}

void RemoveTree(const std::wstring& path) {
    std::wstring exact = path.compare(0, 4, L"\\\\?\\") == 0 ? path : L"\\\\?\\" + path;
    DWORD attributes = GetFileAttributesW(exact.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    SetFileAttributesW(exact.c_str(), FILE_ATTRIBUTE_NORMAL);
    // A link goes by its own name; what it leads to is not ours.
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        if (!DeleteFileW(exact.c_str()))
            RemoveDirectoryW(exact.c_str());
        return;
    }
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((exact + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = data.cFileName;
            if (name != L"." && name != L"..")
                RemoveTree(exact + L"\\" + name);
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(exact.c_str());
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool done =
        bytes.empty() || (WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr) &&
                          written == bytes.size());
    CloseHandle(file);
    return done;
}

bool ReadFileBytes(const std::wstring& path, std::string& bytes) {
    bytes.clear();
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    CloseHandle(file);
    return true;
}

bool PathExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace fuzz
