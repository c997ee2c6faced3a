// The campaign runner: picks the campaign, makes and checks its inputs, reports failures with
// their replay command and ends with the summary line.
#include <windows.h>

#include <psapi.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "common/settings.h"
#include "tests/fuzz/fuzz.h"

namespace fuzz {
namespace {

std::vector<Campaign>& Campaigns() {
    static std::vector<Campaign> campaigns;
    return campaigns;
}

std::string& Figures() {
    static std::string figures;
    return figures;
}

// Where the run is, for the crash report.
const char* CurrentCampaign = "";
uint64_t CurrentSeed = 0;
size_t CurrentIndex = 0;
volatile bool InInput = false;
size_t ReportedFailures = 3; // FUZZ_REPORT=n shows more

// Input i's generator: a hash of the campaign's seed and the index, so that one input can be
// made again without the ones before it.
uint64_t InputSeed(uint64_t seed, size_t index) {
    Random mix(seed ^ (uint64_t(index) * 0xD1B54A32D192ED03ull));
    mix.Next();
    return mix.Next();
}

void ReportCrash(const char* what) {
    if (InInput)
        fprintf(stdout,
                "CRASH %s seed %llu input %zu: %s\n  replay: fuzz.exe %s --seed %llu --input %zu\n",
                CurrentCampaign, (unsigned long long)CurrentSeed, CurrentIndex, what,
                CurrentCampaign, (unsigned long long)CurrentSeed, CurrentIndex);
    else
        fprintf(stdout, "CRASH %s seed %llu outside an input: %s\n", CurrentCampaign,
                (unsigned long long)CurrentSeed, what);
    fflush(stdout);
}

LONG WINAPI UnhandledException(EXCEPTION_POINTERS* pointers) {
    char what[64];
    snprintf(what, sizeof what, "exception 0x%08lx",
             pointers ? pointers->ExceptionRecord->ExceptionCode : 0ul);
    ReportCrash(what);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

void Aborted(int) {
    ReportCrash("abort (a stack overrun caught by the stack protector ends here too)");
    TerminateProcess(GetCurrentProcess(), 3);
}

double Seconds(LARGE_INTEGER start) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return double(now.QuadPart - start.QuadPart) / double(frequency.QuadPart);
}

void Usage() {
    printf("usage: fuzz.exe <campaign> [--seed N] [--count N | --slice | --input I] "
           "[--shard K/N]\n");
    for (const Campaign& c : Campaigns())
        printf("  %-10s %s (%zu inputs; slice %zu)\n", c.Name, c.What, c.FullCount, c.SliceCount);
}

void PrintFailure(const Campaign& campaign, uint64_t seed, size_t index, const Outcome& outcome) {
    printf("FAIL %s seed %llu input %zu: %s\n", campaign.Name, (unsigned long long)seed, index,
           outcome.Failures[0].c_str());
    for (size_t i = 1; i < outcome.Failures.size() && i < 8; i++)
        printf("  also: %s\n", outcome.Failures[i].c_str());
    if (outcome.Failures.size() > 8)
        printf("  ... %zu failures in all\n", outcome.Failures.size());
    printf("  input: %s\n", outcome.Input.c_str());
    printf("  replay: fuzz.exe %s --seed %llu --input %zu\n", campaign.Name,
           (unsigned long long)seed, index);
    fflush(stdout);
}

} // namespace

void Outcome::Fail(const char* format, ...) {
    char text[2048];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    Failures.push_back(text);
}

Registration::Registration(const Campaign& campaign) {
    Campaigns().push_back(campaign);
}

void AddFigure(const char* name, uint64_t value) {
    char text[128];
    snprintf(text, sizeof text, ", %s %llu", name, (unsigned long long)value);
    Figures() += text;
}

} // namespace fuzz

