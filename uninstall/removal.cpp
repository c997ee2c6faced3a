#include "uninstall/removal.h"

#include <windows.h>
#include <shlobj.h>

#include "common/diagnostics.h"
#include "common/log.h"
#include "common/paths.h"
#include "common/registry.h"
#include "common/settings.h"
#include "common/system.h"
#include "common/text.h"
#include "integration/associations.h"
#include "integration/record.h"
#include "integration/registration.h"
#include "integration/shellext.h"
#include "integration/shortcuts.h"
#include "uninstall/startup.h"

namespace {

// How far the removal reaches: past a settings file's integration switch for an installation
// that recorded its registrations on the machine (and for what points into this copy), as the
// settings say for a machine set up by an earlier version, or never.
Reach ReachOf(InstallationRecord installation) {
    return installation == NoInstallationRecord ? Reach::AsSettingsSay
                                                : Reach::PastIntegrationSwitch;
}

bool RemoveEveryRegistration(Reach reach) {
    // A zero-filled record means nothing is integrated: every step below takes its removal path.
    IntegrationSettings none = {};
    // The extensions first: they read the saved previous owners from the record, which goes
    // last of all.
    bool released = AssociateAllTypes(none, reach);
    released = ReleaseRetiredExtensions(reach) && released;
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_FLUSH, nullptr, nullptr);
    if (!released) {
        // The extension still names the archiver's class, which must go on existing, and its
        // previous owner is known only to the record: the rest stays for the removal that
        // finishes the job once Windows lets it.
        ReportFailure(L"removal stopped: a file type could not be given back",
                      L"HKEY_LOCAL_MACHINE\\Software\\Bundlo\\Setup", ERROR_CAN_NOT_COMPLETE);
        LogLine(L"Removal stopped: not every file type could be given back; the registrations, "
                L"the files and the uninstall entry stay for a later removal");
        return false;
    }
    LogLine(L"Removal step: file types given back");
    RegisterShellIntegration(true, none, reach);
    LogLine(L"Removal step: shell extension and capabilities");
    UpdateShortcuts(none, nullptr, 0, nullptr, reach);
    LogLine(L"Removal step: shortcuts");

    const RegistryRoot classes = ClassesRoot(reach);
    DeleteKeyTree(classes, L"Bundlo");
    DeleteKeyTree(classes, L"Bundlo.ZIP");
    DeleteKeyTree(classes, L"Bundlo.REV");
    ReleaseRev(reach);
    LogLine(L"Removal step: the archiver's class keys");
    return true;
}

bool RemoveEveryEntry(Reach reach) {
    DeleteKeyTree(InView(HKEY_CURRENT_USER, 0, reach), L"");
    REGSAM views[2];
    size_t viewCount = AllProgramRegistryViews(views);
    for (size_t i = 0; i < viewCount; i++)
        if (views[i] != RecordView())
            DeleteKeyTree(InView(HKEY_LOCAL_MACHINE, views[i], reach), MachineProductKey);
    const RegistryRoot recordMachine = InView(HKEY_LOCAL_MACHINE, RecordView(), reach);
    DeleteValue(recordMachine, MachineProductKey, L"exe32");
    LogLine(L"Removal step: the archiver's settings");
    if (MsiMode) {
        LogLine(L"Removal step: the uninstall entry and App Paths stay with the installer package");
    } else {
        bool removed = RemoveAppPaths(reach);
        if (!RemoveUninstallEntries(reach) || !removed)
            return false;
        LogLine(L"Removal step: the uninstall entry and App Paths");
    }
    // Last: until here a removal run again knows the installation it is finishing.
    DeleteRecords(reach);
    DeleteKeyTree(recordMachine, MachineProductKey);
    LogLine(L"Removal step: the record of the installation");
    return true;
}

// An entry that stays would go on running a program that is gone, and nothing would be left to
// finish the removal: the program, its list and the record stay for the same removal run again.
bool StopForEntries() {
    ReportFailure(L"removal stopped: the uninstall entry or App Paths could not be deleted",
                  L"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion",
                  ERROR_CAN_NOT_COMPLETE);
    LogLine(L"Removal stopped: the uninstall entry or App Paths could not be deleted; the "
            L"program and the record of the installation stay for a later removal");
    return false;
}

} // namespace

bool RemoveRegistrations(InstallationRecord installation) {
    if (installation == RecordRefused) {
        // Whose registrations these are is unknown: taken for another copy's they would stay
        // pointing at files this removal deletes, taken for this one's they might be another's.
        ReportFailure(L"removal stopped: the record of the installation could not be read",
                      L"HKEY_LOCAL_MACHINE\\Software\\Bundlo\\Setup", ERROR_CAN_NOT_COMPLETE);
        LogLine(L"Removal stopped: the record of the installation could not be read; everything "
                L"stays for a later removal");
        return false;
    }
    const Reach reach = ReachOf(installation);
    if (installation == RecordOfAnotherCopy) {
        // The classes, the shell extension and the entry point at that installation; a portable
        // copy says nothing, since leaving the registry alone is all it ever does.
        if (IsIntegrationEnabled())
            ReportFailure(L"leave the registrations of the installation in another folder",
                          L"HKEY_LOCAL_MACHINE\\Software\\Bundlo\\Setup", ERROR_ALREADY_EXISTS);
        LogLine(L"Removal step: the registrations belong to another installation and stay");
        // What points into this copy is its own whatever a settings file says now, and would
        // point at nothing once its files are gone.
        wchar_t folder[PathCapacity];
        GetProgramPath(folder);
        CutNamePart(folder);
        if (folder[0] != 0 && IsIntegrationEnabled(reach))
            RemoveShortcutsInto(folder);
        LogLine(L"Removal step: the shortcuts into this copy");
        return true;
    }
    // This installation's registrations go whatever a settings file says now.
    return RemoveEveryRegistration(reach);
}

bool RemoveInstallationEntries(InstallationRecord installation) {
    const Reach reach = ReachOf(installation);
    if (installation == RecordOfAnotherCopy) {
        // The installer package owns the entry and App Paths of its copy.
        if (MsiMode)
            return true;
        if (!RemoveEntriesOfThisCopy(reach))
            return StopForEntries();
        LogLine(L"Removal step: the uninstall entry and App Paths of this copy");
        return true;
    }
    return RemoveEveryEntry(reach) || StopForEntries();
}
