// The archiver's shell extension ("bdlext.dll", and "bdlext64.dll" for 64-bit Explorer) as COM
// server and shell handler of the archiver's classes, files, folders, drives and shortcuts; its
// approval; and the archiver's entry in the Default Programs list.
#pragma once
#include "integration/choices.h"

// The 32-bit and 64-bit registrations share their handler keys, named Bundlo32 and Bundlo.
extern const wchar_t ShellExtensionClsid32[];
extern const wchar_t ShellExtensionClsid64[];

// Registers or removes the extension as `settings.shellExtension` says, and the capabilities;
// remove = true removes everything, capabilities and the machine-wide product key included.
void RegisterShellIntegration(bool remove, const IntegrationSettings& settings,
                              Reach reach = Reach::AsSettingsSay);
void RegisterShellExtension(const IntegrationSettings& settings, const wchar_t* dllName,
                            const wchar_t* clsid, const wchar_t* handlerName, bool is64,
                            Reach reach = Reach::AsSettingsSay);
