// The "New" menu entries of the archiver's own format (".bdl") and of ZIP (".zip"): an empty
// archive file in the program folder that Explorer copies, and the previous entry given back
// when the archiver lets the extension go or the entry is turned off.
#pragma once
#include <stddef.h>

const size_t TemplateKeyCapacity = 2048;

// Whether ".bdl" or ".zip" should carry the archiver's template now.
bool WantTemplate(bool shellExtension, bool isOwnFormat, bool isZip);
// Writes the template file when missing or of the wrong size and points the extension's
// "ShellNew" key at it, dropping the entry that was there.
void CreateTemplateEntry(const wchar_t* extension, bool isOwnFormat);
// Gives back the entry saved at the take-over, or removes the key when the extension did not
// exist before.
void RestoreTemplateEntry(const wchar_t* extension, bool existed);
// Completes the template images: their first bytes are stored only here, so that the program
// file itself holds neither archive signature.
void PrepareTemplateImages();

// The template file contents, complete after PrepareTemplateImages.
extern unsigned char OwnFormatTemplate[24];
extern unsigned char ZipTemplate[22];
