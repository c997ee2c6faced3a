// Linked into every test program. It plugs the settings store into the registry operations, as
// the program does at start-up; and it keeps the diagnostic lines quiet: the tests cause failures
// on purpose, thousands of them in the random cases, and each line sent to the debug output raises
// an exception, which costs milliseconds under Wine's emulated 32-bit half and now and then ends
// the process there. The lines a test asserts it captures itself (CapturedDiagnostics).
#include "common/diagnostics.h"
#include "common/settings.h"

namespace {
void Discard(const wchar_t*) {}
struct Quiet {
    Quiet() {
        OverrideDiagnosticSink(Discard);
        PlugInSettingsStore();
    }
} QuietFromTheStart;
} // namespace
