#include "uninstall/batch_file.h"

#include <windows.h>
#include <stdarg.h>
#include <string.h>
#include <wchar.h>

#include <memory>
#include <new>

#include "common/diagnostics.h"
#include "common/files.h"
#include "common/paths.h"
#include "common/system.h"
#include "common/text.h"

decltype(&CreateProcessW) CreateProcessOverride = nullptr;
BatchCodePages BatchCodePagesOverride = {0, 0};

namespace {

const wchar_t BatchName[] = L"Uninstall_Bdl.Bat"; // in a private folder of its own
// In a batch folder from its making until its batch file starts, which deletes it first thing.
const wchar_t PendingName[] = L"Pending";
const int DeletionTries = 5;
const int BatchFolderTries = 1000;
// A path in the batch file may have every character doubled ('%'); a line holds three of them.
const size_t BatchPathCapacity = 2 * PathCapacity;
const size_t BatchLineCapacity = 3 * BatchPathCapacity + 64;
const size_t CommandCapacity = 2 * PathCapacity + 32;

// True when the text, written in the ANSI code page, reads back unchanged in the OEM code page
// in which the command interpreter reads a batch file.
bool ReadsBackUnchanged(const wchar_t* text) {
    const wchar_t* c = text;
    while (*c != 0 && *c < 0x80)
        ++c;
    if (*c == 0)
        return true; // plain ASCII is the same in every code page
    UINT ansi = BatchCodePagesOverride.Ansi != 0 ? BatchCodePagesOverride.Ansi : CP_ACP;
    UINT oem = BatchCodePagesOverride.Oem != 0 ? BatchCodePagesOverride.Oem : CP_OEMCP;
    const int narrowCapacity = int(4 * PathCapacity);
    char narrow[narrowCapacity];
    // No "default character used" flag: Windows refuses the call with one when the code page is
    // UTF-8 (the "worldwide language support" option). The round trip decides instead, and
    // more strictly: a character the ANSI code page lacks, or writes as a look-alike, does not
    // come back as itself.
    if (WideCharToMultiByte(ansi, 0, text, -1, narrow, narrowCapacity, nullptr, nullptr) == 0)
        return false;
    wchar_t back[PathCapacity];
    if (MultiByteToWideChar(oem, 0, narrow, -1, back, int(PathCapacity)) == 0)
        return false;
    return wcscmp(back, text) == 0;
}

// Formats one group of lines and writes it; a group that did not fit is left out whole.
void WriteFormatted(File& file, const wchar_t* format, ...) {
    wchar_t line[BatchLineCapacity];
    va_list args;
    va_start(args, format);
    int written = FormatTextV(line, BatchLineCapacity, format, args);
    va_end(args);
    if (written >= 0)
        WriteBatchLine(file, line);
}

// Only the names MakePrivateFolder gives: "Bdl-" and hexadecimal digits.
bool IsOwnBatchFolderName(const wchar_t* name) {
    return wcsncmp(name, L"Bdl-", 4) == 0 &&
           wcsspn(name + 4, L"0123456789abcdef") == wcslen(name + 4);
}

// What a removal cut short between making its batch folder and starting its batch file left:
// a folder still marked pending, or without its batch file. One whose batch file has started
// has lost its mark and is the batch's own to remove. No other run makes one meanwhile: they
// are made only under the lock this run holds.
void RemoveUnstartedBatchFolders(const wchar_t* temporary) {
    wchar_t mask[PathCapacity];
    if (!JoinPath(temporary, L"Bdl-*", mask))
        return;
    DirScan scan;
    scan.SetMask(mask);
    ScanEntry entry;
    while (scan.Next(&entry)) {
        wchar_t pending[PathCapacity];
        wchar_t batch[PathCapacity];
        if (!entry.IsDirectory || entry.IsReparsePoint ||
            !IsOwnBatchFolderName(NamePart(entry.Name)) ||
            !JoinPath(entry.Name, PendingName, pending) || !JoinPath(entry.Name, BatchName, batch))
            continue;
        if (FileExists(pending) || !FileExists(batch))
            DeleteFolderTree(entry.Name);
    }
}

} // namespace

