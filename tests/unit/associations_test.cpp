// File associations and "New" templates against the real registry of the prefix, from seeded
// prior states such as other programs leave them: take-over, a second apply, unchecking and
// release, value by value; the template files byte for byte.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "common/registry.h"
#include "integration/associations.h"
#include "integration/templates.h"
#include "raw_files.h"
#include "test_support.h"

namespace {

const wchar_t* const Missing = MissingValue;

std::wstring Raw(const std::wstring& key, const wchar_t* name = L"") {
    return RawValue(HKEY_CLASSES_ROOT, key, name);
}

bool RawExists(const std::wstring& key) {
    return RawKeyExists(HKEY_CLASSES_ROOT, key);
}

void Seed(const std::wstring& key, const wchar_t* name, const wchar_t* data) {
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), name, REG_SZ, data,
                                             DWORD((wcslen(data) + 1) * sizeof(wchar_t))));
}

void SeedTyped(const std::wstring& key, const wchar_t* name, DWORD type, const void* data,
               DWORD size) {
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), name, type, data, size));
}

// A value's type and bytes, for comparing other programs' values exactly.
std::string Typed(const std::wstring& key, const wchar_t* name) {
    BYTE data[256];
    DWORD size = sizeof data, type = 0;
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &type, data,
                     &size) != ERROR_SUCCESS)
        return "missing";
    return std::to_string(type) + ":" + std::string(reinterpret_cast<char*>(data), size);
}

// A value's type and bytes exactly as stored (RegGetValueW would add a missing terminator).
std::string Exact(const std::wstring& key, const wchar_t* name) {
    HKEY opened;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS)
        return "missing";
    BYTE data[4096];
    DWORD size = sizeof data, type = 0;
    LONG result = RegQueryValueExW(opened, name, nullptr, &type, data, &size);
    RegCloseKey(opened);
    if (result != ERROR_SUCCESS)
        return "missing";
    return std::to_string(type) + ":" + std::string(reinterpret_cast<char*>(data), size);
}

uint32_t Crc32(const unsigned char* bytes, size_t size) {
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 0; i < size; i++) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; bit++)
            crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    return ~crc;
}

class Associations : public ::testing::Test {
  protected:
    void SetUp() override {
        Folder = ModuleFolder();
        Clean();
    }
    void TearDown() override {
        OverrideRegistryFunctions(nullptr);
        Clean();
    }
    void Clean() {
        for (const ArchiveType& type : ArchiveTypeTable)
            for (const wchar_t* p = type.Group; p;) {
                wchar_t extension[ExtensionCapacity];
                p = SplitExtension(p, extension, ExtensionCapacity);
                RegDeleteTreeW(HKEY_CLASSES_ROOT, extension);
            }
        for (int n = 0; n < 100; n++) {
            wchar_t volume[8];
            swprintf(volume, 8, L".b%02d", n);
            RegDeleteTreeW(HKEY_CLASSES_ROOT, volume);
        }
        for (const wchar_t* key : {L".ace", L".rev", L"Bundlo", L"Bundlo.ZIP", L"Bundlo.REV"})
            RegDeleteTreeW(HKEY_CLASSES_ROOT, key);
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Bundlo");
        DeleteMachineProductKeys();
        DeleteFileW((Folder + L"\\bdlnew.dat").c_str());
        DeleteFileW((Folder + L"\\zipnew.dat").c_str());
    }
    static IntegrationSettings All(uint8_t on) {
        IntegrationSettings s = {};
        for (uint8_t& flag : s.associate)
            flag = on;
        s.shellExtension = 1;
        return s;
    }
    std::wstring Folder;
};

