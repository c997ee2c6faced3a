// The archive extensions the user chose, taken over for the archiver's classes "Bundlo" and
// "Bundlo.ZIP" with their previous state saved, and given back when unchecked or uninstalled;
// and the archiver's class keys themselves.
#pragma once
#include "integration/choices.h"

// Takes the extension over (associate) or gives it back, and keeps its "New" template in step
// with the choices. An extension that another program took over since is never touched.
void AssociateExtension(const wchar_t* extension, bool associate, bool shellExtension,
                        bool isOwnFormat, bool isZip);
// Every extension of every archive type, as the record says.
void AssociateAllTypes(const IntegrationSettings& settings);
// The classes Bundlo, Bundlo.ZIP and Bundlo.REV with ".rev". False when the first write is
// refused with ERROR_ACCESS_DENIED; nothing else is written then.
bool WriteClassKeys();
