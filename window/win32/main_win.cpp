// Quindral on Windows: the main window over ADSI. The program reads no command line,
// configuration or environment of its own; closing the window ends it.

#include "frmQuindral_win.h"
#include "report/adsi/AdsiDirectory.h"
#include "report/adsi/ComHandles.h"
#include "trace/LogFile.h"

#include <commctrl.h>
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    quindral::ComApartment com;
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    std::filesystem::path logFile;
    try {
        logFile = quindral::LogFilePath();
    } catch (...) {
        // Without the program's own directory the report is shown in the pane only.
    }
    quindral::AdsiDirectory directory;
    quindral::frmQuindral form(directory, logFile);
    if (!form.Create(instance, showCommand)) {
        return 1;
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!form.PreTranslateMessage(message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return 0;
}