TEST_F(Associations, TakeOverSavesWhatWasThereAndReleaseGivesItBack) {
    Seed(L".zip", L"", L"CompressedFolder");
    Seed(L".zip\\ShellNew", L"NullFile", L"");
    // The shell's own form of an entry: bytes to copy and a name from a resource.
    const BYTE data[] = {0x50, 0x4B, 0x05, 0x06, 0x00, 0xFF};
    SeedTyped(L".zip\\ShellNew", L"Data", REG_BINARY, data, sizeof data);
    const wchar_t itemName[] = L"@%SystemRoot%\\system32\\zipfldr.dll,-10194";
    SeedTyped(L".zip\\ShellNew", L"ItemName", REG_EXPAND_SZ, itemName, sizeof itemName);
    std::string dataBefore = Typed(L".zip\\ShellNew", L"Data");
    std::string itemNameBefore = Typed(L".zip\\ShellNew", L"ItemName");
    Seed(L".bdl", L"", L"OldBdl");
    Seed(L".bdl\\ShellNew", L"FileName", L"C:\\old\\template.bdl");
    Seed(L".bdl\\ShellNew", L"Command", L"other.exe /new \"%1\"");
    Seed(L".arj", L"", L"Other.arj");
    Seed(L".arj\\OpenWithProgids", L"Other.arj", L"");
    Seed(L".b50", L"", L"Backup.Volume");

    AssociateAllTypes(All(1));
    EXPECT_EQ(L"Bundlo.ZIP", Raw(L".zip"));
    EXPECT_EQ(L"Bundlo", Raw(L".zipx"));
    EXPECT_EQ(L"Bundlo", Raw(L".tbz2"));
    EXPECT_EQ(L"Bundlo", Raw(L".b00"));
    EXPECT_EQ(L"Bundlo", Raw(L".b29"));
    EXPECT_EQ(Missing, Raw(L".b30"));
    EXPECT_EQ(Folder + L"\\zipnew.dat", Raw(L".zip\\ShellNew", L"FileName"));
    EXPECT_EQ(Missing, Raw(L".zip\\ShellNew", L"NullFile"));
    EXPECT_EQ(Folder + L"\\bdlnew.dat", Raw(L".bdl\\ShellNew", L"FileName"));

    // Kept for the machine, where any account's removal finds it; nothing for the user.
    EXPECT_EQ(L"1", RecordValue(L".zip", L"Exist"));
    EXPECT_EQ(L"CompressedFolder", RecordValue(L".zip", L"Type"));
    EXPECT_EQ(L"*", RecordValue(L".zip", L"ShellNew"));
    EXPECT_EQ(L"C:\\old\\template.bdl", RecordValue(L".bdl", L"ShellNew"));
    EXPECT_EQ(L"0", RecordValue(L".cab", L"Exist"));
    EXPECT_FALSE(RawKeyExists(HKEY_CURRENT_USER, L"Software\\Bundlo\\Setup\\.zip"));

    // A second apply keeps the first saved state.
    AssociateAllTypes(All(1));
    EXPECT_EQ(L"CompressedFolder", RecordValue(L".zip", L"Type"));

    // Another program takes ".7z" in between: it keeps it.
    Seed(L".7z", L"", L"Other.7z");
    AssociateAllTypes(All(0));
    EXPECT_EQ(L"Other.7z", Raw(L".7z"));
    EXPECT_EQ(L"CompressedFolder", Raw(L".zip"));
    EXPECT_EQ(L"", Raw(L".zip\\ShellNew", L"NullFile"));
    EXPECT_EQ(Missing, Raw(L".zip\\ShellNew", L"FileName"));
    // Every value of the other program's entry comes back, types included.
    EXPECT_EQ(dataBefore, Typed(L".zip\\ShellNew", L"Data"));
    EXPECT_EQ(itemNameBefore, Typed(L".zip\\ShellNew", L"ItemName"));
    EXPECT_EQ(L"OldBdl", Raw(L".bdl"));
    EXPECT_EQ(L"C:\\old\\template.bdl", Raw(L".bdl\\ShellNew", L"FileName"));
    EXPECT_EQ(L"other.exe /new \"%1\"", Raw(L".bdl\\ShellNew", L"Command"));
    EXPECT_EQ(L"Other.arj", Raw(L".arj"));
    EXPECT_TRUE(RawExists(L".arj\\OpenWithProgids"));
    // Volumes follow the previous class of ".bdl", except one that another program owns.
    EXPECT_EQ(L"OldBdl", Raw(L".b00"));
    EXPECT_EQ(L"OldBdl", Raw(L".b29"));
    EXPECT_EQ(L"Backup.Volume", Raw(L".b50"));
    EXPECT_FALSE(RawExists(L".b30"));
    // Extensions that had no key lose it again.
    EXPECT_FALSE(RawExists(L".cab"));
    EXPECT_FALSE(RawExists(L".tbz2"));
}

