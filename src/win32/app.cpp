// CRecoveryApp: the program's entry. It finds the settings file beside the
// executable, runs the main dialog modally and ends the program after it.
#include "win32/seams.h"  // first: it keeps MessageBox from being renamed

#include <objbase.h>

#include <memory>
#include <string>

#include "ui/logic/settings_file.h"
#include "win32/main_dlg.h"

char iniPath[MAX_PATH];

class CRecoveryApp {
public:
    // False: the program ends here, without a message loop of its own.
    bool InitInstance();

private:
    void ComputeIniPath();
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

bool CRecoveryApp::InitInstance()
{
    ComputeIniPath();
    // The folder browser needs COM on this thread.
    CoInitialize(nullptr);
    SetPrompt(&windowsPrompt);

    CPrivateProfile profile(iniPath);
    std::unique_ptr<IPowerOff> power = MakePowerOff();
    auto* dialog = new CMainDlg(profile, *power);
    dialog->DoModal(nullptr);
    // A worker that outlived the exit wait may still touch the engine: leave
    // the dialog (and the engine in it) alive until the process ends.
    if (dialog->WorkerEnded()) delete dialog;
    else power.release();
    SetPrompt(nullptr);
    return false;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    theApp.InitInstance();
    ExitProcess(0);
}
