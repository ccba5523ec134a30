#include "cli/image_set_name.h"

#include <cctype>

namespace {

constexpr const char* kSetEndings[] = {".flg", ".iso", ".imp"};
constexpr size_t kEndingLength = 4;

bool EndsWithSetEnding(const std::string& name)
{
    if (name.size() <= kEndingLength) return false;
    std::string tail = name.substr(name.size() - kEndingLength);
    for (char& c : tail) c = char(std::tolower(static_cast<unsigned char>(c)));
    for (const char* e : kSetEndings)
        if (tail == e) return name[name.size() - kEndingLength - 1] != '/';
    return false;
}

}  // namespace

ImageSetNames ImageSetFromName(const std::string& name)
{
    std::string base = EndsWithSetEnding(name) ? name.substr(0, name.size() - kEndingLength) : name;
    return ImageSetNames{base + ".flg", base + ".iso"};
}
