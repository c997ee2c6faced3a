#include "integration/apply.h"

#include "common/diagnostics.h"
#include "common/files.h"
#include "common/log.h"
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
        LogLine(L"Setup stopped at its first step, App Paths: nothing was changed");
        return false;
    }
    LogLine(L"Setup step: App Paths");
    // Named first: whoever removes the program later finds which installation the machine's
    // registrations and the record of what they replaced belong to.
    if (!RecordInstallation())
        ReportFailure(L"record the installation", L"HKEY_LOCAL_MACHINE\\Software\\Bundlo\\Setup",
                      ERROR_CAN_NOT_COMPLETE);
    else
        LogLine(L"Setup step: the record of the installation");
    RegisterShellIntegration(false, settings);
    LogLine(L"Setup step: shell extension and capabilities");
    AssociateAllTypes(settings);
    ReleaseRetiredExtensions();
    LogLine(L"Setup step: file types and \"New\" menu templates");
    if (!WriteClassKeys()) {
        ReportFailure(L"apply stopped", L"the archiver's class keys", ERROR_ACCESS_DENIED);
        LogLine(L"Setup stopped at the archiver's class keys: App Paths, the record, the shell "
                L"extension and the file types are written; no class key or shortcut");
        return false;
    }
    LogLine(L"Setup step: the archiver's class keys");
    wchar_t icon[PathCapacity];
    GetUserString(L"Interface\\Themes", L"ShellExtIcon", icon, L"");
    // From the user's store or a settings file, for shortcuts every user's shell shows: a path
    // to another machine or a device would have each of them reach out to it.
    bool hasIcon = IsLocalFullPath(icon) && FileExists(icon);
    UpdateShortcuts(settings, groupPath, capacity, hasIcon ? icon : nullptr);
    LogLine(L"Setup step: shortcuts");
    return true;
}
