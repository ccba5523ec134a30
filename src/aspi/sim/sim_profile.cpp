// The profile of a simulated disc: one setting a line, '#' starts a comment.
//
// The parser is strict on purpose: profiles drive tests and demos, so a typo
// must be refused with the file, the line and the problem rather than quietly
// giving a different disc. It never trusts its input (a fuzzer reads it).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "aspi/sim/sim_drive.h"
#include "platform/rawio.h"

namespace {

constexpr uint32_t kDefaultSectors = 20000;
constexpr size_t kMaxProfileBytes = 1u << 20;  // a profile is a few lines; refuse anything huge
constexpr size_t kVendorChars = 8;             // INQUIRY vendor identification
constexpr size_t kProductChars = 16;           // INQUIRY product identification
constexpr size_t kLabelChars = 32;             // ISO 9660 volume identifier
constexpr int kMaxFractionDigits = 15;         // enough for any probability a double holds

struct ParseState {
    SimProfile profile;
    std::string baseDir;
    int64_t imageBytes = -1;  // size of the image file, once an image line was read
    int imageLine = 0;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

std::string Quoted(std::string_view s)
{
    std::string quoted;
    quoted.reserve(s.size() + 2);
    quoted += '"';
    quoted.append(s);
    quoted += '"';
    return quoted;
}

// Unsigned decimal, digits only: no sign, no spaces, no hex, no overflow.
bool ParseU32(std::string_view s, uint32_t* value)
{
    if (s.empty() || s.size() > 10) return false;
    uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + uint64_t(c - '0');
    }
    if (v > UINT32_MAX) return false;
    *value = uint32_t(v);
    return true;
}

// Plain decimal fraction: "1", "0.25", ".5", "1.". No exponent, no sign.
bool ParseDecimal(std::string_view s, double* value)
{
    size_t dot = s.find('.');
    std::string_view whole = s.substr(0, dot);
    std::string_view frac = dot == std::string_view::npos ? std::string_view() : s.substr(dot + 1);
    if (whole.empty() && frac.empty()) return false;
    if (whole.size() > 10 || frac.size() > size_t(kMaxFractionDigits)) return false;
    double v = 0;
    for (char c : whole) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    double scale = 1;
    for (char c : frac) {
        if (c < '0' || c > '9') return false;
        scale /= 10;
        v += (c - '0') * scale;
    }
    *value = v;
    return true;
}

// "A-B", both inclusive, A <= B. Returns "" or the problem.
std::string ParseRange(std::string_view s, SimRange* range)
{
    size_t dash = s.find('-');
    if (dash == std::string_view::npos) return "expected a range A-B, got " + Quoted(s);
    if (!ParseU32(s.substr(0, dash), &range->first) || !ParseU32(s.substr(dash + 1), &range->last))
        return "bad range " + Quoted(s);
    if (range->first > range->last) return "inverted range " + Quoted(s);
    return "";
}

// The value as one word; the problem when there is none or more than one.
std::string OneWord(std::string_view value, std::string_view* word)
{
    for (char c : value)
        if (IsBlank(c)) return "unexpected text after " + Quoted(value.substr(0, value.find_first_of(" \t")));
    *word = value;
    return "";
}

std::string NumberSetting(std::string_view value, uint32_t* out)
{
    std::string_view word;
    std::string problem = OneWord(value, &word);
    if (!problem.empty()) return problem;
    if (!ParseU32(word, out)) return "bad number " + Quoted(word);
    return "";
}

std::string TextSetting(std::string_view value, size_t maxChars, std::string* out)
{
    if (value.size() > maxChars) return "longer than " + std::to_string(maxChars) + " characters";
    *out = std::string(value);
    return "";
}

bool IsAbsolutePath(const std::string& p)
{
    if (!p.empty() && (p[0] == '/' || p[0] == '\\')) return true;
    return p.size() >= 2 && p[1] == ':';  // a drive letter
}

std::string ImageSetting(ParseState& st, std::string_view value, int line)
{
    std::string path(value);
    if (!IsAbsolutePath(path) && !st.baseDir.empty()) {
        char last = st.baseDir.back();
        path = st.baseDir + (last == '/' || last == '\\' ? "" : std::string(1, rawio::kSep)) + path;
    }
    int fd = rawio::OpenReadOnly(path.c_str());
    if (fd < 0) return "image file not found: " + path;
    st.imageBytes = rawio::Size(fd);
    rawio::Close(fd);
    st.imageLine = line;
    st.profile.image = path;
    return "";
}

std::string RangeSetting(ParseState& st, std::string_view value, bool flaky)
{
    SimRange range;
    range.flaky = flaky;
    std::string_view text = value;
    std::string_view rest;
    if (flaky) {
        size_t gap = value.find_first_of(" \t");
        if (gap == std::string_view::npos) return "expected A-B P";
        text = value.substr(0, gap);
        rest = Trim(value.substr(gap));
    } else {
        std::string problem = OneWord(value, &text);
        if (!problem.empty()) return problem;
    }
    std::string problem = ParseRange(text, &range);
    if (!problem.empty()) return problem;
    if (flaky) {
        std::string_view word;
        problem = OneWord(rest, &word);
        if (!problem.empty()) return problem;
        bool negative = !word.empty() && word[0] == '-';
        double p = 0;
        if (!ParseDecimal(negative ? word.substr(1) : word, &p)) return "bad probability " + Quoted(word);
        if (negative || p > 1) return "probability " + std::string(word) + " outside 0..1";
        range.probability = p;
    }
    st.profile.ranges.push_back(range);
    return "";
}

std::string ChoiceSetting(std::string_view value, std::string_view a, std::string_view b, std::string_view c,
                          int* choice)
{
    if (value == a) *choice = 0;
    else if (value == b) *choice = 1;
    else if (!c.empty() && value == c) *choice = 2;
    else if (c.empty()) return "expected " + std::string(a) + " or " + std::string(b);
    else return "expected " + std::string(a) + ", " + std::string(b) + " or " + std::string(c);
    return "";
}

constexpr std::string_view kSettings[] = {
    "sectors", "capacity", "block_length", "image",   "label",   "bad",       "flaky",        "seed",    "sector_us",
    "error_ms", "tray",    "disc",         "vendor",  "product", "spinup_ms", "vanish_after", "stall_ms",
    "file", "return_after", "new_address",
};

// "PATH BYTES": the size is the last word, the path everything before it.
std::string FileSetting(ParseState& st, std::string_view value)
{
    size_t gap = value.find_last_of(" \t");
    if (gap == std::string_view::npos) return "expected a path and a size in bytes";
    SimFile f;
    f.path = std::string(Trim(value.substr(0, gap)));
    std::string problem = NumberSetting(value.substr(gap + 1), &f.bytes);
    if (!problem.empty()) return problem;
    st.profile.files.push_back(f);
    return "";
}

bool IsKnownSetting(std::string_view name)
{
    for (std::string_view s : kSettings)
        if (s == name) return true;
    return false;
}

// Applies one setting; "" or the problem.
std::string ApplySetting(ParseState& st, std::string_view name, std::string_view value, int line)
{
    SimProfile& p = st.profile;
    if (!IsKnownSetting(name)) return "unknown setting " + Quoted(name);
    if (value.empty()) return "missing value";
    if (name == "sectors") {
        p.sectorsSet = true;
        return NumberSetting(value, &p.sectors);
    }
    if (name == "capacity") {
        p.capacitySet = true;
        return NumberSetting(value, &p.capacity);
    }
    if (name == "block_length") return NumberSetting(value, &p.blockLength);
    if (name == "seed") return NumberSetting(value, &p.seed);
    if (name == "sector_us") return NumberSetting(value, &p.sectorMicros);
    if (name == "error_ms") return NumberSetting(value, &p.errorMillis);
    if (name == "spinup_ms") return NumberSetting(value, &p.spinupMillis);
    if (name == "vanish_after") return NumberSetting(value, &p.vanishAfter);
    if (name == "stall_ms") return NumberSetting(value, &p.stallMillis);
    if (name == "return_after") return NumberSetting(value, &p.returnAfter);
    if (name == "image") return ImageSetting(st, value, line);
    if (name == "label") return TextSetting(value, kLabelChars, &p.label);
    if (name == "vendor") return TextSetting(value, kVendorChars, &p.vendor);
    if (name == "product") return TextSetting(value, kProductChars, &p.product);
    if (name == "bad") return RangeSetting(st, value, false);
    if (name == "flaky") return RangeSetting(st, value, true);
    if (name == "file") return FileSetting(st, value);
    if (name == "tray") {
        int choice = 0;
        std::string problem = ChoiceSetting(value, "closed", "open", "fixed", &choice);
        p.tray = choice == 0 ? SimTray::Closed : choice == 1 ? SimTray::Open : SimTray::Fixed;
        return problem;
    }
    if (name == "disc") {
        int choice = 0;
        std::string problem = ChoiceSetting(value, "yes", "no", "", &choice);
        p.disc = choice == 0;
        return problem;
    }
    if (name == "new_address") {
        int choice = 0;
        std::string problem = ChoiceSetting(value, "yes", "no", "", &choice);
        p.newAddress = choice == 0;
        return problem;
    }
    return "unknown setting " + Quoted(name);
}

// One line without its line break; "" or the problem.
std::string ParseLine(ParseState& st, std::string_view line, int number)
{
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);  // CR LF files
    line = line.substr(0, line.find('#'));
    for (char c : line)
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F) return "unprintable character";
    line = Trim(line);
    if (line.empty()) return "";
    size_t gap = line.find_first_of(" \t");
    std::string_view name = line.substr(0, gap);
    std::string_view value = gap == std::string_view::npos ? std::string_view() : Trim(line.substr(gap));
    std::string problem = ApplySetting(st, name, value, number);
    if (problem.empty()) return "";
    if (problem.rfind("unknown setting", 0) == 0) return problem;
    return std::string(name) + ": " + problem;
}

