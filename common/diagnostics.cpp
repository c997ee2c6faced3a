#include "common/diagnostics.h"

#include "common/paths.h"
#include "common/text.h"

namespace {
// The longest target is a file path; a registry target is shorter.
const size_t LineCapacity = PathCapacity + 256;

DiagnosticSink Sink = nullptr;
DiagnosticSink Log = nullptr;
} // namespace

void ReportFailure(const wchar_t* operation, const wchar_t* target, DWORD error) {
    wchar_t line[LineCapacity];
    // A cut target would name something else; the line then says what it could not hold.
    if (FormatText(line, L"Bundlo Uninstall: %s: %s: error %lu\n", operation, target,
                   static_cast<unsigned long>(error)) < 0)
        FormatText(line, L"Bundlo Uninstall: %s: (a name too long to show): error %lu\n", operation,
                   static_cast<unsigned long>(error));
    // Where no debugger listens (a deployment under SYSTEM), the log keeps the line.
    if (Log)
        Log(line);
    if (Sink)
        Sink(line);
    else
        OutputDebugStringW(line);
}

void PlugInDiagnosticLog(DiagnosticSink log) {
    Log = log;
}

DiagnosticSink OverrideDiagnosticSink(DiagnosticSink sink) {
    DiagnosticSink previous = Sink;
    Sink = sink;
    return previous;
}
