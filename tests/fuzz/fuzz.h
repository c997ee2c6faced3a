// The campaigns of `make fuzz`: many generated inputs through the program's real code, each
// checked against properties the program promises (not only that nothing crashed). One
// executable per build runs one campaign per start:
//
//     fuzz.exe <campaign> [--seed N] [--count N | --input I]
//
// Input i of a campaign is made from (seed, i) alone, so `--seed N --input I` replays exactly the
// input that failed. The last line of output is the campaign's summary; a failure prints its
// seed, its input and the replay command first, and the exit code is 1.
#pragma once
#include <windows.h>
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

namespace fuzz {

// splitmix64: small, fast, and the same on both builds (no standard distribution is used).
class Random {
  public:
    explicit Random(uint64_t seed) : State(seed) {}
    uint64_t Next() {
        uint64_t z = (State += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // 0 .. n-1; n > 0.
    size_t Below(size_t n) { return size_t(Next() % n); }
    bool OneIn(size_t n) { return Below(n) == 0; }
    bool Coin() { return (Next() & 1) != 0; }
    template <typename T, size_t N> const T& Pick(const T (&items)[N]) { return items[Below(N)]; }
    // One character of a string literal, never its terminator.
    template <typename C, size_t N> C From(const C (&text)[N]) { return text[Below(N - 1)]; }

  private:
    uint64_t State;
};

// What one input did wrong, and what the input was, for the report. A campaign fills Input as it
// builds the input (a readable form: escaped text, a list of steps) and calls Fail for each
// property that does not hold; the first message is the one reported.
struct Outcome {
    std::string Input;
    std::vector<std::string> Failures;
    void Fail(const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));
    bool Failed() const { return !Failures.empty(); }
};

// One campaign: its name, the number of inputs of `make fuzz` and of the `make test` slice, and
// the function that makes and checks input `index` from its generator.
struct Campaign {
    const char* Name;
    const char* What; // one line for the help text
    size_t FullCount;
    size_t SliceCount;
    void (*Prepare)(); // once before the first input (may be null)
    void (*Run)(Random& random, size_t index, Outcome& outcome);
    void (*Finish)(Outcome& outcome); // once after the last input (may be null): final checks
    // For a campaign with a fixed set of inputs (every k of the fault injection), their number,
    // known after Prepare; FullCount is then ignored and a smaller count spreads its inputs
    // evenly over the set. Null for generated inputs.
    size_t (*Inputs)() = nullptr;
};

// The cuts campaign's child: a silent removal of the folder this program lies in, ended before
// its file change `cutAt` (none when negative). Its exit code, when not cut: the number of
// changes above the removal's own code.
int RemovalChild(long cutAt);

// Each campaign's file defines one of these and registers it.
struct Registration {
    explicit Registration(const Campaign& campaign);
};

// Extra figures a campaign prints on its summary line ("injections 1234", say).
void AddFigure(const char* name, uint64_t value);

// Text helpers for the report: bytes and wide texts as escaped ASCII.
std::string Escape(const std::string& bytes, size_t limit = 4096);
std::string Escape(const std::wstring& text, size_t limit = 4096);
std::string Narrow(const std::wstring& text); // plain ASCII (others as \uXXXX), for messages

// The folder of the running fuzz executable, without a trailing backslash.
std::wstring ModuleFolder();
// A fresh folder of the prefix's temporary folder, for one campaign run; removed by RemoveTree.
std::wstring MakeScratchFolder(const wchar_t* tag);
void RemoveTree(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool ReadFileBytes(const std::wstring& path, std::string& bytes);
bool PathExists(const std::wstring& path);

// An output buffer of a given capacity with a guard behind it: a lookup that writes past its
// capacity changes the guard.
class Guarded {
  public:
    explicit Guarded(size_t capacity)
        : Capacity(capacity), Buffer(capacity + GuardLength, Pattern) {}
    wchar_t* Data() { return Buffer.data(); }
    size_t Size() const { return Capacity; }
    bool GuardIntact() const {
        for (size_t i = Capacity; i < Buffer.size(); i++)
            if (Buffer[i] != Pattern)
                return false;
        return true;
    }
    // Terminated within the capacity (a capacity of 0 has nothing to terminate).
    bool Terminated() const {
        if (Capacity == 0)
            return true;
        for (size_t i = 0; i < Capacity; i++)
            if (Buffer[i] == 0)
                return true;
        return false;
    }
    std::wstring Text() const { return Capacity == 0 ? L"" : std::wstring(Buffer.data()); }

  private:
    static constexpr size_t GuardLength = 16;
    static constexpr wchar_t Pattern = 0xFDFD;
    size_t Capacity;
    std::vector<wchar_t> Buffer;
};

// A capacity near the length of a text, or far from it: where cuts go wrong. Never 0.
inline size_t CapacityAround(Random& random, size_t length) {
    switch (random.Below(8)) {
    case 0:
        return 1;
    case 1:
        return length > 0 ? length : 1;
    case 2:
        return length + 1;
    case 3:
        return length + 2;
    case 4:
        return length > 1 ? length - 1 : 1;
    case 5:
        return 1 + random.Below(8);
    case 6:
        return 1 + random.Below(2 * length + 2);
    default:
        return 1024;
    }
}

} // namespace fuzz

#define FUZZ_CHECK(outcome, condition, ...)                                                        \
    do {                                                                                           \
        if (!(condition))                                                                          \
            (outcome).Fail(__VA_ARGS__);                                                           \
    } while (0)
