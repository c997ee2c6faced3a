// Linked into every test program: the tests cause failures on purpose, thousands of them in the
// random cases, and each line sent to the debug output raises an exception, which costs
// milliseconds under Wine's emulated 32-bit half and now and then ends the process there. The
// lines a test asserts it captures itself (CapturedDiagnostics).
#include "common/diagnostics.h"

namespace {
void Discard(const wchar_t*) {}
struct Quiet {
    Quiet() { OverrideDiagnosticSink(Discard); }
} QuietFromTheStart;
} // namespace
