// The settings file "Bundlo.ini" of a portable installation. When it is found, the requests of
// the registry operations for the product's own keys are served from an in-memory list of its
// entries, and its switch Global\Integration can keep every other registry access and the
// shortcuts away from the machine. The list is written back at process exit.
#pragma once
#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#include "common/array.h"
#include "common/registry.h"

class File;

enum SettingsKind { SettingsNumber = 0, SettingsText = 1, SettingsRaw = 2 };

struct SettingsEntry {
    wchar_t* Name; // the composed key, such as HKCU\Setup\Links\Desktop
    wchar_t* Value;
    SettingsKind Kind;
    SettingsEntry* Next;
};

// Capacity of a composed key, terminator included.
const size_t SettingsKeyCapacity = 1024;

// Plugs the settings file into the registry operations (PlugInRegistryStore): from then on
// each request is offered to it first, and it loads the file on first use. Called once at
// start-up by every program that reads or writes the archiver's settings.
void PlugInSettingsStore();

// False while an active settings file switches system integration off, and while a damaged or
// closed one keeps everything away: the one rule that keeps the registry and the shortcuts
// away from the machine. Past the switch (the removal of an installation recorded on the
// machine, see Reach), only a damaged file keeps everything away. Loads the file on first use.
bool IsIntegrationEnabled(Reach reach = Reach::AsSettingsSay);
// Writes the list back when a settings file is active and Global\SaveSettings allows it. The old
// file stays whole until the new content is complete; true when the file was replaced.
bool SaveSettingsFile();
// Deletes in `folder` only the plain files that saves cut short left: "Bundlo.ini.<16 hex>.tmp".
void RemoveSettingsLeftovers(const wchar_t* folder);
// Frees every entry and forgets the file, so that the next request looks for it again.
void ReleaseSettings();
// Writes the list back for the last time, for a caller about to delete the file: nothing
// recreates it later. Its entries still answer for the product's keys (and writes are refused),
// so that a portable copy still leaves no trace in the registry, and its integration switch
// still decides whether other requests reach the registry.
void CloseSettingsFile();

// Where the settings file lives, the one rule for every reader: beside this module when one is
// there, else in the per-user application data folder (GetAppDataFolder). The path of the file
// found beside the module, or else the application data folder's candidate, existing or not;
// empty when neither can be named. `path` holds PathCapacity characters.
void FindSettingsFile(wchar_t* path);
// The per-user application data folder joined with "Bundlo"; true when that folder exists (or,
// with create, was made). False with an empty destination when the shell names no folder.
bool GetAppDataFolder(wchar_t* destination, size_t capacity, bool create);
// Loads the settings file FindSettingsFile names, when there is one; runs once until
// ReleaseSettings.
void LoadSettingsFile();
bool IsSettingsFileActive();
// A settings file exists but was not read whole (it could not be opened, a read failed, memory
// ran out, or it holds a zero character). Its content is unknown, so it is never written back
// and every request is taken and dropped: whatever it said, nothing reaches the registry.
bool IsSettingsFileDamaged();
const wchar_t* SettingsFilePath();
// The entries in list order, for tests and benchmarks.
const SettingsEntry* FirstSettingsEntry();

// The entry name of (root, path, name): "HKCU\path\name", "HKLM\...", or "path\name" for the
// file's own keys. False, with an empty key, when it does not fit.
bool ComposeSettingsKey(HKEY root, const wchar_t* path, const wchar_t* name, wchar_t* key,
                        size_t capacity);

enum TextEncoding { TextAnsi, TextUtf16, TextUtf8 };
TextEncoding DetectTextEncoding(const unsigned char* bytes, size_t size);

// Lines stored end to end, each with its terminator, taken out in order.
struct StringList {
    Array<wchar_t> Text;
    uint32_t Count = 0;
    size_t ReadPosition = 0;

    void Add(const wchar_t* line, size_t length);
    // The next line, or null after the last.
    const wchar_t* Next();
};

// Reads a text file in any of the three encodings into cleaned, non-empty lines. False when it
// cannot be opened or was not read whole; the lines are then incomplete.
bool ReadTextLines(const wchar_t* fileName, StringList& lines);
// The same from a file opened for reading.
bool ReadTextLines(File& file, StringList& lines);
// The decoding and splitting of ReadTextLines, over bytes already read. False when the text
// holds a zero character: what follows it would be lost.
bool DecodeTextLines(const unsigned char* bytes, size_t size, StringList& lines);
