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
        LogChoice = LogSwitch();
    }

    // The two calls of start-up: the installer's variable first, then the command line.
    static Selection Parse(const wchar_t* commandLine, const wchar_t* sfxcmd = L"") {
        Selection s = {false, true};
        ParseSwitches(InstallerSwitches, sfxcmd, s.setup, s.uninstall);
        EXPECT_FALSE(s.uninstall) << "the variable alone never selects the uninstall";
        ParseSwitches(CommandLineSwitches, commandLine, s.setup, s.uninstall);
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

// Each keyword in capitals, small letters and mixed: compared ordinally, whatever the user's
// language says about letters (a Turkish capital I, a soft hyphen that linguistic comparisons
// skip). Exactly /msi is an installer package's removal; /log selects no flow of its own.
TEST_F(Switches, KeywordsInEveryCaseAndOnlyTheirExactLetters) {
    struct Row {
        const wchar_t* Line;
        bool Setup, Uninstall, Msi, NoExplorer, Log;
        const wchar_t* Init;
        const wchar_t* LogPath;
    } rows[] = {
        {L"x /setup", 1, 0, 0, 0, 0, L"", L""},
        {L"x /SETUP /INITa1", 1, 0, 0, 0, 0, L"a1", L""},
        {L"x -SeTuP /iNiTD0", 1, 0, 0, 0, 0, L"D0", L""},
        {L"x /msi", 0, 1, 1, 0, 0, L"", L""},
        {L"x /MSI /S", 0, 1, 1, 0, 0, L"", L""},
        {L"x /setup /mSi", 1, 0, 1, 0, 0, L"", L""},
        {L"x /MSIX /S", 0, 0, 1, 0, 0, L"", L""},
        {L"x /ms\u00ADi", 0, 0, 0, 0, 0, L"", L""},
        {L"x /NOEXPLORER", 0, 0, 0, 1, 0, L"", L""},
        {L"x -NoExit", 0, 0, 0, 1, 0, L"", L""},
        {L"x /log", 0, 1, 0, 0, 1, L"", L""},
        {L"x /S /LOG=C:\\Logs\\a.log", 0, 1, 0, 0, 1, L"", L"C:\\Logs\\a.log"},
        {L"x /setup \"/Log=C:\\My Logs\\b.log\"", 1, 0, 0, 0, 1, L"", L"C:\\My Logs\\b.log"},
        {L"x /logfile", 0, 0, 0, 0, 0, L"", L""},
        {L"x /lo\u00ADg", 0, 0, 0, 0, 0, L"", L""},
    };
    for (const Row& row : rows) {
        SetUp();
        Selection s = Parse(row.Line);
        EXPECT_EQ(row.Setup, s.setup) << row.Line;
        EXPECT_EQ(row.Uninstall, s.uninstall) << row.Line;
        EXPECT_EQ(row.Msi, MsiMode) << row.Line;
        EXPECT_EQ(row.NoExplorer, NoExplorer) << row.Line;
        EXPECT_EQ(row.Log, LogChoice.Requested) << row.Line;
        EXPECT_STREQ(row.Init, InitSettingsText) << row.Line;
        EXPECT_STREQ(row.LogPath, LogChoice.Path) << row.Line;
    }
    // The installer passes its /log on, and the command line's wins.
    SetUp();
    Parse(L"x /setup", L"/S /log=C:\\a.log");
    EXPECT_TRUE(Silent && LogChoice.Requested);
    EXPECT_STREQ(L"C:\\a.log", LogChoice.Path);
    Parse(L"x /log=C:\\b.log", L"/log=C:\\a.log");
    EXPECT_STREQ(L"C:\\b.log", LogChoice.Path);
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