TEST_F(Associations, ExtensionsWithoutAKeyBeforeLeaveNothingBehind) {
    AssociateAllTypes(All(1));
    ASSERT_TRUE(RawExists(L".zip\\ShellNew"));
    AssociateAllTypes(All(0));
    for (const wchar_t* key : {L".zip", L".bdl", L".b00", L".b29", L".gz", L".tgz"})
        EXPECT_FALSE(RawExists(key)) << key;
}

// Found by the foreign-values campaign (seed 20261209): another program's empty key was taken for
// what a cut run leaves, and deleted: ".taz" by its give-back, ".zip\ShellNew" by the give-back
// of a type never taken.
TEST_F(Associations, AnotherProgramsEmptyKeysStay) {
    for (const wchar_t* key : {L".taz", L".zip\\ShellNew"}) {
        HKEY created;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_CLASSES_ROOT, key, &created));
        RegCloseKey(created);
    }
    AssociateExtension(L".zip", GiveBackExtension | WithShellExtension, ArchiveKind::Zip);
    AssociateExtension(L".taz", TakeExtension, ArchiveKind::Other);
    AssociateExtension(L".taz", GiveBackExtension, ArchiveKind::Other);
    EXPECT_TRUE(RawExists(L".zip\\ShellNew"));
    EXPECT_TRUE(RawExists(L".taz"));
    // The archiver's own empty key, left by a take-over cut before its class, still goes, even
    // when the take-over run again is cut while it would write the record anew.
    AssociateExtension(L".tbz", TakeExtension, ArchiveKind::Other);
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyValueW(HKEY_CLASSES_ROOT, L".tbz", L""));
    {
        FailingCall failing(RegistryCall::SetValue, L"Type", ERROR_ACCESS_DENIED);
        AssociateExtension(L".tbz", TakeExtension, ArchiveKind::Other);
    }
    AssociateExtension(L".tbz", GiveBackExtension, ArchiveKind::Other);
    EXPECT_FALSE(RawExists(L".tbz"));
}

TEST_F(Associations, AnOwnClassSavedAsPreviousComesBackEmpty) {
    Seed(L".gz", L"", L"bundlo.zip");
    SetUserDword(L"Setup\\.gz", L"Exist", 1);
    SetUserString(L"Setup\\.gz", L"Type", L"BUNDLO.zip");
    AssociateExtension(L".gz", GiveBackExtension | WithShellExtension, ArchiveKind::Other);
    EXPECT_EQ(L"", Raw(L".gz"));
    // A recovery volume class is not the archiver's archive class: ".rev"-like owners stay.
    Seed(L".tgz", L"", L"Bundlo.REV");
    AssociateExtension(L".tgz", GiveBackExtension | WithShellExtension, ArchiveKind::Other);
    EXPECT_EQ(L"Bundlo.REV", Raw(L".tgz"));
}

// A previous class that could not be kept whole could never be given back: the extension stays
// with its owner.
TEST_F(Associations, AnOwnerThatCannotBeKeptWholeIsNeverTaken) {
    std::wstring longClass(600, L'c');
    Seed(L".7z", L"", longClass.c_str());
    const BYTE binary[] = {1, 2, 3};
    SeedTyped(L".arj", L"", REG_BINARY, binary, sizeof binary);
    std::string arj = Typed(L".arj", L"");
    AssociateAllTypes(All(1));
    EXPECT_EQ(longClass, Raw(L".7z"));
    EXPECT_EQ(arj, Typed(L".arj", L""));
    EXPECT_EQ(L"Bundlo", Raw(L".tar")) << "the others are taken";
    AssociateAllTypes(All(0));
    EXPECT_EQ(longClass, Raw(L".7z"));
    EXPECT_EQ(arj, Typed(L".arj", L""));
}

// State saved by an earlier version held only "FileName" or "NullFile"; it still restores.
TEST_F(Associations, StateSavedByAnEarlierVersionStillRestores) {
    Seed(L".zip", L"", L"Bundlo.ZIP");
    Seed(L".zip\\ShellNew", L"FileName", (Folder + L"\\zipnew.dat").c_str());
    SetUserDword(L"Setup\\.zip", L"Exist", 1);
    SetUserString(L"Setup\\.zip", L"Type", L"CompressedFolder");
    SetUserString(L"Setup\\.zip", L"ShellNew", L"*");
    AssociateExtension(L".zip", GiveBackExtension | WithShellExtension, ArchiveKind::Zip);
    EXPECT_EQ(L"CompressedFolder", Raw(L".zip"));
    EXPECT_EQ(L"", Raw(L".zip\\ShellNew", L"NullFile"));
    EXPECT_EQ(Missing, Raw(L".zip\\ShellNew", L"FileName"));
}

