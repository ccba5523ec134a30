// CRecoveryApp: the program's entry. It finds the settings file beside the
// executable, runs the main dialog modally and ends the program after it:
// status 0, or 1 when the main dialog could not be created.
#include "win32/seams.h"  // first: it keeps MessageBox from being renamed

#include <commctrl.h>
#include <objbase.h>

#include <memory>
#include <string>

#include "ui/logic/settings_file.h"
#include "win32/main_dlg.h"

char iniPath[MAX_PATH];

class CRecoveryApp {
public:
    // False when the main dialog could not be created (the user was told
    // where a message box can be shown); the program ends after it either way.
    bool InitInstance();

private:
    void ComputeIniPath();
    static void ReportNoDialog(DWORD error);
};

namespace {
CRecoveryApp theApp;
CWin32Prompt windowsPrompt;
}  // namespace

void CRecoveryApp::ComputeIniPath()
{
    char module[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, module, MAX_PATH);
    std::string path = IniPathFromModule(module);
    lstrcpynA(iniPath, path.c_str(), MAX_PATH);
}

void CRecoveryApp::ReportNoDialog(DWORD error)
{
    char reason[512] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, reason,
                   sizeof reason, nullptr);
    std::string text = "Gleanor could not open its main window (error " + std::to_string(error) + ")";
    text += reason[0] ? std::string(": ") + reason : std::string(".");
    // Without a window station or display this fails too; the exit status tells.
    MessageBoxA(nullptr, text.c_str(), "Gleanor", MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

bool CRecoveryApp::InitInstance()
{
    ComputeIniPath();
    // The controls of Common Controls 6, which the manifest asks for.
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    // The folder browser needs COM on this thread.
    CoInitialize(nullptr);
    SetPrompt(&windowsPrompt);

    CPrivateProfile profile(iniPath);
    std::unique_ptr<IPowerOff> power = MakePowerOff();
    auto* dialog = new CMainDlg(profile, *power);
    SetLastError(0);
    // DialogBoxParam answers -1 when it cannot create the dialog (0 with a
    // bad parent, which it has none of).
    bool opened = dialog->DoModal(nullptr) != -1;
    DWORD error = GetLastError();
    // A worker that outlived the exit wait may still touch the engine: leave
    // the dialog (and the engine in it) alive until the process ends.
    if (dialog->WorkerEnded()) delete dialog;
    else power.release();
    SetPrompt(nullptr);
    if (!opened) ReportNoDialog(error);
    return opened;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    ExitProcess(theApp.InitInstance() ? 0 : 1);
}
