// Command lines, "sfxcmd" and /init texts through ParseSwitches and ApplyInitText, each compared
// with a reading of the same text written here from the README alone:
// the splitter (blanks, quotes, doubled quotes, the 1023-character cut), the silent switch, the
// keywords compared over their listed number of characters in any case, exactly /msi as the
// package's removal, /log and /log=<path> from either text, the /init text cut at 39 characters
// and its letters laid over a random record.
//
// The switch /wait is never generated in a form that matches: it sleeps two seconds. /warning
// is: without a display its message box fails at once.
#include <windows.h>
#include <string.h>

#include <string>
#include <vector>

#include "integration/choices.h"
#include "tests/fuzz/fuzz.h"
#include "uninstall/startup.h"

namespace {
using fuzz::Outcome;
using fuzz::Random;

// ---- the reference reading ----

const size_t TokenLimit = 1023; // characters a token keeps
const size_t InitLimit = 39;    // characters the /init text keeps

bool Blank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

std::vector<std::wstring> Tokens(const std::wstring& text) {
    std::vector<std::wstring> tokens;
    size_t i = 0;
    for (;;) {
        while (i < text.size() && Blank(text[i]))
            i++;
        if (i >= text.size())
            return tokens;
        std::wstring token;
        bool quoted = false;
        while (i < text.size() && (quoted || !Blank(text[i]))) {
            if (text[i] == L'"' && i + 1 < text.size() && text[i + 1] == L'"') {
                token += L'"';
                i += 2;
            } else if (text[i] == L'"') {
                quoted = !quoted;
                i++;
            } else {
                token += text[i++];
            }
        }
        tokens.push_back(token.substr(0, TokenLimit));
    }
}

wchar_t Upper(wchar_t c) {
    return c >= L'a' && c <= L'z' ? wchar_t(c - 32) : c;
}

bool Letter(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

// The first n characters of `name` are the keyword's, in any case.
bool Keyword(const std::wstring& name, const wchar_t* keyword, size_t n) {
    if (name.size() < n)
        return false;
    for (size_t i = 0; i < n; i++)
        if (Upper(name[i]) != Upper(keyword[i]))
            return false;
    return true;
}

// The whole name is the keyword, in any case.
bool Exactly(const std::wstring& name, const wchar_t* keyword) {
    return name.size() == wcslen(keyword) && Keyword(name, keyword, name.size());
}

struct Reading {
    bool Silent = false, Msi = false, NoExplorer = false, Usage = false, Warning = false;
    bool Setup = false, Uninstall = false, Wait = false, Log = false, LogCut = false;
    std::wstring Init, LogPath;
    bool InitSet = false;
};

void Read(bool fromEnvironment, const std::wstring& text, Reading& reading) {
    unsigned switches = 0;
    for (const std::wstring& token : Tokens(text)) {
        if (token.empty() || (token[0] != L'/' && token[0] != L'-'))
            continue;
        wchar_t second = token.size() > 1 ? token[1] : 0;
        wchar_t third = token.size() > 2 ? token[2] : 0;
        if (Upper(second) == L'S' && !Letter(third)) {
            reading.Silent = true;
            continue;
        }
        std::wstring name = token.substr(1);
        if (Exactly(name, L"log") || Keyword(name, L"log=", 4)) {
            reading.Log = true;
            reading.LogCut = token.size() >= TokenLimit;
            reading.LogPath = reading.LogCut || name.size() == 3 ? L"" : name.substr(4);
            continue;
        }
        if (!fromEnvironment && Exactly(name, L"msi")) {
            reading.Msi = true;
            continue;
        }
        switches++;
        if (fromEnvironment)
            continue;
        if (Keyword(name, L"setup", 5)) {
            reading.Setup = true;
        } else if (Keyword(name, L"msi", 3)) {
            reading.Msi = true;
        } else if (Keyword(name, L"init", 4)) {
            reading.Init = name.substr(4, InitLimit);
            reading.InitSet = true;
        } else if (Keyword(name, L"wait", 4)) {
            reading.Wait = true;
        } else if (Keyword(name, L"noex", 4)) {
            reading.NoExplorer = true;
        } else if (Keyword(name, L"warning", 7)) {
            reading.Warning = true;
        } else if (!name.empty() && name[0] == L'?') {
            reading.Usage = true;
        }
    }
    reading.Uninstall = !fromEnvironment && switches == 0;
}

void LayInit(const std::wstring& text, uint8_t* flags) {
    size_t p = 0;
    while (p + 1 < text.size()) {
        wchar_t letter = Upper(text[p]);
        if (letter == L'A') {
            size_t digits = 0;
            while (digits < 20 && p + 1 + digits < text.size() && text[p + 1 + digits] >= L'0' &&
                   text[p + 1 + digits] <= L'9') {
                flags[digits] = text[p + 1 + digits] == L'1';
                digits++;
            }
            p += 1 + digits;
            continue;
        }
        uint8_t on = text[p + 1] == L'1';
        switch (letter) {
        case L'C':
            flags[24] = on;
            break; // cascadedMenu
        case L'D':
            flags[20] = on;
            break; // linkDesktop
        case L'I':
            flags[25] = on;
            break; // menuIcons
        case L'M':
            flags[21] = on;
            break; // linkStartMenu
        case L'P':
            flags[22] = on;
            break; // linkProgramGroup
        case L'S':
            flags[23] = on;
            break; // shellExtension
        default:
            break;
        }
        p += 2;
    }
}

// ---- the generator ----

// Characters that look like or fold to the ASCII letters of the keywords, blanks of other kinds
// and marks that linguistic comparisons ignore.
const wchar_t Lookalikes[] = {
    0x017F, // long s, upper-cased to S
    0x0131, // dotless i
    0x0130, // I with dot
    0x212A, // Kelvin sign
    0xFF33, // fullwidth S
    0xFF53, // fullwidth s
    0x00AD, // soft hyphen
    0x200B, // zero-width space
    0x00A0, // no-break space
    0x3000, // ideographic space
    0x0301, // combining acute
    0xFB01, // fi ligature
    0x00DF, // sharp s
    0x0399, // Greek capital iota
    0x2010, // hyphen
    0x2215, // division slash
    0xD800, // a lone surrogate
};

const wchar_t* const Keywords[] = {
    L"setup", L"msi",  L"init", L"noexplorer", L"warning",      L"s",  L"?",  L"wai", L"set",
    L"noe",   L"warn", L"S1",   L"S-",         L"Sx",           L"s0", L"in", L"x",   L"",
    L"log",   L"log=", L"lo",   L"lg",         L"log=C:\\a.log"};

wchar_t RandomCase(Random& random, wchar_t c) {
    if (random.Coin() && c >= L'a' && c <= L'z')
        return wchar_t(c - 32);
    return c;
}

// An /init text: letters with values, digit runs, noise.
std::wstring InitText(Random& random) {
    std::wstring text;
    size_t pairs = random.Below(random.OneIn(8) ? 40 : 8);
    for (size_t i = 0; i < pairs; i++) {
        if (random.OneIn(4)) {
            text += random.From(L"Aa");
            for (size_t d = random.Below(26); d > 0; d--)
                text += random.From(L"0110123456789");
        } else {
            text += random.From(L"ACDIMPSacdimpsXz9?A");
            text += random.From(L"10101x-A");
        }
        if (random.OneIn(30))
            text += random.Pick(Lookalikes);
    }
    return text;
}

std::wstring Word(Random& random) {
    std::wstring word;
    size_t kind = random.Below(10);
    if (kind < 6) {
        const wchar_t* keyword = random.Pick(Keywords);
        for (const wchar_t* c = keyword; *c; c++)
            word += RandomCase(random, *c);
        if (random.OneIn(3))
            word += random.From(L"X1-0:=.aZ");
        if (random.OneIn(6) && !word.empty())
            word[random.Below(word.size())] = random.Pick(Lookalikes);
        if (random.OneIn(10))
            word.insert(random.Below(word.size() + 1), 1, random.Pick(Lookalikes));
    } else if (kind < 8) {
        word = (random.Coin() ? L"init" : L"INIT") + InitText(random);
    } else {
        for (size_t n = random.Below(12); n > 0; n--)
            word += random.OneIn(8) ? random.Pick(Lookalikes) : wchar_t(L'!' + random.Below(94));
    }
    return word;
}

std::wstring Token(Random& random) {
    std::wstring token;
    size_t kind = random.Below(10);
    if (kind < 7)
        token = std::wstring(1, random.From(L"/-/-/")) + Word(random);
    else if (kind < 8)
        token = Word(random); // not a switch
    else if (kind < 9)
        token = random.Coin() ? L"/" : L"-";
    else
        token = L"\"C:\\Program Files\\Bundlo\\Uninstall.exe\"";
    // Quotes anywhere: opening, closing, doubled, around blanks.
    if (random.OneIn(5)) {
        size_t quotes = 1 + random.Below(3);
        for (size_t q = 0; q < quotes; q++) {
            size_t at = random.Below(token.size() + 1);
            token.insert(at, random.OneIn(3) ? L"\"\"" : random.OneIn(2) ? L"\" \"" : L"\"");
        }
    }
    // Over-long tokens, cut at 1023 characters by the splitter.
    if (random.OneIn(40))
        token += std::wstring(1000 + random.Below(60), random.From(L"1Ax\""));
    return token;
}

std::wstring Line(Random& random, size_t maxTokens) {
    std::wstring line;
    size_t tokens = random.Below(maxTokens + 1);
    for (size_t i = 0; i < tokens; i++) {
        size_t blanks = 1 + random.Below(2);
        for (size_t b = 0; b < blanks; b++)
            line += random.OneIn(4) ? L'\t' : L' ';
        line += Token(random);
    }
    if (random.OneIn(3))
        line.erase(0, line.find_first_not_of(L" \t") == std::wstring::npos
                          ? line.size()
                          : line.find_first_not_of(L" \t"));
    return line;
}

void ResetFlags() {
    Silent = MsiMode = NoExplorer = UsageRequested = false;
    InitSettingsText[0] = 0;
    LogChoice = LogSwitch();
}

void RunSwitches(Random& random, size_t, Outcome& outcome) {
    std::wstring sfxcmd, commandLine;
    Reading expected;
    // The program's own path comes first, as GetCommandLineW gives it.
    for (int attempt = 0;; attempt++) {
        sfxcmd = random.OneIn(3) ? L"" : Line(random, 4);
        commandLine = (random.Coin() ? L"\"C:\\Program Files\\Bundlo\\Uninstall.exe\""
                                     : L"C:\\Bundlo\\Uninstall.exe") +
                      Line(random, 6);
        expected = Reading();
        Read(true, sfxcmd, expected);
        Read(false, commandLine, expected);
        if (!expected.Wait)
            break;
    }
    outcome.Input =
        "sfxcmd " + fuzz::Escape(sfxcmd) + ", command line " + fuzz::Escape(commandLine);

    ResetFlags();
    bool setup = false, uninstall = true;
    ParseSwitches(InstallerSwitches, sfxcmd.c_str(), setup, uninstall);
    FUZZ_CHECK(outcome, !uninstall, "the environment call asked for the removal");
    FUZZ_CHECK(outcome, !setup, "the environment call asked for the setup");
    ParseSwitches(CommandLineSwitches, commandLine.c_str(), setup, uninstall);

    FUZZ_CHECK(outcome, Silent == expected.Silent, "silent %d, expected %d", Silent,
               expected.Silent);
    FUZZ_CHECK(outcome, MsiMode == expected.Msi, "msi %d, expected %d", MsiMode, expected.Msi);
    FUZZ_CHECK(outcome, NoExplorer == expected.NoExplorer, "noexplorer %d, expected %d", NoExplorer,
               expected.NoExplorer);
    FUZZ_CHECK(outcome, UsageRequested == expected.Usage, "usage %d, expected %d", UsageRequested,
               expected.Usage);
    FUZZ_CHECK(outcome, setup == expected.Setup, "setup %d, expected %d", setup, expected.Setup);
    FUZZ_CHECK(outcome, uninstall == expected.Uninstall, "removal %d, expected %d", uninstall,
               expected.Uninstall);
    FUZZ_CHECK(outcome, LogChoice.Requested == expected.Log, "log %d, expected %d",
               LogChoice.Requested, expected.Log);
    FUZZ_CHECK(outcome, LogChoice.Cut == expected.LogCut, "log cut %d, expected %d", LogChoice.Cut,
               expected.LogCut);
    FUZZ_CHECK(outcome, LogChoice.Path == expected.LogPath, "log path %s, expected %s",
               fuzz::Escape(LogChoice.Path).c_str(), fuzz::Escape(expected.LogPath).c_str());
    std::wstring init = InitSettingsText;
    FUZZ_CHECK(outcome, init == expected.Init, "init text %s, expected %s",
               fuzz::Escape(init).c_str(), fuzz::Escape(expected.Init).c_str());
    FUZZ_CHECK(outcome, wcsnlen(InitSettingsText, InitSettingsCapacity) < InitSettingsCapacity,
               "the init text is not terminated within its capacity");

    // The init text as the setup dialog lays it over the stored choices: once as parsed, once as
    // a text of its own (the parser cuts at 39; ApplyInitText takes any length).
    for (int round = 0; round < 2; round++) {
        std::wstring text = round == 0 ? init : InitText(random);
        IntegrationSettings settings;
        uint8_t reference[sizeof settings];
        for (size_t i = 0; i < sizeof settings; i++)
            reference[i] = settings.Flag(i) = uint8_t(random.Below(2));
        ApplyInitText(text.c_str(), settings);
        LayInit(text, reference);
        if (round == 1)
            outcome.Input += ", init text " + fuzz::Escape(text);
        for (size_t i = 0; i < sizeof settings; i++)
            FUZZ_CHECK(outcome, settings.Flag(i) == reference[i],
                       "init text %s: flag %zu is %d, expected %d", fuzz::Escape(text).c_str(), i,
                       settings.Flag(i), reference[i]);
    }
    ResetFlags();
}

fuzz::Registration Switches({"switches",
                             "command lines, sfxcmd and /init texts against a reference", 60000,
                             2000, nullptr, RunSwitches, nullptr});

} // namespace