// The record lost (a hive restored, say): what was there before is unknown, so only the
// archiver's class goes, and a line says so; another value of the key stays.
TEST_F(Associations, WithoutARecordOnlyTheArchiversClassGoes) {
    Seed(L".7z", L"", L"Other.7z");
    Seed(L".7z", L"PerceivedType", L"compressed");
    ASSERT_TRUE(AssociateAllTypes(All(1)));
    DeleteMachineProductKeys();
    CapturedDiagnostics diagnostics;
    EXPECT_TRUE(AssociateExtension(L".7z", GiveBackExtension, ArchiveKind::Other));
    EXPECT_EQ(Missing, Raw(L".7z"));
    EXPECT_EQ(L"compressed", Raw(L".7z", L"PerceivedType"));
    EXPECT_EQ(1u, CapturedDiagnostics::Lines().size());
}

// Another program takes ".bdl" after the setup: the old-style volume extensions must not be
// left naming a class that the removal deletes.
TEST_F(Associations, VolumesAreReleasedWhenBdlChangedHands) {
    AssociateAllTypes(All(1));
    ASSERT_EQ(L"Bundlo", Raw(L".b07"));
    Seed(L".bdl", L"", L"Other.Bdl");
    Seed(L".bdl\\ShellNew", L"ItemName", L"other");
    AssociateAllTypes(All(0));
    EXPECT_EQ(L"Other.Bdl", Raw(L".bdl"));
    // Its "New" entry no longer offers the archiver's template, which is about to go.
    EXPECT_EQ(Missing, Raw(L".bdl\\ShellNew", L"FileName"));
    EXPECT_EQ(L"other", Raw(L".bdl\\ShellNew", L"ItemName"));
    for (int n = 0; n < 100; n++) {
        wchar_t volume[8];
        swprintf(volume, 8, L".b%02d", n);
        EXPECT_NE(L"Bundlo", Raw(volume)) << volume;
    }
}

TEST_F(Associations, TemplatesFollowTheShellExtensionAndTheirMenuItems) {
    // Taken over with the shell extension off, another program's entry is never the archiver's
    // to delete.
    Seed(L".bdl", L"", L"OldBdl");
    Seed(L".bdl\\ShellNew", L"Command", L"other.exe /new");
    IntegrationSettings noShellFirst = All(1);
    noShellFirst.shellExtension = 0;
    AssociateAllTypes(noShellFirst);
    EXPECT_EQ(L"other.exe /new", Raw(L".bdl\\ShellNew", L"Command"));
    AssociateAllTypes(All(0));
    EXPECT_EQ(L"other.exe /new", Raw(L".bdl\\ShellNew", L"Command"));
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L".bdl");
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Bundlo");

    Seed(L".zip", L"", L"CompressedFolder");
    Seed(L".zip\\ShellNew", L"NullFile", L"");
    AssociateAllTypes(All(1));
    ASSERT_EQ(Folder + L"\\zipnew.dat", Raw(L".zip\\ShellNew", L"FileName"));

    // Shell extension off: still associated, previous entry back.
    IntegrationSettings noShell = All(1);
    noShell.shellExtension = 0;
    AssociateAllTypes(noShell);
    EXPECT_EQ(L"Bundlo.ZIP", Raw(L".zip"));
    EXPECT_EQ(L"", Raw(L".zip\\ShellNew", L"NullFile"));
    EXPECT_EQ(Missing, Raw(L".zip\\ShellNew", L"FileName"));
    EXPECT_FALSE(RawExists(L".bdl\\ShellNew")); // ".bdl" had no key: nothing to give back

    // "NewBDL" off touches only ".bdl".
    AssociateAllTypes(All(1));
    SetUserDword(L"Setup\\MenuItems", L"NewBDL", 0);
    AssociateAllTypes(All(1));
    EXPECT_FALSE(RawExists(L".bdl\\ShellNew"));
    EXPECT_EQ(Folder + L"\\zipnew.dat", Raw(L".zip\\ShellNew", L"FileName"));
}

