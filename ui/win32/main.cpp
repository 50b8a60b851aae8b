// kelvane.exe: the window program on Windows. The common controls the main dialog needs are
// registered first; the program's life is the main dialog's, and nothing is saved on the
// way out.

#include "ui/win32/ArchiverDlg.h"

#include <commctrl.h>
#include <objbase.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    INITCOMMONCONTROLSEX classes {sizeof(INITCOMMONCONTROLSEX),
                                  ICC_PROGRESS_CLASS | ICC_ANIMATE_CLASS};
    InitCommonControlsEx(&classes);
    // The shell's folder browser wants a single-threaded apartment.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        kelvane::ui::win32::CArchiverDlg dialog;
        dialog.DoModal();
    }
    if (SUCCEEDED(com))
        CoUninitialize();
    return 0;
}
