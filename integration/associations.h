// The archive extensions the user chose, taken over for the archiver's classes "Bundlo" and
// "Bundlo.ZIP" with their previous state saved in the machine's record, and given back when
// unchecked or uninstalled; and the archiver's class keys themselves. Each function reaches the
// registry with the reach it is given (see Reach): the removal's, or by default the settings'.
#pragma once
#include "common/registry.h"
#include "integration/choices.h"

// What AssociateExtension does with one extension, as bits.
enum ExtensionRequest : uint32_t {
    GiveBackExtension = 0,  // without TakeExtension the extension is given back
    TakeExtension = 1,      // taken over for the archiver's class
    WithShellExtension = 2, // the shell extension is chosen, and with it the "New" templates
};
// Takes the extension over or gives it back, as the request says, and keeps its "New" template
// in step with the choices. An extension that another program took over since is never touched.
// False when a read or a write it needed was refused: the extension is left so that a later run
// finishes the job (taken over without its state saved, or given back without the state that
// says how, it would be lost to its previous owner).
bool AssociateExtension(const wchar_t* extension, uint32_t request, ArchiveKind kind,
                        Reach reach = Reach::AsSettingsSay);
// Every extension of every archive type, as the record says. False when one of them was left
// unfinished.
bool AssociateAllTypes(const IntegrationSettings& settings, Reach reach = Reach::AsSettingsSay);
// Gives back the extensions that earlier versions took and this one no longer handles
// (".ace"), as the setup and the removal both do. False when one could not be given back.
bool ReleaseRetiredExtensions(Reach reach = Reach::AsSettingsSay);
// True when ".rev" names the archiver's recovery-volume class or no class at all: the apply takes
// it then, and the removal removes it; one another program owns is neither's.
bool RevBelongsToArchiver(Reach reach = Reach::AsSettingsSay);
// Takes the archiver's class off ".rev" while it belongs to the archiver, and the key with it
// only when nothing else is in it: another program's values or sub-keys stay.
void ReleaseRev(Reach reach);
// The classes Bundlo, Bundlo.ZIP and Bundlo.REV with ".rev" (while it belongs to the archiver);
// nothing when the archiver's path is unknown or does not fit. False when the first write is
// refused with ERROR_ACCESS_DENIED; nothing else is written then.
bool WriteClassKeys();
