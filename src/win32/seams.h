// The Windows implementations of the seams the engine and the dialog use:
// posting to the main window, questions and the Open dialog, powering off.
#pragma once
#include <windows.h>
// IUserPrompt has a member of this name; keep the macro from renaming it here.
#undef MessageBox

#include <memory>
#include <string>

#include "platform/poster.h"
#include "platform/prompt.h"
#include "ui/logic/completion.h"

// Posts every channel message to the main dialog. The text is not carried:
// the dialog reads the slot named by wParam when the message arrives.
class CWindowPoster : public IPoster {
public:
    explicit CWindowPoster(HWND window) : window_(window) {}
    void Post(unsigned msg, unsigned wParam, const char* text) override;

private:
    HWND window_;
};

// MessageBoxA with no owner, brought to the foreground; GetOpenFileNameA,
// owned by the window that asks for it.
class CWin32Prompt : public IUserPrompt {
public:
    int MessageBox(const char* text, const char* caption, unsigned type) override;
    bool ChooseFile(const FileChoice& choice, std::string* path) override;
};

// ExitWindowsEx with the shutdown privilege obtained when needed.
class CSystemPowerOff : public IPowerOff {
public:
    bool ShutdownWindows() override;
};

// Asks for the folder that "Extract Files…" writes into (UTF-8); false when
// none was chosen. In a test build (GLEANOR_TEST_SEAMS) GLEANOR_EXTRACT_FOLDER,
// when set, is the answer: the shell's folder browser takes no window messages.
bool ChooseExtractFolder(HWND owner, std::string* path);
constexpr char kExtractFolderVariable[] = "GLEANOR_EXTRACT_FOLDER";

// The system's power-off; in a test build (GLEANOR_TEST_SEAMS) the marker-file
// seam instead when GLEANOR_POWEROFF_MARKER names a file.
std::unique_ptr<IPowerOff> MakePowerOff();
