// Reading a mapfile's text.
#include <cstring>
#include <sstream>

#include "mapfile/mapfile.h"
#include "platform/rawio.h"

namespace {

constexpr const char kPhaseStatuses[] = "?*/-FG+";  // the status line's
constexpr const char kBlockStatuses[] = "?*/-+";    // a block's
constexpr unsigned kReadChunk = 65536;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// The line without its comment, split at blank space.
std::vector<std::string> Fields(const std::string& line)
{
    std::vector<std::string> fields;
    std::string word;
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c == '#' && (i == 0 || IsBlank(line[i - 1]))) break;
        if (IsBlank(c)) {
            if (!word.empty()) fields.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) fields.push_back(word);
    return fields;
}

int DigitValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
}

// A non-negative integer as C++ writes it: 0x hexadecimal, 0 octal, else
// decimal; not above kMapMaxEnd.
bool ParseNumber(const std::string& text, uint64_t* value)
{
    unsigned base = 10;
    size_t at = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        at = 2;
    } else if (text.size() > 1 && text[0] == '0') {
        base = 8;
        at = 1;
    }
    if (at >= text.size()) return false;
    uint64_t n = 0;
    for (; at < text.size(); ++at) {
        unsigned d = unsigned(DigitValue(text[at]));
        if (d >= base || n > (kMapMaxEnd - d) / base) return false;
        n = n * base + d;
    }
    *value = n;
    return true;
}

bool StatusChar(const std::string& word, const char* allowed, char* status)
{
    if (word.size() != 1 || std::strchr(allowed, word[0]) == nullptr) return false;
    *status = word[0];
    return true;
}

bool LineError(std::string* error, unsigned line, const std::string& what)
{
    *error = "line " + std::to_string(line) + ": " + what;
    return false;
}

}  // namespace

bool ParseMapfile(const std::string& text, Mapfile* map, std::string* error)
{
    *map = Mapfile();
    std::istringstream in(text);
    std::string line;
    unsigned number = 0;
    bool statusSeen = false;
    uint64_t end = 0;  // of the last block
    while (std::getline(in, line)) {
        ++number;
        std::vector<std::string> f = Fields(line);
        if (f.empty()) continue;
        if (!statusSeen) {
            uint64_t pass = 1;
            if (f.size() < 2 || f.size() > 3 || !ParseNumber(f[0], &map->currentPos) ||
                !StatusChar(f[1], kPhaseStatuses, &map->currentStatus) ||
                (f.size() == 3 && (f[2][0] == '0' || !ParseNumber(f[2], &pass) || pass > 0xFFFFFFFFu)))
                return LineError(error, number, "expected the status line 'current_pos current_status current_pass'");
            map->currentPass = unsigned(pass);
            statusSeen = true;
            continue;
        }
        MapBlock b;
        if (f.size() != 3 || !ParseNumber(f[0], &b.pos) || !ParseNumber(f[1], &b.size) ||
            !StatusChar(f[2], kBlockStatuses, &b.status))
            return LineError(error, number, "expected a block 'pos size status' (status one of " +
                                                std::string(kBlockStatuses) + ")");
        if (b.size > kMapMaxEnd - b.pos) return LineError(error, number, "the block ends beyond any file");
        if (b.pos < end) return LineError(error, number, "the block overlaps the one before it or is out of order");
        end = b.pos + b.size;
        if (b.size > 0) map->blocks.push_back(b);
    }
    if (!statusSeen) {
        *error = "no status line: not a mapfile";
        return false;
    }
    return true;
}

bool LoadMapfile(const char* path, Mapfile* map, std::string* error)
{
    int fd = rawio::OpenReadOnly(path);
    if (fd < 0) {
        *error = std::string(path) + ": cannot open the mapfile";
        return false;
    }
    std::string text;
    std::vector<char> chunk(kReadChunk);
    int got = 0;
    while ((got = rawio::Read(fd, chunk.data(), kReadChunk)) > 0) text.append(chunk.data(), size_t(got));
    rawio::Close(fd);
    if (got < 0) {
        *error = std::string(path) + ": cannot read the mapfile";
        return false;
    }
    if (!ParseMapfile(text, map, error)) {
        *error = std::string(path) + ": " + *error;
        return false;
    }
    return true;
}