TEST_F(Associations, TemplateFilesByteForByte) {
    AssociateExtension(L".bdl", TakeExtension | WithShellExtension, ArchiveKind::OwnFormat);
    AssociateExtension(L".zip", TakeExtension | WithShellExtension, ArchiveKind::Zip);
    std::string bdl = ReadRaw(Folder + L"\\bdlnew.dat");
    ASSERT_EQ(24u, bdl.size());
    const unsigned char* b = reinterpret_cast<const unsigned char*>(bdl.data());
    EXPECT_EQ(std::string("Bdl!\x1A\x07\x01\x00", 8), bdl.substr(0, 8));
    uint32_t first = b[8] | b[9] << 8 | b[10] << 16 | uint32_t(b[11]) << 24;
    uint32_t second = b[16] | b[17] << 8 | b[18] << 16 | uint32_t(b[19]) << 24;
    EXPECT_EQ(Crc32(b + 12, 4), first);
    EXPECT_EQ(Crc32(b + 20, 4), second);
    EXPECT_EQ(std::string("\x03\x01\x04\x00", 4), bdl.substr(12, 4));
    EXPECT_EQ(std::string("\x03\x05\x04\x00", 4), bdl.substr(20, 4));
    EXPECT_EQ(std::string("PK\x05\x06", 4) + std::string(18, '\0'),
              ReadRaw(Folder + L"\\zipnew.dat"));

    // A file of the right size stays whatever it holds; one of another size is rewritten.
    WriteRaw(Folder + L"\\bdlnew.dat", std::string(24, 'x'));
    WriteRaw(Folder + L"\\zipnew.dat", std::string(25, 'x'));
    AssociateExtension(L".bdl", TakeExtension | WithShellExtension, ArchiveKind::OwnFormat);
    AssociateExtension(L".zip", TakeExtension | WithShellExtension, ArchiveKind::Zip);
    EXPECT_EQ(std::string(24, 'x'), ReadRaw(Folder + L"\\bdlnew.dat"));
    EXPECT_EQ(22u, ReadRaw(Folder + L"\\zipnew.dat").size());
}

TEST_F(Associations, AceIsGivenBackOnlyWhileTheArchiverOwnsIt) {
    SetUserDword(L"Setup\\.ace", L"Exist", 1);
    SetUserString(L"Setup\\.ace", L"Type", L"OtherAce.Archive");
    Seed(L".ace", L"", L"Bundlo");
    AssociateExtension(L".ace", GiveBackExtension, ArchiveKind::Other);
    EXPECT_EQ(L"OtherAce.Archive", Raw(L".ace"));
    Seed(L".ace", L"", L"OtherAce");
    AssociateExtension(L".ace", GiveBackExtension, ArchiveKind::Other);
    EXPECT_EQ(L"OtherAce", Raw(L".ace"));
}

TEST_F(Associations, ClassKeysKeepAChosenIconAndStopWhenRefused) {
    Seed(L"Bundlo.ZIP\\DefaultIcon", L"", L"C:\\icons\\zip.ico,3");
    ASSERT_TRUE(WriteClassKeys());
    std::wstring archiver = L"\"" + Folder + L"\\Bundlo.exe\" \"%1\"";
    EXPECT_EQ(L"Bundlo archive", Raw(L"Bundlo"));
    EXPECT_EQ(archiver, Raw(L"Bundlo\\shell\\open\\command"));
    EXPECT_EQ(Folder + L"\\Bundlo.exe,0", Raw(L"Bundlo\\DefaultIcon"));
    EXPECT_EQ(L"C:\\icons\\zip.ico,3", Raw(L"Bundlo.ZIP\\DefaultIcon"));
    EXPECT_EQ(archiver, Raw(L"Bundlo.ZIP\\shell\\open\\command"));
    EXPECT_EQ(L"Bundlo.REV", Raw(L".rev"));
    EXPECT_EQ(L"Bundlo recovery volume", Raw(L"Bundlo.REV"));
    EXPECT_EQ(Folder + L"\\Bundlo.exe,1", Raw(L"Bundlo.REV\\DefaultIcon"));

    Clean();
    {
        RefusedCreations refused([](HKEY root, const wchar_t* path) {
            return root == HKEY_LOCAL_MACHINE && wcsncmp(path, L"Software\\Classes\\", 17) == 0;
        });
        EXPECT_FALSE(WriteClassKeys());
    }
    EXPECT_FALSE(RawExists(L"Bundlo"));
    EXPECT_FALSE(RawExists(L".rev"));
}

