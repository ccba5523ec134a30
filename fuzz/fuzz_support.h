// Shared pieces of the fuzz targets: a scratch folder on a memory file system,
// whole-file helpers, and a prompt that answers from fuzz bytes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/prompt.h"

namespace fuzz {

// A private folder made once per process (under /dev/shm when it exists, so
// millions of runs do not wear a disk); ends with '/'.
const std::string& ScratchDir();

bool WriteFileBytes(const std::string& path, const uint8_t* data, size_t size);
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFileBytes(const std::string& path);
void RemoveFile(const std::string& path);

uint32_t GetLe32(const uint8_t* p);
void PutLe32(uint8_t* p, uint32_t v);

// Stops the process with a message naming the broken invariant; libFuzzer
// then saves the input as a crash.
[[noreturn]] void Fail(const char* what);
inline void Check(bool ok, const char* what)
{
    if (!ok) Fail(what);
}

// Answers each question with the next answer in `answers` (kIdFailed once they
// run out) and counts the questions.
class CByteAnswers : public IUserPrompt {
public:
    explicit CByteAnswers(std::vector<int> answers) : answers_(std::move(answers)) {}
    int MessageBox(const char* text, const char* caption, unsigned type) override;
    bool ChooseFile(const FileChoice& choice, std::string* path) override;
    int asked = 0;

private:
    std::vector<int> answers_;
};

// One of the five answers a box can give, chosen by a byte.
int AnswerFromByte(uint8_t b);

}  // namespace fuzz
