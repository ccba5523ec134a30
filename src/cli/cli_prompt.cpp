#include "cli/cli_prompt.h"

#include <cctype>

#include "platform/rawio.h"
#include "channel/channel.h"

namespace {

constexpr const char kImageFilterTail[] = "*.iso";
constexpr const char kFlagFilterTail[] = "*.flg";

bool Contains(const std::string& s, const char* part)
{
    return s.find(part) != std::string::npos;
}

std::string ButtonsHint(const std::vector<int>& buttons)
{
    std::string hint = "  Answer (";
    for (size_t i = 0; i < buttons.size(); ++i) {
        if (i) hint += "/";
        hint += AnswerWord(buttons[i]);
    }
    return hint + "): ";
}

}  // namespace

std::vector<int> ButtonsOf(unsigned type)
{
    switch (type & mb::kButtonsMask) {
    case mb::kOkCancel: return {kIdOk, kIdCancel};
    case mb::kYesNo: return {kIdYes, kIdNo};
    case mb::kYesNoCancel: return {kIdYes, kIdNo, kIdCancel};
    default: return {kIdOk};
    }
}

int FitAnswer(int answer, unsigned type)
{
    for (int b : ButtonsOf(type))
        if (b == answer) return answer;
    bool goesAhead = answer == kIdYes || answer == kIdOk;
    return goesAhead ? AcceptingAnswer(type) : DecliningAnswer(type);
}

int ParseTypedAnswer(const std::string& typed, const std::vector<int>& buttons)
{
    std::string word;
    for (char c : typed)
        if (!std::isspace(static_cast<unsigned char>(c))) word += char(std::tolower(static_cast<unsigned char>(c)));
    if (word.empty()) return kIdFailed;
    for (int b : buttons) {
        std::string name = AnswerWord(b);
        for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
        // The whole word, or its first letter (y, n, o, c are all different).
        if (word == name || (word.size() == 1 && word[0] == name[0])) return b;
    }
    return kIdFailed;
}

std::string SafeFileName(const std::string& name)
{
    std::string safe;
    for (char c : name) {
        unsigned char u = static_cast<unsigned char>(c);
        bool bad = u < 0x20 || c == '/' || c == '\\' || c == ':' || c == '*' || c == '?' || c == '"' || c == '<' ||
                   c == '>' || c == '|';
        safe += bad ? '_' : c;
    }
    // A name made of dots alone ("..", "...iso" stays) must not climb out.
    size_t dots = safe.find_first_not_of('.');
    if (safe.empty() || dots == std::string::npos) safe = std::string(safe.size() ? safe.size() : 1, '_');
    return safe;
}

CCliPrompt::CCliPrompt(CDisplay& display, PromptSetup setup, LineReader reader, std::function<void()> showPending)
    : display_(display), setup_(std::move(setup)), reader_(std::move(reader)), showPending_(std::move(showPending))
{
}

void CCliPrompt::SetImpliedAnswer(const std::string& caption, int answer)
{
    std::lock_guard<std::mutex> guard(lock_);
    implied_.push_back({caption, answer});
}

bool CCliPrompt::FindAnswer(const std::vector<QuestionAnswer>& list, const std::string& caption, int* answer) const
{
    for (const QuestionAnswer& a : list) {
        if (a.caption == caption) {
            *answer = a.answer;
            return true;
        }
    }
    return false;
}

int CCliPrompt::MessageBox(const char* textIn, const char* captionIn, unsigned type)
{
    std::lock_guard<std::mutex> guard(lock_);
    std::string text = textIn ? textIn : "";
    std::string caption = captionIn ? captionIn : "";
    std::vector<int> buttons = ButtonsOf(type);
    if (showPending_) showPending_();

    if (buttons.size() == 1) {  // a message, not a question
        display_.BeginQuestion(caption, text, "");
        display_.EndQuestion();
        return kIdOk;
    }
    int answer = kIdFailed;
    const char* how = nullptr;
    if (FindAnswer(setup_.answers, caption, &answer)) {
        how = "--answer";
    } else if (FindAnswer(implied_, caption, &answer)) {
        how = "the command line";
    } else if (setup_.yesToAll) {
        answer = AcceptingAnswer(type);
        how = "--yes";
    }
    if (how) {
        answer = FitAnswer(answer, type);
        display_.BeginQuestion(caption, text, "");
        display_.EndQuestion();
        LogPrintf(0, "Answered \"%s\" with %s (%s)", caption.c_str(), AnswerWord(answer), how);
        return answer;
    }
    if (setup_.interactive) {
        answer = AskUserOnTerminal(caption, text, type);
        if (answer != kIdFailed) return answer;
    } else {
        display_.BeginQuestion(caption, text, "");
        display_.EndQuestion();
    }
    answer = DecliningAnswer(type);
    LogPrintf(0, "Declined \"%s\" with %s (no answer given)", caption.c_str(), AnswerWord(answer));
    return answer;
}

int CCliPrompt::AskUserOnTerminal(const std::string& caption, const std::string& text, unsigned type)
{
    std::vector<int> buttons = ButtonsOf(type);
    std::string hint = ButtonsHint(buttons);
    display_.BeginQuestion(caption, text, hint);
    int answer = kIdFailed;
    std::string line;
    while (reader_ && reader_(&line)) {
        answer = ParseTypedAnswer(line, buttons);
        if (answer != kIdFailed) break;
        display_.BeginQuestion(caption, "Please type one of the answers.", hint);
    }
    display_.EndQuestion();
    if (answer != kIdFailed) LogPrintf(0, "Answered \"%s\" with %s", caption.c_str(), AnswerWord(answer));
    return answer;
}

bool CCliPrompt::ChooseFile(const FileChoice& choice, std::string* path)
{
    std::lock_guard<std::mutex> guard(lock_);
    std::string chosen;
    if (Contains(choice.filter, kImageFilterTail)) {
        chosen = !setup_.imagePath.empty() ? setup_.imagePath : setup_.destFolder + SafeFileName(choice.defaultName);
    } else if (Contains(choice.filter, kFlagFilterTail)) {
        chosen = setup_.flagPath;
    }
    if (chosen.empty()) return false;
    if (chosen.size() > size_t(rawio::kMaxPath)) {
        // The engine keeps 260 characters; a cut path would name another file.
        display_.Note("gleanor: the path " + chosen + " is longer than 260 characters; the file choice is cancelled");
        return false;
    }
    *path = chosen;
    return true;
}
