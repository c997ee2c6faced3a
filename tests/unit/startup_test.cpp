// The switches as the command line and the installer's "sfxcmd" variable deliver them.
#include <gtest/gtest.h>

#include <new>
#include <wchar.h>

#include "common/array.h"
#include "uninstall/startup.h"

namespace {
struct Selection {
    bool setup;
    bool uninstall;
};

class Switches : public ::testing::Test {
  protected:
    void SetUp() override {
        Silent = MsiMode = NoExplorer = false;
        InitSettingsText[0] = 0;
    }

    // The two calls of start-up: the installer's variable first, then the command line.
    static Selection Parse(const wchar_t* commandLine, const wchar_t* sfxcmd = L"") {
        Selection s = {false, true};
        ParseSwitches(true, sfxcmd, s.setup, s.uninstall);
        EXPECT_FALSE(s.uninstall) << "the variable alone never selects the uninstall";
        ParseSwitches(false, commandLine, s.setup, s.uninstall);
        return s;
    }
};

const wchar_t* const Program = L"\"C:\\Program Files\\Bundlo\\Uninstall.exe\"";

TEST_F(Switches, NoSwitchSelectsUninstallAndAQuotedProgramPathIsNoSwitch) {
    Selection s = Parse(Program);
    EXPECT_TRUE(s.uninstall);
    EXPECT_FALSE(s.setup);
    // Unquoted, the path splits at its blank, and neither half is a switch either.
    s = Parse(L"C:\\Program Files\\Bundlo\\Uninstall.exe");
    EXPECT_TRUE(s.uninstall);
    EXPECT_FALSE(Silent || MsiMode || NoExplorer);
}

TEST_F(Switches, SetupInAnyCaseAndWithEitherLeadCharacter) {
    for (const wchar_t* sw : {L" /setup", L" /Setup", L" -SETUP", L" /setupXYZ"}) {
        wchar_t line[128];
        wcscpy(line, Program);
        wcscat(line, sw);
        Selection s = Parse(line);
        EXPECT_TRUE(s.setup) << sw;
        EXPECT_FALSE(s.uninstall) << sw;
    }
}

TEST_F(Switches, ShorterOrUnknownSwitchSelectsNothing) {
    for (const wchar_t* line : {L"x.exe /set", L"x.exe /Sx", L"x.exe /bogus", L"x.exe -"}) {
        Selection s = Parse(line);
        EXPECT_FALSE(s.setup) << line;
        EXPECT_FALSE(s.uninstall) << line;
        EXPECT_FALSE(Silent) << line;
    }
}

TEST_F(Switches, SilentWhenTheThirdCharacterIsNoLetter) {
    for (const wchar_t* line : {L"x.exe /S", L"x.exe -s", L"x.exe /S1", L"x.exe /s-"}) {
        Silent = false;
        Selection s = Parse(line);
        EXPECT_TRUE(Silent) << line;
        EXPECT_TRUE(s.uninstall) << line << ": /S does not count as a switch";
    }
    Silent = false;
    Selection s = Parse(L"x.exe /S /setup");
    EXPECT_TRUE(Silent);
    EXPECT_TRUE(s.setup);
    EXPECT_FALSE(s.uninstall);
}

TEST_F(Switches, InstallerVariableOnlyCarriesSilent) {
    Selection s = Parse(L"x.exe", L"/setup /msi /noexplorer");
    EXPECT_FALSE(s.setup);
    EXPECT_FALSE(MsiMode);
    EXPECT_FALSE(NoExplorer);
    EXPECT_TRUE(s.uninstall) << "the uninstall decision rests on the command line alone";

    s = Parse(L"x.exe", L"/S");
    EXPECT_TRUE(Silent);
    EXPECT_TRUE(s.uninstall);

    // A setup requested by the command line is not undone by the variable's call.
    s = Parse(L"x.exe /setup", L"/S /D=C:\\x");
    EXPECT_TRUE(s.setup);
    EXPECT_TRUE(Silent);
}

TEST_F(Switches, InitTextIsTheRestOfTheTokenCutAt39) {
    Parse(L"x.exe /initA1");
    EXPECT_STREQ(L"A1", InitSettingsText);
    InitSettingsText[0] = 0;
    Selection s = Parse(L"x.exe /init");
    EXPECT_STREQ(L"", InitSettingsText);
    EXPECT_FALSE(s.uninstall);

    Parse(L"x.exe \"/INITa1 b2\"");
    EXPECT_STREQ(L"a1 b2", InitSettingsText) << "quotes group, and the case of the text is kept";

    Parse(L"x.exe /init0123456789012345678901234567890123456789XYZ");
    EXPECT_EQ(39u, wcslen(InitSettingsText));
    EXPECT_STREQ(L"012345678901234567890123456789012345678", InitSettingsText);
}

TEST_F(Switches, MsiAndNoExplorerMatchTheirShortPrefixes) {
    Selection s = Parse(L"x.exe /MSI");
    EXPECT_TRUE(MsiMode);
    EXPECT_FALSE(s.uninstall);
    for (const wchar_t* line : {L"x.exe /noex", L"x.exe /noexplorer", L"x.exe -NoExit"}) {
        NoExplorer = false;
        Parse(line);
        EXPECT_TRUE(NoExplorer) << line;
    }
    NoExplorer = false;
    Parse(L"x.exe /noe");
    EXPECT_FALSE(NoExplorer);
}

TEST_F(Switches, KeywordsAreTriedInOrderAndTheFirstMatchWins) {
    // "/msinit" begins with "msi": it is the msi switch and carries no init text.
    Parse(L"x.exe /msinit9");
    EXPECT_TRUE(MsiMode);
    EXPECT_STREQ(L"", InitSettingsText);
}

int ThrowsMemoryExit(void*) {
    MemoryExit();
}
int ThrowsBadAlloc(void*) {
    throw std::bad_alloc();
}
int ReturnsSeven(void*) {
    return 7;
}

TEST(MemoryExitAtTheEntryPoint, EndsWithTheOutOfMemoryCodeInsteadOfTerminating) {
    EXPECT_EQ(MemoryExitCode, RunCatchingMemoryExit(ThrowsMemoryExit, nullptr));
    EXPECT_EQ(MemoryExitCode, RunCatchingMemoryExit(ThrowsBadAlloc, nullptr));
    EXPECT_EQ(7, RunCatchingMemoryExit(ReturnsSeven, nullptr));
    EXPECT_NE(0, MemoryExitCode) << "running out of memory must not look like success";
    EXPECT_NE(1, MemoryExitCode) << "1 means the user cancelled";
}
} // namespace
