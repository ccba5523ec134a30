// Questions to the user and the choice of a file: the two interactions the
// engine needs from whatever front end runs it.
//
// Button and icon codes are the Win32 MB_* / ID* values, so the Windows front
// end passes them straight through and logs stay comparable across builds.
#pragma once
#include <cstddef>
#include <string>

namespace mb {
constexpr unsigned kOk = 0x0;
constexpr unsigned kOkCancel = 0x1;
constexpr unsigned kYesNoCancel = 0x3;
constexpr unsigned kYesNo = 0x4;
constexpr unsigned kIconError = 0x10;
constexpr unsigned kIconQuestion = 0x20;
constexpr unsigned kIconWarning = 0x30;
constexpr unsigned kSetForeground = 0x10000;
constexpr unsigned kButtonsMask = 0xF;
constexpr unsigned kIconMask = 0xF0;
}  // namespace mb

// Answers, as MessageBox returns them. 0 means the box could not be shown.
constexpr int kIdFailed = 0;
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

struct FileChoice {
    std::string defaultName;  // preset file name
    std::string filter;       // "Image Files (*.iso)|*.iso||"
    std::string initialDir;   // folder the dialog starts in
    bool mustExist = false;   // only existing files are accepted
    // The window that asks (a front end's window handle): the dialog belongs
    // to it and keeps it from taking input until it closes. None from the worker.
    void* owner = nullptr;
};

class IUserPrompt {
public:
    virtual ~IUserPrompt() = default;
    // A question box with no owner window. Returns kIdOk, kIdYes, ... or kIdFailed.
    virtual int MessageBox(const char* text, const char* caption, unsigned type) = 0;
    // The Open file dialog. False when the user cancelled; otherwise *path is the choice.
    virtual bool ChooseFile(const FileChoice& choice, std::string* path) = 0;
};

// The prompt in force for the process; one that declines everything unless replaced.
IUserPrompt& Prompt();
void SetPrompt(IUserPrompt* prompt);  // nullptr restores the default

// Shorthand for the engine: Prompt().MessageBox(...).
inline int AskUser(const char* text, const char* caption, unsigned type)
{
    return Prompt().MessageBox(text, caption, type);
}

// The answer that does not go ahead for a box of these buttons (No or Cancel; OK for an OK box).
int DecliningAnswer(unsigned type);
// The answer that goes ahead (Yes or OK).
int AcceptingAnswer(unsigned type);
// "yes", "no", "ok", "cancel" -> kId*; kIdFailed for anything else.
int AnswerFromWord(const std::string& word);
const char* AnswerWord(int answer);
