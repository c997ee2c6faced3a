#include "integration/templates.h"

#include <stdio.h>

#include "common/files.h"
#include "common/paths.h"
#include "common/registry.h"
#include "common/text.h"

// An empty archive of the archiver's own format: signature, main header, end-of-archive header,
// each header behind the CRC32 of its four bytes.
unsigned char OwnFormatTemplate[24] = {
    0x00, 'd',  'l',  '!',  0x1A, 0x07, 0x01, 0x00, 0xC1, 0xDF, 0x5F, 0x56,
    0x03, 0x01, 0x04, 0x00, 0x1D, 0x77, 0x56, 0x51, 0x03, 0x05, 0x04, 0x00,
};
// The end-of-central-directory record of an empty ZIP archive.
unsigned char ZipTemplate[22] = {0x00, 0x4B, 0x05, 0x06};

namespace {
void TemplateKeyOf(const wchar_t* extension, wchar_t* key) {
    FormatText(key, TemplateKeyCapacity, L"%s\\ShellNew", extension);
}
} // namespace

void PrepareTemplateImages() {
    OwnFormatTemplate[0] = 'B';
    ZipTemplate[0] = 'P';
}

bool WantTemplate(bool shellExtension, bool isOwnFormat, bool isZip) {
    if (!shellExtension)
        return false;
    if (isOwnFormat && GetUserDword(L"Setup\\MenuItems", L"NewBDL", 1) == 0)
        return false;
    if (isZip && GetUserDword(L"Setup\\MenuItems", L"NewZIP", 1) == 0)
        return false;
    return true;
}

void CreateTemplateEntry(const wchar_t* extension, bool isOwnFormat) {
    wchar_t key[TemplateKeyCapacity];
    TemplateKeyOf(extension, key);
    DeleteEmptyKey(HKEY_CLASSES_ROOT, key);

    wchar_t path[PathCapacity];
    GetProgramPath(path, PathCapacity);
    ReplaceNamePart(path, isOwnFormat ? L"bdlnew.dat" : L"zipnew.dat", PathCapacity);
    const unsigned char* bytes = isOwnFormat ? OwnFormatTemplate : ZipTemplate;
    size_t size = isOwnFormat ? sizeof OwnFormatTemplate : sizeof ZipTemplate;
    ScanEntry entry;
    ZeroBuffer(&entry, sizeof entry);
    if (!GetEntryInfo(path, &entry) || entry.Size != size) {
        if (FILE* file = OpenStream(path, L"wb")) {
            fwrite(bytes, size, 1, file);
            fclose(file);
        }
    }
    SetString(HKEY_CLASSES_ROOT, key, L"FileName", path);
}

void RestoreTemplateEntry(const wchar_t* extension, bool existed) {
    wchar_t key[TemplateKeyCapacity];
    TemplateKeyOf(extension, key);
    if (!existed) {
        DeleteEmptyKey(HKEY_CLASSES_ROOT, key);
        return;
    }
    wchar_t stateKey[80];
    FormatText(stateKey, 80, L"Setup\\%s", extension);
    wchar_t saved[TemplateKeyCapacity];
    GetUserString(stateKey, L"ShellNew", saved, L"", TemplateKeyCapacity);
    DeleteValue(HKEY_CLASSES_ROOT, key, L"FileName");
    if (saved[0] == L'*')
        SetString(HKEY_CLASSES_ROOT, key, L"NullFile", L"");
    else if (saved[0] != 0)
        SetString(HKEY_CLASSES_ROOT, key, L"FileName", saved);
    else
        // There was no entry before the take-over: the key is the archiver's own, and left
        // empty it would still offer the type in Explorer's New menu.
        DeleteEmptyKey(HKEY_CLASSES_ROOT, key);
}