// Found by the fault campaign (faults, seed 1: ApplyIntegration with call 158, 316 and 474
// refused): a take-over whose previous state could not be kept whole went on, and the other
// program's "New" entry or the extension's existence was lost for good. Now the extension waits,
// and the next run takes it over with its state complete.
TEST_F(Associations, ATakeOverWaitsWhileItsStateCannotBeKept) {
    Seed(L".bdl", L"", L"OldBdl");
    Seed(L".bdl\\ShellNew", L"Command", L"other.exe /new \"%1\"");
    const BYTE data[] = {0x50, 0x4B, 0x05, 0x06};
    SeedTyped(L".zip\\ShellNew", L"Data", REG_BINARY, data, sizeof data);
    Seed(L".zip", L"", L"CompressedFolder");
    struct Refusal {
        RegistryCall Kind;
        const wchar_t* Target;
        const wchar_t* Extension;
        int Occurrence;
    } refusals[] = {
        {RegistryCall::SetValue, L"0", L".bdl", 1}, // a value of the "New" entry
        {RegistryCall::OpenKey, L"Software\\Classes\\.zip\\ShellNew", L".zip",
         1},                                            // "New" unreadable
        {RegistryCall::SetValue, L"Exist", L".bdl", 1}, // whether the key existed
        {RegistryCall::QueryValue, L"", L".bdl", 1},    // the class, for the owner
        {RegistryCall::QueryValue, L"", L".bdl", 2},    // the class, to be kept
    };
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(testing::Message() << refusal.Target << " " << refusal.Occurrence);
        {
            FailingCall failing(refusal.Kind, refusal.Target, ERROR_ACCESS_DENIED,
                                refusal.Occurrence);
            EXPECT_FALSE(AssociateAllTypes(All(1)));
            EXPECT_TRUE(FailingCall::Failed());
        }
        // The refused extension is as it was, its "New" entry too.
        std::wstring extension = refusal.Extension;
        EXPECT_NE(L"Bundlo", Raw(extension));
        EXPECT_NE(L"Bundlo.ZIP", Raw(extension));
        EXPECT_EQ(Missing, Raw(extension + L"\\ShellNew", L"FileName"));
        if (extension == L".bdl")
            EXPECT_EQ(L"other.exe /new \"%1\"", Raw(L".bdl\\ShellNew", L"Command"));
        else
            EXPECT_EQ(std::string("3:PK\x05\x06"), Typed(L".zip\\ShellNew", L"Data"));
        // The next run takes it over, and the release gives everything back.
        EXPECT_TRUE(AssociateAllTypes(All(1)));
        EXPECT_EQ(L"Bundlo", Raw(L".bdl"));
        EXPECT_EQ(Folder + L"\\bdlnew.dat", Raw(L".bdl\\ShellNew", L"FileName"));
        EXPECT_TRUE(AssociateAllTypes(All(0)));
        EXPECT_EQ(L"OldBdl", Raw(L".bdl"));
        EXPECT_EQ(L"CompressedFolder", Raw(L".zip"));
        EXPECT_EQ(L"other.exe /new \"%1\"", Raw(L".bdl\\ShellNew", L"Command"));
        EXPECT_EQ(Missing, Raw(L".bdl\\ShellNew", L"FileName"));
        EXPECT_EQ(std::string("3:PK\x05\x06"), Typed(L".zip\\ShellNew", L"Data"));
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Bundlo");
        DeleteMachineProductKeys();
    }
}