std::string Located(const std::string& where, int line, const std::string& problem)
{
    return where + ":" + std::to_string(line) + ": " + problem;
}

// Defaults that depend on other settings, settled once the whole file is read.
bool ResolveDefaults(ParseState& st, const std::string& where, std::string* error)
{
    SimProfile& p = st.profile;
    if (!p.sectorsSet) {
        p.sectors = kDefaultSectors;
        if (!p.image.empty()) {
            if (st.imageBytes < 0 || uint64_t(st.imageBytes) / kSimSectorSize > UINT32_MAX) {
                *error = Located(where, st.imageLine, "image: cannot tell the size of " + p.image);
                return false;
            }
            p.sectors = uint32_t(uint64_t(st.imageBytes) / kSimSectorSize);
        }
    }
    if (!p.capacitySet) p.capacity = p.sectors ? p.sectors - 1 : 0;
    if (!p.files.empty()) {
        std::string problem;
        if (!p.image.empty()) problem = "file: files make generated content; a profile with an image has its own";
        else p.volume = CSimVolume::Build(p.files, p.label, p.sectors, &problem);
        if (!problem.empty()) {
            *error = where + ": " + problem;
            return false;
        }
    }
    return true;
}

}  // namespace

bool ParseSimProfile(const std::string& text, const std::string& where, const std::string& baseDir,
                     SimProfile* profile, std::string* error)
{
    ParseState st;
    st.profile.path = where;
    st.baseDir = baseDir;
    std::string_view rest(text);
    int number = 0;
    while (!rest.empty()) {
        ++number;
        size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        std::string problem = ParseLine(st, line, number);
        if (!problem.empty()) {
            *error = Located(where, number, problem);
            return false;
        }
    }
    if (!ResolveDefaults(st, where, error)) return false;
    *profile = std::move(st.profile);
    return true;
}

bool LoadSimProfile(const std::string& path, SimProfile* profile, std::string* error)
{
    int fd = rawio::OpenReadOnly(path.c_str());
    if (fd < 0) {
        *error = path + ": cannot open the profile";
        return false;
    }
    int64_t size = rawio::Size(fd);
    if (size < 0 || uint64_t(size) > kMaxProfileBytes) {
        rawio::Close(fd);
        *error = path + (size < 0 ? ": cannot read the profile" : ": profile larger than 1 MiB");
        return false;
    }
    std::string text(size_t(size), '\0');
    int got = text.empty() ? 0 : rawio::Read(fd, text.data(), unsigned(text.size()));
    rawio::Close(fd);
    if (got != int(text.size())) {
        *error = path + ": cannot read the profile";
        return false;
    }
    size_t slash = path.find_last_of(std::string("/") + rawio::kSep);
    std::string baseDir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    return ParseSimProfile(text, path, baseDir, profile, error);
}
