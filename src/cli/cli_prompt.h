// How the command line answers the engine's questions and file dialogs.
//
// A question is answered, in this order, by an --answer for its caption, by a
// default the command itself implies (asking for a forced size is the OK to
// "Volumesize Modified !"), by --yes, by the user on a terminal, and otherwise
// with the answer that does not go ahead, saying so in the log. Boxes with
// only an OK button are shown and acknowledged. No answer is ever guessed.
#pragma once
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "cli/display.h"
#include "cli/options.h"
#include "platform/prompt.h"

struct PromptSetup {
    std::vector<QuestionAnswer> answers;  // --answer
    bool yesToAll = false;                // --yes
    bool interactive = false;             // read answers from `in` (a terminal)
    std::string imagePath;                // the image file dialog's answer; "" = the default name
    std::string destFolder;               // where the default image name goes; ends with the separator
    std::string flagPath;                 // the flag file dialog's answer; "" = cancel
};

// The buttons a box of `type` offers (kIdOk, kIdCancel, kIdYes, kIdNo).
std::vector<int> ButtonsOf(unsigned type);
// `answer` as a button of a box of `type`: itself when the box has it, else
// the box's going-ahead button for Yes/OK and its declining one for No/Cancel.
int FitAnswer(int answer, unsigned type);
// A typed answer ("y", "Yes", "c", ...) among `buttons`; kIdFailed when it is none of them.
int ParseTypedAnswer(const std::string& typed, const std::vector<int>& buttons);
// A volume label made safe as a file name in the destination: separators and
// characters file names cannot hold become '_', and "." / ".." are no names.
std::string SafeFileName(const std::string& name);

class CCliPrompt : public IUserPrompt {
public:
    // Reads one line of the user's answer; false at end of input or when cancelled.
    using LineReader = std::function<bool(std::string* line)>;

    // `showPending` brings the log up to date before a box is shown, so that
    // the lines that led to a question stand above it.
    CCliPrompt(CDisplay& display, PromptSetup setup, LineReader reader, std::function<void()> showPending = nullptr);

    int MessageBox(const char* text, const char* caption, unsigned type) override;
    bool ChooseFile(const FileChoice& choice, std::string* path) override;

    // An answer the command implies, used unless --answer names the caption.
    void SetImpliedAnswer(const std::string& caption, int answer);

private:
    bool FindAnswer(const std::vector<QuestionAnswer>& list, const std::string& caption, int* answer) const;
    int AskUserOnTerminal(const std::string& caption, const std::string& text, unsigned type);

    std::mutex lock_;  // one question at a time
    CDisplay& display_;
    PromptSetup setup_;
    std::vector<QuestionAnswer> implied_;
    LineReader reader_;
    std::function<void()> showPending_;
};

// Reads a line from `in` (a terminal), giving up when `cancelled` turns true;
// polls so that a Ctrl-C during a question is noticed.
bool ReadTerminalLine(FILE* in, std::string* line, const std::function<bool()>& cancelled);
