// Failures an administrator can see: each one is a line in the debug output, which any
// debug-output viewer shows (under Wine 8, WINEDEBUG=warn+seh), and in the run's log when /log
// asked for one (common/log.h).
#pragma once
#include <windows.h>

// "Bundlo Uninstall: <operation>: <target>: error <code>". Called by the layer that made the
// failing call, once it knows the failure is real: a deletion of something already gone, or a
// refusal the program planned for, is no failure and is not reported.
void ReportFailure(const wchar_t* operation, const wchar_t* target, DWORD error);

// Test seam: a function that receives each line instead of the debug output (null puts the
// debug output back); returns the one it replaces. Production code never sets it.
typedef void (*DiagnosticSink)(const wchar_t* line);
DiagnosticSink OverrideDiagnosticSink(DiagnosticSink sink);
