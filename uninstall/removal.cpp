#include "uninstall/removal.h"

#include <windows.h>
#include <shlobj.h>

#include "common/diagnostics.h"
#include "common/log.h"
#include "common/registry.h"
#include "common/settings.h"
#include "common/text.h"
#include "integration/associations.h"
#include "integration/record.h"
#include "integration/registration.h"
#include "integration/shellext.h"
#include "integration/shortcuts.h"
#include "uninstall/startup.h"

namespace {

// The machine's product key goes in every view; in the record's view, while an extension is
// still to be given back, all of it but the record.
void RemoveMachineProductKeys(bool released) {
    REGSAM views[2];
    size_t viewCount = AllProgramRegistryViews(views);
    for (size_t i = 0; i < viewCount; i++) {
        const RegistryRoot machine = InView(HKEY_LOCAL_MACHINE, views[i]);
        if (released || views[i] != RecordView())
            DeleteKeyTree(machine, MachineProductKey);
        else
            DeleteValue(machine, MachineProductKey, L"exe32");
    }
}

void RemoveEveryRegistration() {
    // A zero-filled record means nothing is integrated: every step below takes its removal path.
    IntegrationSettings none = {};
    // The extensions first: they read the saved previous owners from the record, which goes
    // further down.
    bool released = AssociateAllTypes(none);
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_FLUSH, nullptr, nullptr);
    LogLine(released ? L"Removal step: file types given back"
                     : L"Removal step: file types, not all of them given back");
    RegisterShellIntegration(true, none);
    LogLine(L"Removal step: shell extension and capabilities");
    UpdateShortcuts(none, nullptr, 0, nullptr);
    LogLine(L"Removal step: shortcuts");

    DeleteKeyTree(HKEY_CLASSES_ROOT, L"Bundlo");
    DeleteKeyTree(HKEY_CLASSES_ROOT, L"Bundlo.ZIP");
    DeleteKeyTree(HKEY_CLASSES_ROOT, L"Bundlo.REV");
    ReleaseRev();
    LogLine(L"Removal step: the archiver's class keys");

    // The saved previous owners go only with the last extension given back: what this removal
    // could not give back, a later one still can.
    if (released) {
        DeleteRecords();
        DeleteKeyTree(HKEY_CURRENT_USER, L"");
    } else {
        ReportFailure(L"keep the previous owners for a later removal",
                      L"HKEY_LOCAL_MACHINE\\Software\\Bundlo\\Setup", ERROR_CAN_NOT_COMPLETE);
    }
    RemoveMachineProductKeys(released);
    LogLine(released ? L"Removal step: the record and the archiver's settings"
                     : L"Removal step: the archiver's settings; the record stays");

    if (MsiMode) {
        LogLine(L"Removal step: the uninstall entry and App Paths stay with the installer package");
        return;
    }
    RemoveUninstallEntries();
    RemoveAppPaths();
    LogLine(L"Removal step: the uninstall entry and App Paths");
}

} // namespace

void RemoveRegistrations() {
    // Whose registrations these are is read before anything is touched, past a settings file
    // that would hide the registry.
    InstallationRecord installation;
    {
        ScopedRecordedRemoval look;
        installation = FindInstallationRecord();
    }
    if (installation == RecordOfAnotherCopy) {
        // The classes, the shell extension and the entry point at that installation; a portable
        // copy says nothing, since leaving the registry alone is all it ever does.
        if (IsIntegrationEnabled())
            ReportFailure(L"leave the registrations of the installation in another folder",
                          L"HKEY_LOCAL_MACHINE\\Software\\Bundlo\\Setup", ERROR_ALREADY_EXISTS);
        LogLine(L"Removal step: the registrations belong to another installation and stay");
        return;
    }
    if (installation == NoInstallationRecord) {
        RemoveEveryRegistration(); // a machine set up by an earlier version, or never
        return;
    }
    // This installation's registrations go whatever a settings file says now.
    ScopedRecordedRemoval recorded;
    RemoveEveryRegistration();
}
