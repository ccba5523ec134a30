// Fakes that stand in for the front end in tests: a poster that records every
// message, and a prompt that answers from a script and records what was asked.
#pragma once
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/poster.h"
#include "platform/prompt.h"

struct PostedMessage {
    unsigned msg;
    unsigned wParam;
    std::string text;  // "" for notifications
    bool operator==(const PostedMessage&) const = default;
};

class CRecordingPoster : public IPoster {
public:
    void Post(unsigned msg, unsigned wParam, const char* text) override;
    std::vector<PostedMessage> Messages() const;
    // The texts of all UM_LOG_LINE posts, in order.
    std::vector<std::string> LogLines() const;
    // Whether some log line equals `line`.
    bool Logged(const std::string& line) const;
    // The texts posted to one status slot, in order.
    std::vector<std::string> StatusTexts(unsigned slot) const;
    std::vector<unsigned> EngineStates() const;
    void Clear();

private:
    mutable std::mutex lock_;
    std::vector<PostedMessage> messages_;
};

struct AskedQuestion {
    std::string caption;
    std::string text;
    unsigned type;
    bool operator==(const AskedQuestion&) const = default;
};

// Answers questions by caption from a queue of answers; a question without a
// scripted answer gets `fallback` (kIdFailed unless set).
class CScriptedPrompt : public IUserPrompt {
public:
    void Answer(const std::string& caption, int answer);
    void ChooseFileAnswer(const std::string& path);  // "" = cancel
    int MessageBox(const char* text, const char* caption, unsigned type) override;
    bool ChooseFile(const FileChoice& choice, std::string* path) override;

    int fallback = kIdFailed;
    std::vector<AskedQuestion> asked;
    std::vector<FileChoice> fileChoices;

private:
    std::mutex lock_;
    std::deque<std::pair<std::string, int>> answers_;
    std::deque<std::string> files_;
};

// Installs a poster, a prompt and a virtual clock for one test's lifetime and
// restores the process defaults afterwards; resets the channel and settings.
class CFrontEndFixture {
public:
    CFrontEndFixture();
    ~CFrontEndFixture();
    CRecordingPoster poster;
    CScriptedPrompt prompt;
    CVirtualClock clock;
};

// A fresh empty folder under the system's temporary folder, removed at the end.
class CTempDir {
public:
    CTempDir();
    ~CTempDir();
    const std::string& Path() const { return path_; }  // ends with the separator
    std::string File(const std::string& name) const { return path_ + name; }

private:
    std::string path_;
};

// The source tree's root (for examples/ and test data).
std::string SourceDir();
