// Uninstall.exe: with /setup the integration setup of the archiver, without switches its
// uninstaller.
#include <windows.h>

#include "uninstall/startup.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    return RunProgram(instance);
}