void WriteBatchLine(File& file, const wchar_t* text) {
    // Sized for the text as it is: a double-byte or UTF-8 code page needs more than one byte for
    // a character.
    int bytes = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return;
    std::unique_ptr<char[]> narrow(new (std::nothrow) char[size_t(bytes)]);
    if (!narrow || !ToNarrow(text, narrow.get(), size_t(bytes)))
        return;
    file.Write(narrow.get(), uint32_t(strlen(narrow.get())));
}

bool BatchPathText(const wchar_t* path, wchar_t* text, size_t capacity) {
    if (capacity == 0)
        return false;
    text[0] = 0;
    const wchar_t* chosen = path;
    wchar_t shortPath[PathCapacity];
    if (!ReadsBackUnchanged(path)) {
        if (!GetShortPath(path, shortPath) || !ReadsBackUnchanged(shortPath))
            return false;
        chosen = shortPath;
    }
    size_t out = 0;
    for (const wchar_t* c = chosen; *c != 0; ++c) {
        size_t needed = *c == L'%' ? 2 : 1;
        if (out + needed >= capacity) {
            text[0] = 0; // a cut path would name another file
            return false;
        }
        text[out++] = *c;
        if (*c == L'%')
            text[out++] = L'%';
    }
    text[out] = 0;
    return true;
}

bool LeaveProgramToBatch(const wchar_t* programPath, const wchar_t* folder) {
    wchar_t text[BatchPathCapacity];
    return BatchPathText(programPath, text, BatchPathCapacity) &&
           BatchPathText(folder, text, BatchPathCapacity);
}

bool CreateBatchFile(File& file, bool elevated, wchar_t* folder, size_t capacity) {
    folder[0] = 0;
    wchar_t temporary[PathCapacity];
    if (!GetTemporaryFolder(elevated, temporary))
        return false;
    RemoveUnstartedBatchFolders(temporary);
    if (!MakePrivateFolder(temporary, elevated, folder, capacity))
        return false;
    wchar_t path[PathCapacity];
    File pending;
    if (JoinPath(folder, PendingName, path) && pending.Create(path, File::CreateNewOnly) &&
        pending.Close() && JoinPath(folder, BatchName, path) &&
        file.Create(path, File::CreateNewOnly))
        return true;
    // The folder is this run's own, with its mark in it.
    DeleteFolderTree(folder);
    folder[0] = 0;
    return false;
}

