#include "integration/apply.h"

#include "common/diagnostics.h"
#include "common/files.h"
#include "common/paths.h"
#include "common/registry.h"
#include "integration/associations.h"
#include "integration/record.h"
#include "integration/registration.h"
#include "integration/shellext.h"
#include "integration/shortcuts.h"

bool ApplyIntegration(const IntegrationSettings& settings, wchar_t* groupPath, size_t capacity) {
    // Without rights on the machine-wide keys nothing is half done.
    if (!RegisterAppPaths()) {
        ReportFailure(L"apply stopped", L"App Paths", ERROR_ACCESS_DENIED);
        return false;
    }
    // Named first: whoever removes the program later finds which installation the machine's
    // registrations and the record of what they replaced belong to.
    if (!RecordInstallation())
        ReportFailure(L"record the installation", L"HKEY_LOCAL_MACHINE\\Software\\Bundlo\\Setup",
                      ERROR_CAN_NOT_COMPLETE);
    RegisterShellIntegration(false, settings);
    AssociateAllTypes(settings);
    if (!WriteClassKeys()) {
        ReportFailure(L"apply stopped", L"the archiver's class keys", ERROR_ACCESS_DENIED);
        return false;
    }
    wchar_t icon[PathCapacity];
    GetUserString(L"Interface\\Themes", L"ShellExtIcon", icon, L"");
    // From the user's store or a settings file, for shortcuts every user's shell shows: a path
    // to another machine or a device would have each of them reach out to it.
    bool hasIcon = IsLocalFullPath(icon) && FileExists(icon);
    UpdateShortcuts(settings, groupPath, capacity, hasIcon ? icon : nullptr);
    return true;
}