int main(int argc, char** argv) {
    PlugInSettingsStore();
    using namespace fuzz;
    if (argc < 2) {
        Usage();
        return 2;
    }
    if (strcmp(argv[1], "removal-child") == 0 && argc == 3)
        return RemovalChild(strtol(argv[2], nullptr, 10));
    const Campaign* campaign = nullptr;
    for (const Campaign& c : Campaigns())
        if (strcmp(c.Name, argv[1]) == 0)
            campaign = &c;
    if (!campaign) {
        Usage();
        return 2;
    }
    uint64_t seed = 0;
    bool seeded = false;
    size_t first = 0, count = campaign->FullCount;
    bool single = false, counted = false;
    size_t shard = 0, shards = 1;
    for (int i = 2; i < argc; i++) {
        if (strcmp(argv[i], "--seed") == 0 && i + 1 < argc) {
            seed = strtoull(argv[++i], nullptr, 10);
            seeded = true;
        } else if (strcmp(argv[i], "--count") == 0 && i + 1 < argc) {
            count = size_t(strtoull(argv[++i], nullptr, 10));
            counted = true;
        } else if (strcmp(argv[i], "--shard") == 0 && i + 1 < argc) {
            // The inputs whose number leaves K when divided by N: N processes, each in a prefix
            // of its own, share a long campaign.
            if (sscanf(argv[++i], "%zu/%zu", &shard, &shards) != 2 || shard >= shards) {
                Usage();
                return 2;
            }
        } else if (strcmp(argv[i], "--slice") == 0) {
            count = campaign->SliceCount;
            counted = true;
        } else if (strcmp(argv[i], "--input") == 0 && i + 1 < argc) {
            first = size_t(strtoull(argv[++i], nullptr, 10));
            count = 1;
            single = true;
        } else {
            Usage();
            return 2;
        }
    }
    if (const char* report = getenv("FUZZ_REPORT"))
        ReportedFailures = size_t(strtoull(report, nullptr, 10));
    if (!seeded) {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        seed = uint64_t(now.QuadPart ^ (uint64_t(GetCurrentProcessId()) << 32)) % 1000000000000ull;
    }
    CurrentCampaign = campaign->Name;
    CurrentSeed = seed;
    // FUZZ_DEBUGGER=1 leaves a crash to Wine's debugger, which prints a backtrace.
    if (!getenv("FUZZ_DEBUGGER"))
        SetUnhandledExceptionFilter(UnhandledException);
    signal(SIGABRT, Aborted);
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);

    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    if (campaign->Prepare)
        campaign->Prepare();
    // A fixed set of inputs is taken whole, or spread evenly when fewer are asked for.
    size_t stride = 1;
    if (campaign->Inputs && !single) {
        size_t total = campaign->Inputs();
        if (!counted || count >= total || count == 0)
            count = total;
        else
            stride = total / count;
    }
    size_t failures = 0;
    // FUZZ_TRACE=1 names each input before it runs: the one that hangs is the last named.
    bool trace = getenv("FUZZ_TRACE") != nullptr;
    size_t tried = 0;
    for (size_t n = 0; n < count; n++) {
        size_t index = first + n * stride;
        if (index % shards != shard)
            continue;
        tried++;
        Random random(InputSeed(seed, index));
        Outcome outcome;
        CurrentIndex = index;
        if (trace) {
            // With the memory the process has committed, so that a leak shows as a climb.
            PROCESS_MEMORY_COUNTERS memory = {};
            K32GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
            fprintf(stderr, "input %zu (%zu KiB committed)\n", index,
                    size_t(memory.PagefileUsage / 1024));
            fflush(stderr);
        }
        InInput = true;
        campaign->Run(random, index, outcome);
        InInput = false;
        if (outcome.Failed() && ++failures <= ReportedFailures)
            PrintFailure(*campaign, seed, index, outcome);
    }
    Outcome final;
    if (campaign->Finish)
        campaign->Finish(final);
    if (final.Failed()) {
        failures++;
        printf("FAIL %s seed %llu after the last input: %s\n", campaign->Name,
               (unsigned long long)seed, final.Failures[0].c_str());
        for (size_t i = 1; i < final.Failures.size() && i < 8; i++)
            printf("  also: %s\n", final.Failures[i].c_str());
    }
    char part[48] = "";
    if (shards > 1)
        snprintf(part, sizeof part, ", shard %zu/%zu", shard, shards);
    printf("%s: %zu inputs, %zu failures, %.1f s (seed %llu%s%s)\n", campaign->Name, tried,
           failures, Seconds(start), (unsigned long long)seed, part, Figures().c_str());
    fflush(stdout);
    return failures == 0 ? 0 : 1;
}
