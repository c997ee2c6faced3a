// Failures an administrator can see: each one is a line in the debug output, which any
// debug-output viewer shows (under Wine 8, WINEDEBUG=warn+seh), and in the run's log when /log
// asked for one. This sits below everything that can fail, the log included, so it calls nobody
// back: the log plugs itself in (PlugInDiagnosticLog).
#pragma once
#include <windows.h>

// "Bundlo Uninstall: <operation>: <target>: error <code>". Called by the layer that made the
// failing call, once it knows the failure is real: a deletion of something already gone, or a
// refusal the program planned for, is no failure and is not reported.
void ReportFailure(const wchar_t* operation, const wchar_t* target, DWORD error);

// Where each line goes besides the debug output.
typedef void (*DiagnosticSink)(const wchar_t* line);

// The run's log, which plugs itself in when it is opened (OpenLog in common/log.h): from then on
// every line is handed to it too, whatever receives the debug output. Null unplugs it.
void PlugInDiagnosticLog(DiagnosticSink log);

// Test seam: a function that receives each line instead of the debug output (null puts the
// debug output back); returns the one it replaces. The log keeps getting the lines. Production
// code never sets it.
DiagnosticSink OverrideDiagnosticSink(DiagnosticSink sink);
