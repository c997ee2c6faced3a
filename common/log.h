// The run's log file (/log): what an administrator reads after an unattended run that nobody
// watched, as a distribution tool runs it under SYSTEM with no desktop and no debugger. UTF-8
// with a byte-order mark, one line per event after the time of day. Each line is handed to
// Windows and flushed as it is written, so that a run that is killed keeps what it wrote. A log
// that cannot be written changes nothing else about the run.
#pragma once
#include <stddef.h>

// The first line of every log of this program; an existing file is appended to only when it
// begins with it, so that no other file (a script that an elevated run must never extend, say)
// is ever written.
extern const wchar_t LogSignature[];

// A new name for a log in a temporary folder, from the date, the time and the process: the
// user's, or the system's (the Windows folder's "Temp") for a run with an administrator's rights,
// whose user's folder the unelevated side of that user can reach. False when it does not fit.
bool DefaultLogPath(bool systemFolder, wchar_t* path, size_t capacity);

// Opens the log at `path` (relative to the current folder): a new file, which takes the name
// only with its first line (WriteNewFile: never through a link, never over anything), or an
// existing plain file whose first line is LogSignature, at its end. No folder is created. False,
// with a diagnostic line, when there is no log. Plugs the log into the diagnostics
// (PlugInDiagnosticLog): every diagnostic line of an open log's run is in it too.
bool OpenLog(const wchar_t* path);
bool IsLogOpen();
// One line; line breaks inside the text become blanks. Nothing happens without a log. A line
// that cannot be written closes the log, with a diagnostic line.
void LogLine(const wchar_t* text);
// The same, printf-style ("%s" takes wide text). A line too long for its buffer is not cut: the
// log says that a line was left out.
void LogFormat(const wchar_t* format, ...);
void CloseLog();
