#include "uninstall/removal.h"

#include <windows.h>
#include <shlobj.h>

#include "common/diagnostics.h"
#include "common/registry.h"
#include "common/text.h"
#include "integration/associations.h"
#include "integration/registration.h"
#include "integration/shellext.h"
#include "integration/shortcuts.h"
#include "uninstall/startup.h"

void RemoveRegistrations() {
    // A zero-filled record means nothing is integrated: every step below takes its removal path.
    IntegrationSettings none = {};
    // The extensions first: they read the saved previous owners from the per-user key, which
    // goes further down.
    bool released = AssociateAllTypes(none);
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_FLUSH, nullptr, nullptr);
    RegisterShellIntegration(true, none);
    UpdateShortcuts(none, nullptr, 0, nullptr);

    DeleteKeyTree(HKEY_CLASSES_ROOT, L"Bundlo");
    DeleteKeyTree(HKEY_CLASSES_ROOT, L"Bundlo.ZIP");
    DeleteKeyTree(HKEY_CLASSES_ROOT, L"Bundlo.REV");
    // Another program may have taken ".rev" over since the setup; its association stays.
    if (RevBelongsToArchiver())
        DeleteKeyTree(HKEY_CLASSES_ROOT, L".rev");

    // The saved previous owners go only with the last extension given back: what this removal
    // could not give back, a later one still can.
    if (released)
        DeleteKeyTree(HKEY_CURRENT_USER, L"");
    else
        ReportFailure(L"keep the previous owners for a later removal",
                      L"HKEY_CURRENT_USER\\Software\\Bundlo", ERROR_CAN_NOT_COMPLETE);

    if (MsiMode)
        return;
    DeleteEmptyKey(HKEY_LOCAL_MACHINE, UninstallKey);
    // The setup wrote App Paths into every view, for programs of either bitness.
    REGSAM views[2];
    size_t viewCount = AllProgramRegistryViews(views);
    for (size_t i = 0; i < viewCount; i++) {
        ScopedRegistryView scope(views[i]);
        DeleteEmptyKey(HKEY_LOCAL_MACHINE, AppPathsKey);
    }
}
