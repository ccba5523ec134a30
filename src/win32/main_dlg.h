// CMainDlg: the program's one main window. It owns the engine, starts the
// worker, turns clicks into request flags and options, and shows what the
// worker reports through the message channel.
#pragma once
#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

#include "engine/recovery_engine.h"
#include "platform/thread.h"
#include "ui/logic/completion.h"
#include "ui/logic/dialog_rules.h"
#include "ui/logic/profile_store.h"
#include "win32/dialog.h"
#include "win32/seams.h"

constexpr int kSavedTitleSize = 64;
constexpr int kTitleReadLimit = 63;  // GetWindowTextA limit, terminator included
constexpr DWORD kUserNameBuffer = 257;

class CMainDlg : public CDialog {
public:
    CMainDlg(IProfileStore& profile, IPowerOff& power);
    ~CMainDlg() override;

    // False when the worker outlived the exit wait: the engine must then be left alive.
    bool WorkerEnded() const { return !engine.threadAlive; }

    // Status slot 12.
    void PaintProgressBar();
    // The OK action, also run for ENGINE_SHUTDOWN and at destruction.
    void RunExitSequence();

    CRecoveryEngine engine;

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int code) override;
    void OnOK() override { RunExitSequence(); }
    void OnCancel() override {}  // Esc, the close box and Alt+F4 leave the dialog open
    INT_PTR HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, bool* handled) override;

private:
    void AddAboutMenuItem();
    void ShowStrategy();
    void SetUpProgressCanvas();
    void RestoreSettings();
    void ScanDrives();
    void OnPaint();
    void OnLogLine(unsigned slot);
    void OnStatusText(unsigned slot);
    void OnEngineState(unsigned state);
    void OnChangeFolder();
    void OnImportFile();
    void OnForceSize();
    void OnExtractFiles();
    void ShowLevelName();
    void ShowGiveUpName();

    IProfileStore& profile_;
    IPowerOff& power_;
    std::unique_ptr<CWindowPoster> poster_;
    PixelRect barRect;
    HWND canvas = nullptr;
    char savedTitle[kSavedTitleSize] = "";
    COLORREF barFaceColour = 0;
    HICON icon = nullptr;
    HWND statusControls[kStatusControlCount] = {};
    CWorkerThread workerThread;
    std::string userName;
    bool copying_ = false;                  // ENGINE_COPYING seen, its end not yet
    CWorkerThread extractThread_;
    std::shared_ptr<std::atomic<bool>> extracting_ = std::make_shared<std::atomic<bool>>(false);
};
