// Runs single steps of the integration engine from the end-to-end scenarios, before the setup
// dialog can drive them:
//   integration_driver associate-all <0|1>   associates every archive type (shell extension on)
//                                            or releases every one
//   integration_driver apply                 applies every choice (associations, shell
//                                            extension, all shortcuts) and writes the uninstall
//                                            entry, as a confirmed setup does
//   integration_driver hold <file> <seconds> [<ready file>]
//                                            keeps the file open without delete sharing for that
//                                            long, as a program using it would; creates the
//                                            ready file once it holds it
//   integration_driver lock <file> <seconds> [<ready file>]
//                                            the same without any sharing, as a program writing
//                                            the file holds it
//   integration_driver squat <name> <seconds> <ready file>
//                                            holds the named mutex as another account's
//                                            process would: its owner is no one of this machine
// Exit code 0 when the command was known and did its work.
#include <windows.h>
#include <objbase.h>
#include <sddl.h>
#include <wchar.h>

#include "common/handles.h"
#include "common/settings.h"
#include "common/paths.h"
#include "integration/apply.h"
#include "integration/associations.h"
#include "integration/registration.h"

namespace {

IntegrationSettings AllAssociated(uint8_t on) {
    IntegrationSettings settings = {};
    for (uint8_t& flag : settings.associate)
        flag = on;
    settings.shellExtension = 1;
    return settings;
}

int Apply() {
    IntegrationSettings settings = AllAssociated(1);
    settings.linkDesktop = 1;
    settings.linkStartMenu = 1;
    settings.linkProgramGroup = 1;
    CoInitialize(nullptr);
    wchar_t group[PathCapacity] = L"";
    bool applied = ApplyIntegration(settings, group, PathCapacity);
    if (applied)
        RegisterUninstallEntry();
    CoUninitialize();
    return applied ? 0 : 1;
}

int Hold(const wchar_t* path, const wchar_t* seconds, const wchar_t* ready, DWORD share) {
    HANDLE file = CreateFileW(path, GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    if (ready)
        CloseHandle(CreateFileW(ready, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    Sleep(DWORD(_wtoi(seconds)) * 1000);
    CloseHandle(file);
    return 0;
}

int Squat(const wchar_t* name, const wchar_t* seconds, const wchar_t* ready) {
    OwnedLocal security;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"O:S-1-5-21-1-2-3-1001D:(A;;GA;;;WD)", SDDL_REVISION_1,
            reinterpret_cast<PSECURITY_DESCRIPTOR*>(security.put()), nullptr))
        return 1;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, security.get(), FALSE};
    OwnedHandle mutex(CreateMutexW(&attributes, TRUE, name));
    if (!mutex)
        return 1;
    OwnedFile told(CreateFileW(ready, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    Sleep(DWORD(_wtoi(seconds)) * 1000);
    return 0;
}
} // namespace

int wmain(int argc, wchar_t** argv) {
    PlugInSettingsStore();
    if (argc == 3 && wcscmp(argv[1], L"associate-all") == 0) {
        AssociateAllTypes(AllAssociated(wcscmp(argv[2], L"1") == 0 ? 1 : 0));
        return 0;
    }
    if (argc == 2 && wcscmp(argv[1], L"apply") == 0)
        return Apply();
    bool lock = argc >= 2 && wcscmp(argv[1], L"lock") == 0;
    if ((argc == 4 || argc == 5) && (lock || wcscmp(argv[1], L"hold") == 0))
        return Hold(argv[2], argv[3], argc == 5 ? argv[4] : nullptr, lock ? 0 : FILE_SHARE_READ);
    if (argc == 5 && wcscmp(argv[1], L"squat") == 0)
        return Squat(argv[2], argv[3], argv[4]);
    return 2;
}
