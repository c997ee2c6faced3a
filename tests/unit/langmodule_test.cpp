// The test language modules, resource-only DLLs built beside the tests: what they hold, and
// that they load without running anything. How the program uses a module is tested with the
// localisation.
#include <gtest/gtest.h>

#include <windows.h>

#include "common/file.h"
#include "common/paths.h"
#include "common/text.h"
#include "resources/resource.h"
#include "testlng.h"

static_assert(TEST_MODULE_ONLY_ID == IDS_MODULEONLY, "the tests' id is the module's");

namespace {
// The build folder is a Unix path; Wine shows the Unix root as drive Z:.
void ModulePath(const wchar_t* name, wchar_t* path, size_t capacity) {
    wchar_t folder[PathCapacity];
    ToWide(BDL_TEST_MODULES, folder, PathCapacity);
    for (wchar_t* c = folder; *c; c++)
        if (*c == L'/')
            *c = L'\\';
    CopyText(path, IsDriveLetterColon(folder) ? L"" : L"Z:", capacity);
    AppendText(path, folder, capacity);
    AddTrailingBackslash(path, capacity);
    AppendText(path, name, capacity);
}

struct Library {
    HMODULE module;
    explicit Library(HMODULE loaded) : module(loaded) {}
    ~Library() {
        if (module)
            FreeLibrary(module);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
};

HMODULE LoadModuleAsData(const wchar_t* name) {
    wchar_t path[PathCapacity];
    ModulePath(name, path, PathCapacity);
    return LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
}

// The caption of an extended dialog template: after the fixed header come the menu and the
// class, each a name or an ordinal.
const WORD* SkipNameOrOrdinal(const WORD* at) {
    if (*at == 0xFFFF)
        return at + 2;
    while (*at)
        at++;
    return at + 1;
}

bool DialogCaption(HMODULE module, const wchar_t* name, wchar_t* caption, size_t capacity) {
    caption[0] = 0;
    HRSRC found = FindResourceW(module, name, RT_DIALOG);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const WORD* at = loaded ? static_cast<const WORD*>(LockResource(loaded)) : nullptr;
    if (!at || at[0] != 1 || at[1] != 0xFFFF)
        return false;
    at = SkipNameOrOrdinal(SkipNameOrOrdinal(at + 13));
    CopyText(caption, reinterpret_cast<const wchar_t*>(at), capacity);
    return true;
}

TEST(TestLanguageModule, OverridesStringsAddsOneAndBringsItsOwnDialog) {
    Library plain(LoadModuleAsData(L"testlng.dll"));
    ASSERT_NE(nullptr, plain.module) << GetLastError();
    wchar_t text[256];
    ASSERT_NE(0, LoadStringW(plain.module, IDS_UNINSTTITLE, text, 256));
    EXPECT_STREQ(TEST_MODULE_TITLE, text);
    ASSERT_NE(0, LoadStringW(plain.module, IDS_MODULEONLY, text, 256));
    EXPECT_STREQ(TEST_MODULE_ONLY_TEXT, text);
    EXPECT_EQ(0, LoadStringW(plain.module, IDS_HOMEURL, text, 256)) << "left to the program";
    EXPECT_EQ(0, LoadStringW(GetModuleHandleW(nullptr), IDS_MODULEONLY, text, 256))
        << "the program has the module's own id";

    ASSERT_TRUE(DialogCaption(plain.module, L"DONEDLG", text, 256));
    EXPECT_STREQ(L"[module] Done", text);
    ASSERT_TRUE(DialogCaption(GetModuleHandleW(nullptr), L"DONEDLG", text, 256));
    EXPECT_STRNE(L"[module] Done", text);

    // Only the right-to-left build carries the marker, and otherwise holds the same.
    EXPECT_EQ(nullptr, FindResourceW(plain.module, L"RTL", RT_DIALOG));
    Library rtl(LoadModuleAsData(L"testlng_rtl.dll"));
    ASSERT_NE(nullptr, rtl.module) << GetLastError();
    EXPECT_NE(nullptr, FindResourceW(rtl.module, L"RTL", RT_DIALOG));
    ASSERT_NE(0, LoadStringW(rtl.module, IDS_UNINSTTITLE, text, 256));
    EXPECT_STREQ(TEST_MODULE_TITLE, text);
}

// Systems that cannot load a data file load the module as an image: it must have no entry
// point to run and no library to import.
TEST(TestLanguageModule, HasNoCodeToRunAndImportsNothing) {
    for (const wchar_t* name : {L"testlng.dll", L"testlng_rtl.dll"}) {
        SCOPED_TRACE(testing::Message() << name);
        wchar_t path[PathCapacity];
        ModulePath(name, path, PathCapacity);
        File file;
        ASSERT_TRUE(file.Open(path, 0));
        static BYTE image[65536];
        int32_t size = file.Read(image, sizeof image);
        ASSERT_GT(size, 0);
        ASSERT_LT(size, int32_t(sizeof image)) << "a resource-only module is small";
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
        ASSERT_EQ(IMAGE_DOS_SIGNATURE, dos->e_magic);
        ASSERT_LT(size_t(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS), size_t(size));
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(image + dos->e_lfanew);
        ASSERT_EQ(DWORD(IMAGE_NT_SIGNATURE), nt->Signature);
        EXPECT_TRUE(nt->FileHeader.Characteristics & IMAGE_FILE_DLL);
        EXPECT_EQ(0u, nt->OptionalHeader.AddressOfEntryPoint);

        // An import directory, if the linker leaves one, must name no library. Its address is
        // turned into a file offset through the section it lies in.
        const IMAGE_DATA_DIRECTORY& imports =
            nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        if (imports.Size != 0) {
            const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
            const IMAGE_SECTION_HEADER* holder = nullptr;
            for (int i = 0; i < nt->FileHeader.NumberOfSections; i++, section++)
                if (imports.VirtualAddress >= section->VirtualAddress &&
                    imports.VirtualAddress < section->VirtualAddress + section->SizeOfRawData)
                    holder = section;
            ASSERT_NE(nullptr, holder);
            size_t offset =
                imports.VirtualAddress - holder->VirtualAddress + holder->PointerToRawData;
            ASSERT_LE(offset + sizeof(IMAGE_IMPORT_DESCRIPTOR), size_t(size));
            EXPECT_EQ(0u, reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(image + offset)->Name);
        }

        Library loaded(LoadLibraryW(path));
        ASSERT_NE(nullptr, loaded.module) << GetLastError();
        wchar_t text[256];
        EXPECT_NE(0, LoadStringW(loaded.module, IDS_MODULEONLY, text, 256));
    }
}
} // namespace
