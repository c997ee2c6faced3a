#include "integration/apply.h"

#include "common/diagnostics.h"
#include "common/files.h"
#include "common/paths.h"
#include "common/registry.h"
#include "integration/associations.h"
#include "integration/registration.h"
#include "integration/shellext.h"
#include "integration/shortcuts.h"

bool ApplyIntegration(const IntegrationSettings& settings, wchar_t* groupPath, size_t capacity) {
    // Without rights on the machine-wide keys nothing is half done.
    if (!RegisterAppPaths()) {
        ReportFailure(L"apply stopped", L"App Paths", ERROR_ACCESS_DENIED);
        return false;
    }
    RegisterShellIntegration(false, settings);
    AssociateAllTypes(settings);
    if (!WriteClassKeys()) {
        ReportFailure(L"apply stopped", L"the archiver's class keys", ERROR_ACCESS_DENIED);
        return false;
    }
    wchar_t icon[PathCapacity];
    GetUserString(L"Interface\\Themes", L"ShellExtIcon", icon, L"");
    bool hasIcon = icon[0] != 0 && FileExists(icon);
    UpdateShortcuts(settings, groupPath, capacity, hasIcon ? icon : nullptr);
    return true;
}
