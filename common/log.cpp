#include "common/log.h"

#include <windows.h>
#include <stdarg.h>
#include <string.h>

#include "common/array.h"
#include "common/diagnostics.h"
#include "common/file.h"
#include "common/files.h"
#include "common/paths.h"
#include "common/system.h"
#include "common/text.h"

const wchar_t LogSignature[] = L"Bundlo Uninstall log";

namespace {

const char ByteOrderMark[] = "\xEF\xBB\xBF";
// Room for a few paths and the words around them.
const size_t FormatCapacity = 3 * PathCapacity + 256;

File Log;
bool Open = false;

bool WriteBytes(const char* bytes, size_t count) {
    return Log.Write(bytes, uint32_t(count)) && Log.Flush();
}

// The signature as the file's first line, byte-order mark included.
void SignatureLine(Array<char>& bytes) {
    Array<char> text;
    ToUtf8(LogSignature, text);
    bytes.Resize(0);
    for (const char* c = ByteOrderMark; *c; ++c)
        bytes.Append(*c);
    for (uint32_t i = 0; i < text.Count; ++i)
        bytes.Append(text[i]);
    bytes.Append('\r');
    bytes.Append('\n');
}

// Whether an existing file begins with the signature line.
bool BeginsWithSignature(File& file, const Array<char>& signature) {
    Array<char> first(signature.Count);
    file.Seek(0, FILE_BEGIN);
    int32_t read = file.Read(first.Data, int32_t(first.Count));
    return read == int32_t(signature.Count) && memcmp(first.Data, signature.Data, read) == 0;
}

// Stops logging after a failed write, and says so where the rest of the diagnostics go.
void Abandon(const wchar_t* operation) {
    DWORD error = GetLastError();
    wchar_t name[PathCapacity];
    CopyText(name, Log.FileName);
    Open = false;
    Log.Close();
    ReportFailure(operation, name, error);
}

} // namespace

bool DefaultLogPath(bool systemFolder, wchar_t* path, size_t capacity) {
    if (capacity > 0)
        path[0] = 0;
    wchar_t folder[PathCapacity];
    if (!GetTemporaryFolder(systemFolder, folder))
        return false;
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t name[64];
    if (FormatText(name, L"Bundlo-Uninstall-%04u%02u%02u-%02u%02u%02u-%lu.log", now.wYear,
                   now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                   static_cast<unsigned long>(GetCurrentProcessId())) >= 0)
        return JoinPath(folder, name, path, capacity);
    if (capacity > 0)
        path[0] = 0;
    return false;
}

bool OpenLog(const wchar_t* path) {
    // Any program that keeps a log keeps its failures in it, with nothing to remember at its
    // start; while no log is open LogLine drops them, as it drops every line.
    PlugInDiagnosticLog(LogLine);
    CloseLog();
    wchar_t full[PathCapacity];
    DWORD length = GetFullPathNameW(path, PathCapacity, full, nullptr);
    if (path[0] == 0 || length == 0 || length >= PathCapacity) {
        ReportFailure(L"open the log", path[0] != 0 ? path : L"(no name)", ERROR_INVALID_NAME);
        return false;
    }
    Array<char> signature;
    SignatureLine(signature);
    // The file appears with its first line: a run cut short in between would leave an empty file
    // that every later run with this path refuses as not its log.
    bool made = WriteNewFile(full, signature.Data, signature.Count);
    DWORD error = GetLastError();
    if (!made && error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
        ReportFailure(L"create the log", full, error);
        return false;
    }
    // The log just made, or an earlier run's, which goes on; anything else that has the name is
    // not ours to write.
    if (!Log.OpenPlainForWriting(full)) {
        ReportFailure(L"open the log", full, GetLastError());
        return false;
    }
    if (!BeginsWithSignature(Log, signature)) {
        Log.Close();
        ReportFailure(L"open the log (a file that is not this program's log)", full,
                      ERROR_FILE_EXISTS);
        return false;
    }
    Log.Seek(0, FILE_END);
    Open = true;
    if (!made && !WriteBytes("\r\n", 2)) // a blank line between the runs
        Abandon(L"write the log");
    return Open;
}

bool IsLogOpen() {
    return Open;
}

void LogLine(const wchar_t* text) {
    if (!Open)
        return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    char time[16];
    FormatNarrowText(time, sizeof time, "%02u:%02u:%02u ", now.wHour, now.wMinute, now.wSecond);
    Array<char> words;
    if (!ToUtf8(text, words))
        ToUtf8(L"(a line that could not be converted)", words);
    // One event, one line: a break inside a text would start what looks like another event.
    uint32_t length = words.Count;
    while (length > 0 && (words[length - 1] == '\n' || words[length - 1] == '\r'))
        --length;
    Array<char> line;
    for (const char* c = time; *c; ++c)
        line.Append(*c);
    for (uint32_t i = 0; i < length; ++i)
        line.Append(words[i] == '\r' || words[i] == '\n' ? ' ' : words[i]);
    line.Append('\r');
    line.Append('\n');
    if (!WriteBytes(line.Data, line.Count))
        Abandon(L"write the log");
}

void LogFormat(const wchar_t* format, ...) {
    if (!Open)
        return;
    Array<wchar_t> line(FormatCapacity);
    va_list args;
    va_start(args, format);
    int written = FormatTextV(line.Data, line.Count, format, args);
    va_end(args);
    LogLine(written >= 0 ? line.Data : L"(a line too long for the log was left out)");
}

void CloseLog() {
    Open = false;
    Log.Close();
}