bool WriteUninstallBatch(File& file, const wchar_t* beside, const wchar_t* folder,
                         const wchar_t* batchFolder, const ProcessStamp& removal, bool warning) {
    wchar_t besideText[BatchPathCapacity];
    wchar_t besideName[BatchPathCapacity];
    wchar_t folderText[BatchPathCapacity];
    wchar_t batch[BatchPathCapacity];
    // The free name has no short form yet: it is spelled in the folder as the batch spells that.
    if (!BatchPathText(folder, folderText, BatchPathCapacity) ||
        !BatchPathText(NamePart(beside), besideName, BatchPathCapacity) ||
        FormatText(besideText, BatchPathCapacity,
                   IsSlash(folderText[wcslen(folderText) - 1]) ? L"%s%s" : L"%s\\%s", folderText,
                   besideName) < 0)
        return false;
    // A temporary folder that cannot be spelled is left to the interpreter, which knows the
    // batch file's own folder exactly.
    if (!BatchPathText(batchFolder, batch, BatchPathCapacity))
        CopyText(batch, L"%~dp0.");
    // Out of the batch's folder first: every program the batch starts would keep it from being
    // removed while it runs. The program's copy started here waits until the removal has ended,
    // and with it the program moved into this folder.
    WriteFormatted(file, L"del \"%s\\%s\"\r\ncd \\\r\n\"%s\\%s\" /wait=%lu:%08lx%08lx\r\n", batch,
                   PendingName, batch, WaiterName, static_cast<unsigned long>(removal.Id),
                   static_cast<unsigned long>(removal.Started >> 32),
                   static_cast<unsigned long>(removal.Started & 0xffffffffu));
    WriteFormatted(file, L"del /f /q \"%s\\%s\"\r\nif exist \"%s\\%s\" rd \"%s\"\r\n", batch,
                   MovedName, batch, FolderMarkName, folderText);
    // Where the batch's folder lies on another volume the program waits beside itself, under a
    // name nobody could know, and its folder goes with it only when nothing else is there: a
    // later installation may have taken the folder since.
    WriteFormatted(file, L"if not exist \"%s\" goto done\r\n", besideText);
    for (int i = 0; i < DeletionTries; ++i)
        WriteFormatted(file, L"del /f /q \"%s\"\r\nif not exist \"%s\" goto gone\r\n", besideText,
                       besideText);
    if (warning)
        WriteFormatted(file, L"\"%s\" /warning\r\n", besideText);
    WriteFormatted(file, L"goto done\r\n:gone\r\nrd \"%s\"\r\n:done\r\n", folderText);
    // Some interpreters keep the batch file open while they run it, and no folder goes while a
    // file in it is open: a second interpreter, started last, removes the batch and its folder,
    // trying again until this one has let go. It reads the folder from its environment: a "%" in
    // the name, doubled here for this interpreter, must not be expanded again by the next one.
    wchar_t system[PathCapacity];
    wchar_t systemText[BatchPathCapacity];
    if (!GetSystemFolder(system) || !BatchPathText(system, systemText, BatchPathCapacity))
        return false;
    WriteFormatted(file, L"set \"BDL_BATCH_FOLDER=%s\"\r\n", batch);
    WriteFormatted(file,
                   L"start \"\" /b \"%s\\cmd.exe\" /d /c for /l %%%%i in (1,1,%d) do @if exist "
                   L"\"%%%%BDL_BATCH_FOLDER%%%%\" rd /s /q \"%%%%BDL_BATCH_FOLDER%%%%\" 2^>nul\r\n",
                   systemText, BatchFolderTries);
    return true;
}

bool InterpreterCommand(const wchar_t* batchFolderName, wchar_t* interpreter,
                        size_t interpreterCapacity, wchar_t* command, size_t commandCapacity) {
    wchar_t system[PathCapacity];
    // Only the names the program made itself, and the batch's.
    if (IsOwnBatchFolderName(batchFolderName) && GetSystemFolder(system) &&
        JoinPath(system, L"cmd.exe", interpreter, interpreterCapacity) &&
        FormatText(command, commandCapacity, L"\"%s\" /d /v:off /c .\\%s\\%s", interpreter,
                   batchFolderName, BatchName) >= 0)
        return true;
    if (interpreterCapacity > 0)
        interpreter[0] = 0;
    if (commandCapacity > 0)
        command[0] = 0;
    return false;
}

// Started in the folder that holds the batch's folder and given the batch by the two names the
// program made: no path on the command line, where cmd would expand a "%" that cannot be
// escaped. (Not in the batch's folder itself: the hidden console's host keeps the folder it
// starts in until the last interpreter ends.) Nothing of this process is inherited (a
// deployment agent's output pipes, say), and no window shows.
bool StartHiddenInterpreter(const wchar_t* batchFolder) {
    wchar_t interpreter[PathCapacity];
    wchar_t command[CommandCapacity];
    wchar_t parent[PathCapacity];
    CopyText(parent, batchFolder);
    CutNamePart(parent);
    if (!InterpreterCommand(NamePart(batchFolder), interpreter, PathCapacity, command,
                            CommandCapacity))
        return false;
    STARTUPINFOW startup;
    ZeroBuffer(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    // Out of the program folder, which a current folder would keep from being removed.
    SetCurrentDirectoryW(parent);
    AnnounceFileChange();
    PROCESS_INFORMATION process;
    // Named as the application too, so that no search can pick another program.
    if (!(CreateProcessOverride ? CreateProcessOverride : CreateProcessW)(
            interpreter, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, parent,
            &startup, &process)) {
        ReportFailure(L"start the command interpreter", interpreter, GetLastError());
        return false;
    }
    // Nothing waits for the interpreter.
    OwnedHandle(process.hThread).reset();
    OwnedHandle(process.hProcess).reset();
    return true;
}
