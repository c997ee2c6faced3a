// The language module "bdllng.dll" beside the program: copies of the test module whose string
// tables are rewritten at random through UpdateResource, whole and well formed or damaged
// (lengths that run past the block, blocks cut short, odd sizes, empty ones). Loaded by the
// real LoadLanguageModule, every numbered string read through LoadTextInto, LoadText and
// LoadUsableText stays within its capacity (a guard behind each buffer) and is terminated; a
// string of an undamaged block reads back exactly, cut to the capacity, and a missing or empty
// one gives the program's own text.
#include <windows.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "common/paths.h"
#include "common/text.h"
#include "lang/langfile.h"
#include "lang/localise.h"
#include "tests/fuzz/fuzz.h"

namespace {
using fuzz::Guarded;
using fuzz::Outcome;
using fuzz::Random;

std::wstring BaseModule, ModulePath;
const WORD ResourceLanguage = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
const unsigned FirstBlock = 5101 / 16 + 1, LastBlock = 5199 / 16 + 1;
size_t Damaged = 0, Whole = 0;

void Prepare() {
    BaseModule = L"Z:";
    for (const char* c = BDL_TEST_MODULES; *c; c++)
        BaseModule += *c == '/' ? L'\\' : wchar_t(static_cast<unsigned char>(*c));
    BaseModule += L"\\testlng.dll";
    ModulePath = fuzz::ModuleFolder() + L"\\bdllng.dll";
    Language.Clear(); // numbered strings come from the module, then the program
}

void Finish(Outcome& outcome) {
    UnloadLanguageModule();
    FUZZ_CHECK(outcome, DeleteFileW(ModulePath.c_str()) || !fuzz::PathExists(ModulePath),
               "the module could not be deleted after the run");
    fuzz::AddFigure("whole blocks", Whole);
    fuzz::AddFigure("damaged blocks", Damaged);
}

// One block of 16 strings: each a length and that many characters.
struct Block {
    std::vector<std::wstring> Strings; // empty when the block is damaged or missing
    std::string Bytes;
    bool Damaged = false;
    bool Missing = false;
};

std::wstring RandomString(Random& random) {
    std::wstring text;
    size_t length = random.OneIn(4)    ? 0
                    : random.OneIn(30) ? 1000 + random.Below(3000)
                                       : random.Below(40);
    for (size_t i = 0; i < length; i++) {
        switch (random.Below(6)) {
        case 0:
            text += wchar_t(1 + random.Below(0xFFFE));
            break;
        case 1:
            text += random.From(L"%s%d\\/:.. \t\r\n");
            break;
        case 2:
            text += random.OneIn(20) ? L'\0' : L'x';
            break;
        default:
            text += wchar_t(L'a' + random.Below(26));
            break;
        }
    }
    return text;
}

Block MakeBlock(Random& random) {
    Block block;
    if (random.OneIn(8)) {
        block.Missing = true; // no text in the block
        return block;
    }
    for (int i = 0; i < 16; i++)
        block.Strings.push_back(RandomString(random));
    for (const std::wstring& s : block.Strings) {
        WORD length = WORD(s.size());
        block.Bytes.append(reinterpret_cast<const char*>(&length), 2);
        block.Bytes.append(reinterpret_cast<const char*>(s.data()), s.size() * 2);
    }
    if (random.OneIn(3)) {
        block.Damaged = true;
        switch (random.Below(5)) {
        case 0: // a length that runs past the block
            if (block.Bytes.size() >= 2) {
                WORD huge = WORD(0x100 + random.Below(0xFF00));
                memcpy(&block.Bytes[0], &huge, 2);
            }
            break;
        case 1: // cut short, even inside a length
            block.Bytes.resize(random.Below(block.Bytes.size() + 1));
            break;
        case 2: // an odd size
            block.Bytes += char(random.Next());
            break;
        case 3: // random bytes
            block.Bytes.resize(random.Below(64));
            for (char& c : block.Bytes)
                c = char(random.Next());
            break;
        default: // every length large, the last one at the end
            for (size_t at = 0; at + 2 <= block.Bytes.size(); at += 2 + random.Below(40) * 2) {
                WORD length = WORD(random.Next());
                memcpy(&block.Bytes[at], &length, 2);
            }
            break;
        }
        block.Strings.clear();
    }
    return block;
}

// What LoadStringW gives for a string at a capacity: at most capacity - 1 characters, read as a
// C text (a zero inside ends it).
std::wstring AsRead(const std::wstring& text, size_t capacity) {
    std::wstring cut = text.substr(0, capacity - 1);
    return cut.substr(0, wcslen(cut.c_str()));
}

std::wstring OwnText(unsigned id) {
    wchar_t text[8192] = L"";
    LoadStringW(GetModuleHandleW(nullptr), id, text, 8192);
    return text;
}

bool NoDigit(const wchar_t* text) {
    return wcspbrk(text, L"0123456789") == nullptr;
}

void RunLanguageModule(Random& random, size_t, Outcome& outcome) {
    UnloadLanguageModule();
    if (!CopyFileW(BaseModule.c_str(), ModulePath.c_str(), FALSE)) {
        outcome.Fail("the test module %s could not be copied", fuzz::Narrow(BaseModule).c_str());
        return;
    }
    std::map<unsigned, Block> blocks;
    HANDLE update = BeginUpdateResourceW(ModulePath.c_str(), FALSE);
    if (!update) {
        outcome.Fail("BeginUpdateResource failed");
        return;
    }
    for (unsigned b = FirstBlock; b <= LastBlock; b++) {
        if (!random.Coin())
            continue;
        Block block = MakeBlock(random);
        // A block of one empty string holds no text at all. (Wine's UpdateResource neither
        // deletes a resource nor writes an empty one.)
        if (block.Bytes.empty())
            block.Bytes.assign(2, '\0');
        UpdateResourceW(update, RT_STRING, MAKEINTRESOURCEW(b), ResourceLanguage, &block.Bytes[0],
                        DWORD(block.Bytes.size()));
        (block.Damaged ? Damaged : Whole)++;
        outcome.Input += "block " + std::to_string(b) + (block.Missing ? " missing" : " ") +
                         (block.Missing ? "" : fuzz::Escape(block.Bytes, 1500)) + "; ";
        blocks[b] = block;
    }
    if (!EndUpdateResourceW(update, FALSE)) {
        outcome.Fail("EndUpdateResource failed");
        return;
    }
    LoadLanguageModule(GetModuleHandleW(nullptr));
    FUZZ_CHECK(outcome, IsLanguageModuleLoaded(), "the module was not loaded");

    for (unsigned id = 5096; id <= 5199; id++) {
        auto it = blocks.find(id / 16 + 1);
        bool known = it == blocks.end() || !it->second.Damaged;
        // A block left alone keeps the test module's strings.
        std::wstring module;
        if (it != blocks.end() && !it->second.Missing && !it->second.Damaged)
            module = it->second.Strings[id % 16];
        else if (it == blocks.end() && id == 5101)
            module = L"[module] Bundlo Setup";
        else if (it == blocks.end() && id == 5106)
            module = L"[module] Uninstall Bundlo";
        else if (it == blocks.end() && id == 5199)
            module = L"module-only string";
        size_t capacity = fuzz::CapacityAround(random, module.size());
        Guarded buffer(capacity);
        LoadTextInto(id, buffer.Data(), capacity);
        FUZZ_CHECK(outcome, buffer.GuardIntact(), "LoadTextInto %u wrote past its capacity %zu", id,
                   capacity);
        FUZZ_CHECK(outcome, buffer.Terminated(), "LoadTextInto %u left no terminator within %zu",
                   id, capacity);
        std::wstring ring = LoadText(id);
        FUZZ_CHECK(outcome, wcsnlen(ring.c_str(), TextRingCapacity) < TextRingCapacity,
                   "LoadText %u is longer than its ring", id);
        if (!known || !buffer.Terminated())
            continue;
        // A string the module gives is used as it stands, even empty after a zero; a length of 0
        // counts as missing and the program's own text is used.
        std::wstring want =
            !module.empty() ? AsRead(module, capacity) : AsRead(OwnText(id), capacity);
        FUZZ_CHECK(outcome, buffer.Text() == want, "LoadTextInto %u at %zu gave %s, expected %s",
                   id, capacity, fuzz::Escape(buffer.Text(), 120).c_str(),
                   fuzz::Escape(want, 120).c_str());
        std::wstring wantRing = !module.empty() ? AsRead(module, TextRingCapacity)
                                                : AsRead(OwnText(id), TextRingCapacity);
        FUZZ_CHECK(outcome, ring == wantRing, "LoadText %u gave %s, expected %s", id,
                   fuzz::Escape(ring, 120).c_str(), fuzz::Escape(wantRing, 120).c_str());
        // A translation that is cut or unusable gives way to the program's own text.
        Guarded usable(capacity);
        bool used = LoadUsableText(id, NoDigit, usable.Data(), capacity);
        std::wstring own = AsRead(OwnText(id), capacity);
        bool translationFits = want.size() + 1 < capacity && NoDigit(want.c_str());
        bool ownFits = !own.empty() && own.size() + 1 < capacity && NoDigit(own.c_str());
        std::wstring wantUsable = translationFits ? want : ownFits ? own : L"";
        FUZZ_CHECK(outcome, usable.GuardIntact(), "LoadUsableText %u wrote past %zu", id, capacity);
        FUZZ_CHECK(outcome, used == (translationFits || ownFits) && usable.Text() == wantUsable,
                   "LoadUsableText %u at %zu gave %d %s, expected %s", id, capacity, used,
                   fuzz::Escape(usable.Text(), 120).c_str(), fuzz::Escape(wantUsable, 120).c_str());
    }
    // The dialog of the module is still found; the others come from the program.
    FUZZ_CHECK(outcome, DialogInstance(L"DONEDLG") == ResourceInstance,
               "the module's completion dialog is not used");
    FUZZ_CHECK(outcome, DialogInstance(L"SETUPDLG") == OwnInstance,
               "a dialog the module lacks does not come from the program");
}

fuzz::Registration LanguageModuleCampaign({"langmodule",
                                           "bdllng.dll: string tables whole and damaged", 1500, 40,
                                           Prepare, RunLanguageModule, Finish});

} // namespace
