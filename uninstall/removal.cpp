#include "uninstall/removal.h"

#include <windows.h>
#include <shlobj.h>

#include "common/registry.h"
#include "common/text.h"
#include "integration/associations.h"
#include "integration/registration.h"
#include "integration/shellext.h"
#include "integration/shortcuts.h"
#include "uninstall/startup.h"

namespace {
const size_t ClassNameCapacity = 256;
} // namespace

bool RevBelongsToArchiver() {
    // A class that cannot be read whole, too long or not text, may well be another program's.
    wchar_t className[ClassNameCapacity];
    switch (ReadWholeText(HKEY_CLASSES_ROOT, L".rev", L"", className, ClassNameCapacity)) {
    case TextMissing:
        return true;
    case TextRead:
        return className[0] == 0 || CompareNoCase(className, L"Bundlo.REV") == 0;
    default:
        return false;
    }
}

void RemoveRegistrations() {
    // A zero-filled record means nothing is integrated: every step below takes its removal path.
    IntegrationSettings none = {};
    // The extensions first: they read the saved previous owners from the per-user key, which
    // goes further down.
    AssociateAllTypes(none);
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_FLUSH, nullptr, nullptr);
    RegisterShellIntegration(true, none);
    UpdateShortcuts(none, nullptr, 0, nullptr);

    DeleteKeyTree(HKEY_CLASSES_ROOT, L"Bundlo");
    DeleteKeyTree(HKEY_CLASSES_ROOT, L"Bundlo.ZIP");
    DeleteKeyTree(HKEY_CLASSES_ROOT, L"Bundlo.REV");
    // Another program may have taken ".rev" over since the setup; its association stays.
    if (RevBelongsToArchiver())
        DeleteKeyTree(HKEY_CLASSES_ROOT, L".rev");

    DeleteKeyTree(HKEY_CURRENT_USER, L"");

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