// Found by the fault campaign (faults, seed 1: RemoveRegistrations with the saved state's reads
// and the give-back's writes refused): the release acted on the defaults, gave back an empty class
// or none, and the state was gone after it. Now the extension stays the archiver's until a later
// run can read its state and write it back.
TEST_F(Associations, AGiveBackWaitsWhileItsStateCannotBeReadOrWritten) {
    Seed(L".7z", L"", L"Other.7z");
    ASSERT_TRUE(AssociateAllTypes(All(1)));
    ASSERT_EQ(L"Bundlo", Raw(L".7z"));
    struct Refusal {
        RegistryCall Kind;
        const wchar_t* Target;
    } refusals[] = {
        {RegistryCall::QueryValue, L"Type"},
        {RegistryCall::QueryValue, L"Exist"},
        {RegistryCall::OpenKey, L"Software\\Bundlo\\Setup\\.7z"},
        {RegistryCall::SetValue, L""},
    };
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.Target);
        {
            FailingCall failing(refusal.Kind, refusal.Target, ERROR_ACCESS_DENIED);
            EXPECT_FALSE(AssociateExtension(L".7z", GiveBackExtension, ArchiveKind::Other));
            EXPECT_TRUE(FailingCall::Failed());
        }
        EXPECT_EQ(L"Bundlo", Raw(L".7z"));
        EXPECT_EQ(L"Other.7z", RecordValue(L".7z", L"Type"));
        // A later run gives it back.
        EXPECT_TRUE(AssociateExtension(L".7z", GiveBackExtension, ArchiveKind::Other));
        EXPECT_EQ(L"Other.7z", Raw(L".7z"));
        ASSERT_TRUE(AssociateExtension(L".7z", TakeExtension, ArchiveKind::Other));
    }
}

// Found by the foreign-values campaign (foreign, seed 1, inputs 4, 7, 13, 112 and seed 2, input
// 170): an old volume extension with an empty, over-long or unreadable class was taken over and
// lost its class; one without a class but with values of its own lost them with its key; a
// "New" entry's text kept without its terminator came back with one.
TEST_F(Associations, ValuesOfOtherFormsComeBackExactly) {
    Seed(L".b05", L"", L"");
    Seed(L".b05", L"PerceivedType", L"compressed");
    std::wstring longClass(1050, L'L');
    Seed(L".b07", L"", longClass.c_str());
    const BYTE dword[] = {5, 0, 0, 0};
    SeedTyped(L".b08", L"", REG_DWORD, dword, sizeof dword);
    Seed(L".b06", L"PerceivedType", L"compressed");
    Seed(L".b06\\OpenWithProgids", L"Other.Volume", L"");
    Seed(L".b09", L"Content Type", L"application/x-volume");
    // Written from a buffer whose next character is no zero: stored without a terminator.
    const wchar_t unterminated[] = L"rmuafzctkcvjdifppoeyX";
    SeedTyped(L".zip\\ShellNew", L"ItemName", REG_SZ, unterminated, 40);
    const std::string itemName = Exact(L".zip\\ShellNew", L"ItemName");
    ASSERT_EQ(42u, itemName.size()); // "1:" and 40 bytes
    const std::string b05 = Exact(L".b05", L""), b08 = Exact(L".b08", L"");

    ASSERT_TRUE(AssociateAllTypes(All(1)));
    EXPECT_EQ(b05, Exact(L".b05", L""));
    EXPECT_EQ(b08, Exact(L".b08", L""));
    EXPECT_EQ(L"Bundlo", Raw(L".b06"));
    EXPECT_EQ(L"Bundlo", Raw(L".b09"));
    ASSERT_TRUE(AssociateAllTypes(All(0)));
    EXPECT_EQ(b05, Exact(L".b05", L""));
    EXPECT_EQ(L"compressed", Raw(L".b05", L"PerceivedType"));
    EXPECT_EQ(longClass, Raw(L".b07"));
    EXPECT_EQ(b08, Exact(L".b08", L""));
    EXPECT_EQ(Missing, Raw(L".b06"));
    EXPECT_EQ(L"compressed", Raw(L".b06", L"PerceivedType"));
    EXPECT_TRUE(RawExists(L".b06\\OpenWithProgids"));
    EXPECT_EQ(Missing, Raw(L".b09"));
    EXPECT_EQ(L"application/x-volume", Raw(L".b09", L"Content Type"));
    EXPECT_FALSE(RawExists(L".b10")); // made for the archiver, gone with it
    EXPECT_EQ(itemName, Exact(L".zip\\ShellNew", L"ItemName"));
}

} // namespace
