#include "support/fakes.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "app/core/settings.h"
#include "platform/rawio.h"
#include "channel/channel.h"

void CRecordingPoster::Post(unsigned msg, unsigned wParam, const char* text)
{
    std::lock_guard<std::mutex> guard(lock_);
    messages_.push_back({msg, wParam, text ? text : ""});
}

std::vector<PostedMessage> CRecordingPoster::Messages() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return messages_;
}

std::vector<std::string> CRecordingPoster::LogLines() const
{
    std::vector<std::string> lines;
    for (const auto& m : Messages())
        if (m.msg == UM_LOG_LINE) lines.push_back(m.text);
    return lines;
}

bool CRecordingPoster::Logged(const std::string& line) const
{
    for (const auto& l : LogLines())
        if (l == line) return true;
    return false;
}

std::vector<std::string> CRecordingPoster::StatusTexts(unsigned slot) const
{
    std::vector<std::string> texts;
    for (const auto& m : Messages())
        if (m.msg == UM_STATUS_TEXT && m.wParam == slot) texts.push_back(m.text);
    return texts;
}

std::vector<unsigned> CRecordingPoster::EngineStates() const
{
    std::vector<unsigned> states;
    for (const auto& m : Messages())
        if (m.msg == UM_ENGINE_STATE) states.push_back(m.wParam);
    return states;
}

void CRecordingPoster::Clear()
{
    std::lock_guard<std::mutex> guard(lock_);
    messages_.clear();
}

void CScriptedPrompt::Answer(const std::string& caption, int answer)
{
    std::lock_guard<std::mutex> guard(lock_);
    answers_.emplace_back(caption, answer);
}

void CScriptedPrompt::ChooseFileAnswer(const std::string& path)
{
    std::lock_guard<std::mutex> guard(lock_);
    files_.push_back(path);
}

int CScriptedPrompt::MessageBox(const char* text, const char* caption, unsigned type)
{
    std::lock_guard<std::mutex> guard(lock_);
    asked.push_back({caption, text, type});
    for (auto it = answers_.begin(); it != answers_.end(); ++it) {
        if (it->first == caption) {
            int answer = it->second;
            answers_.erase(it);
            return answer;
        }
    }
    return fallback;
}

bool CScriptedPrompt::ChooseFile(const FileChoice& choice, std::string* path)
{
    std::lock_guard<std::mutex> guard(lock_);
    fileChoices.push_back(choice);
    if (files_.empty()) return false;
    std::string answer = files_.front();
    files_.pop_front();
    if (answer.empty()) return false;
    *path = answer;
    return true;
}

CFrontEndFixture::CFrontEndFixture()
{
    ResetChannel();
    settings.SetDefaults();
    settings.debugLevel = 4;
    settings.giveUpLevel = 0;
    SetPoster(&poster);
    SetPrompt(&prompt);
    SetClock(&clock);
}

CFrontEndFixture::~CFrontEndFixture()
{
    SetPoster(nullptr);
    SetPrompt(nullptr);
    SetClock(nullptr);
    settings.SetDefaults();
    settings.giveUpLevel = 0;
}

CTempDir::CTempDir()
{
    static std::atomic<unsigned> counter{0};
    std::random_device rd;
    auto base = std::filesystem::temp_directory_path();
    for (;;) {
        auto dir = base / ("gleanor-test-" + std::to_string(rd()) + "-" + std::to_string(counter++));
        if (std::filesystem::create_directory(dir)) {
            path_ = dir.string() + rawio::kSep;
            break;
        }
    }
}

CTempDir::~CTempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string SourceDir()
{
    if (const char* env = std::getenv("GLEANOR_SOURCE_DIR")) return env;
    return GLEANOR_SOURCE_DIR;
}
