// Runs single steps of the integration engine from the end-to-end scenarios, before the setup
// dialog can drive them: `integration_driver associate-all <0|1>` associates every archive type
// (shell extension on) or releases every one. Exit code 0 when the command was known.
#include <windows.h>
#include <wchar.h>

#include "integration/associations.h"

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && wcscmp(argv[1], L"associate-all") == 0) {
        uint8_t on = wcscmp(argv[2], L"1") == 0 ? 1 : 0;
        IntegrationSettings settings = {};
        for (uint8_t& flag : settings.associate)
            flag = on;
        settings.shellExtension = 1;
        AssociateAllTypes(settings);
        return 0;
    }
    return 2;
}
