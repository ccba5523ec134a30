#include "platform/prompt.h"

#include <atomic>
#include <cctype>

namespace {

class CDecliningPrompt : public IUserPrompt {
public:
    int MessageBox(const char*, const char*, unsigned type) override { return DecliningAnswer(type); }
    bool ChooseFile(const FileChoice&, std::string*) override { return false; }
};

CDecliningPrompt decliningPrompt;
std::atomic<IUserPrompt*> current{nullptr};

}  // namespace

IUserPrompt& Prompt()
{
    IUserPrompt* p = current.load(std::memory_order_acquire);
    return p ? *p : decliningPrompt;
}

void SetPrompt(IUserPrompt* prompt) { current.store(prompt, std::memory_order_release); }

int DecliningAnswer(unsigned type)
{
    switch (type & mb::kButtonsMask) {
    case mb::kYesNo: return kIdNo;
    case mb::kYesNoCancel: return kIdCancel;
    case mb::kOkCancel: return kIdCancel;
    default: return kIdOk;
    }
}

int AcceptingAnswer(unsigned type)
{
    switch (type & mb::kButtonsMask) {
    case mb::kYesNo:
    case mb::kYesNoCancel: return kIdYes;
    default: return kIdOk;
    }
}

int AnswerFromWord(const std::string& word)
{
    std::string w;
    for (char c : word) w += char(std::tolower(static_cast<unsigned char>(c)));
    if (w == "yes") return kIdYes;
    if (w == "no") return kIdNo;
    if (w == "ok") return kIdOk;
    if (w == "cancel") return kIdCancel;
    return kIdFailed;
}

const char* AnswerWord(int answer)
{
    switch (answer) {
    case kIdYes: return "Yes";
    case kIdNo: return "No";
    case kIdOk: return "OK";
    case kIdCancel: return "Cancel";
    default: return "(none)";
    }
}
