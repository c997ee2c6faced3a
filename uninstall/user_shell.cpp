#include "uninstall/user_shell.h"

#include <exdisp.h>
#include <oleauto.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

#include "common/array.h"
#include "common/handles.h"
#include "common/system.h"
#include "lang/localise.h"
#include "resources/resource.h"
#include "uninstall/startup.h"

ShellExecuteFunction ShellExecuteOverride = nullptr;
bool (*DesktopShellOverride)(const wchar_t* target) = nullptr;

namespace {

// A VARIANT holding a copy of a text, or empty; cleared with the scope.
class TextVariant {
  public:
    explicit TextVariant(const wchar_t* text = nullptr) {
        VariantInit(&Value);
        if (text) {
            Value.vt = VT_BSTR;
            Value.bstrVal = SysAllocString(text);
            if (!Value.bstrVal)
                MemoryExit();
        }
    }
    ~TextVariant() { VariantClear(&Value); }
    TextVariant(const TextVariant&) = delete;
    TextVariant& operator=(const TextVariant&) = delete;

    VARIANT Value;
};

// The desktop's shell window, its view, and through the view's automation object the shell's
// own ShellExecute, which runs in Explorer's process with the user's unelevated rights.
bool OpenThroughDesktopShell(const wchar_t* target) {
    ComRef<IShellWindows> windows;
    if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                windows.put_void())))
        return false;
    TextVariant location, root;
    long window = 0;
    ComRef<IDispatch> desktop;
    if (windows->FindWindowSW(&location.Value, &root.Value, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH,
                              desktop.put()) != S_OK ||
        !desktop)
        return false;
    ComRef<IServiceProvider> provider;
    ComRef<IShellBrowser> browser;
    ComRef<IShellView> view;
    ComRef<IDispatch> background;
    ComRef<IShellFolderViewDual> folderView;
    ComRef<IDispatch> application;
    ComRef<IShellDispatch2> shell;
    if (FAILED(desktop->QueryInterface(IID_IServiceProvider, provider.put_void())) ||
        FAILED(
            provider->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.put_void())) ||
        FAILED(browser->QueryActiveShellView(view.put())) ||
        FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.put_void())) ||
        FAILED(background->QueryInterface(IID_IShellFolderViewDual, folderView.put_void())) ||
        FAILED(folderView->get_Application(application.put())) ||
        FAILED(application->QueryInterface(IID_IShellDispatch2, shell.put_void())))
        return false;
    OwnedBstr file = CopyToBstr(target);
    TextVariant arguments, folder, operation(L"open");
    VARIANT show;
    VariantInit(&show);
    show.vt = VT_I4;
    show.lVal = SW_SHOWNORMAL;
    HRESULT result =
        shell->ShellExecute(file.get(), arguments.Value, folder.Value, operation.Value, show);
    return SUCCEEDED(result);
}

} // namespace

void OpenForUser(HWND owner, const wchar_t* target) {
    // Nothing to open is not an error worth a message; neither is a failed opening.
    if (target[0] == 0)
        return;
    if (!IsElevated()) {
        (ShellExecuteOverride ? ShellExecuteOverride : ShellExecuteW)(owner, L"open", target,
                                                                      nullptr, L"", SW_SHOWNORMAL);
        return;
    }
    if (!(DesktopShellOverride ? DesktopShellOverride : OpenThroughDesktopShell)(target))
        ShowMessageBox(owner, target, LoadText(IDS_UNINSTTITLE), MB_ICONINFORMATION);
}
