// The "New" menu entries of the archiver's own format (".bdl") and of ZIP (".zip"): an empty
// archive file in the program folder that Explorer copies, and the previous entry given back
// when the archiver lets the extension go or the entry is turned off.
#pragma once
#include <stddef.h>

#include "integration/choices.h"

struct StateRecord;

const size_t TemplateKeyCapacity = 2048;

// Whether ".bdl" or ".zip" (of the kind given) should carry the archiver's template now.
bool WantTemplate(bool shellExtension, ArchiveKind kind);
// Writes the template file when missing or of the wrong size and points the extension's
// "ShellNew" key at it, dropping the entry that was there; does nothing when the template's path
// beside the program is unknown or does not fit.
void CreateTemplateEntry(const wchar_t* extension, ArchiveKind kind, Reach reach);
// Keeps the extension's "ShellNew" entry in its record at the take-over: every value
// with its type, and the "ShellNew" text that earlier versions read. An entry too large to keep
// is marked so and left alone for good. False when the entry could not be read (refused) or its
// state not written: nothing may replace it then, and the take-over waits for a later run.
bool SavePreviousTemplateEntry(const wchar_t* extension, const StateRecord& record, Reach reach);
// False when the entry found at the take-over could not be kept whole: the archiver then never
// replaces it; false too while the state that says so cannot be read.
bool MayReplaceTemplateEntry(const wchar_t* extension, Reach reach);
// Takes the archiver's own "FileName" away and gives back the entry kept at the take-over, whole;
// removes the key when the extension did not exist before, or when it had no entry and nothing is
// left in it. Another program's key is never deleted. False when a read or write it needed was
// refused: doing it again later finishes it. `record` is where the extension's record was found.
bool RestoreTemplateEntry(const wchar_t* extension, ArchiveKind kind, bool existed,
                          const StateRecord& record, Reach reach);
// Takes the archiver's own "FileName" away from an extension another program owns now, and the
// key when nothing is left in it; any other value stays. False when it could not be read or
// deleted.
bool RemoveOwnTemplateEntry(const wchar_t* extension, ArchiveKind kind, Reach reach);
// Completes the template images: their first bytes are stored only here, so that the program
// file itself holds neither archive signature.
void PrepareTemplateImages();

// The template file contents, complete after PrepareTemplateImages.
extern unsigned char OwnFormatTemplate[24];
extern unsigned char ZipTemplate[22];
