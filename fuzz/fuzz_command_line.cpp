// The command line's parser over arbitrary argument vectors (arguments
// separated by NUL bytes): never a crash; a refusal says what is wrong; what is
// accepted lies within the ranges the front end relies on.
#include <vector>

#include "cli/options.h"
#include "fuzz/fuzz_support.h"
#include "platform/prompt.h"

namespace {
constexpr size_t kMaxArgs = 64;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> words{"gleanor"};
    std::string current;
    for (size_t i = 0; i < size && words.size() < kMaxArgs; ++i) {
        if (data[i] == 0) {
            words.push_back(current);
            current.clear();
        } else {
            current += char(data[i]);
        }
    }
    if (!current.empty() && words.size() < kMaxArgs) words.push_back(current);
    std::vector<const char*> argv;
    for (const auto& w : words) argv.push_back(w.c_str());

    Options options;
    std::string error;
    if (!ParseCommandLine(int(argv.size()), argv.data(), &options, &error)) {
        fuzz::Check(!error.empty(), "a refusal without a reason");
        return 0;
    }
    fuzz::Check(options.logLevel >= 0 && options.logLevel <= kMaxLogLevel, "a log level out of range");
    fuzz::Check(options.giveUpLevel >= 0 && options.giveUpLevel <= kMaxGiveUpLevel, "a give-up level out of range");
    fuzz::Check(options.drive >= -1, "a negative drive number");
    for (const QuestionAnswer& a : options.answers)
        fuzz::Check(a.answer == kIdYes || a.answer == kIdNo || a.answer == kIdOk || a.answer == kIdCancel,
                    "an answer that is no button");
    return 0;
}
