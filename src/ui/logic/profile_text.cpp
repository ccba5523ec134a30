#include "ui/logic/profile_store.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <cctype>

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string Trim(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

bool SameName(const std::string& a, const char* b)
{
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (std::tolower((unsigned char)a[i]) != std::tolower((unsigned char)b[i])) return false;
    return i == a.size() && b[i] == '\0';
}

std::vector<std::string> ReadLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool IsSection(const std::string& line, std::string* name)
{
    std::string t = Trim(line);
    if (t.size() < 2 || t.front() != '[' || t.back() != ']') return false;
    *name = Trim(t.substr(1, t.size() - 2));
    return true;
}

bool IsKey(const std::string& line, std::string* key, std::string* value)
{
    size_t eq = line.find('=');
    if (eq == std::string::npos) return false;
    *key = Trim(line.substr(0, eq));
    *value = Trim(line.substr(eq + 1));
    return true;
}

}  // namespace

std::string EncodeStructText(const void* data, unsigned size)
{
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    std::string text;
    uint8_t sum = 0;
    for (unsigned i = 0; i < size; ++i) {
        text += kHexDigits[bytes[i] >> 4];
        text += kHexDigits[bytes[i] & 15];
        sum = uint8_t(sum + bytes[i]);
    }
    text += kHexDigits[sum >> 4];
    text += kHexDigits[sum & 15];
    return text;
}

bool DecodeStructText(const std::string& text, void* data, unsigned size)
{
    if (text.size() != 2 * size_t(size) + 2) return false;
    std::vector<uint8_t> bytes(size + 1);
    for (unsigned i = 0; i <= size; ++i) {
        int hi = HexValue(text[2 * i]), lo = HexValue(text[2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        bytes[i] = uint8_t(hi * 16 + lo);
    }
    uint8_t sum = 0;
    for (unsigned i = 0; i < size; ++i) sum = uint8_t(sum + bytes[i]);
    if (sum != bytes[size]) return false;
    std::copy(bytes.begin(), bytes.begin() + size, static_cast<uint8_t*>(data));
    return true;
}

bool CIniTextProfile::Find(const char* section, const char* key, std::string* value) const
{
    std::string current, k, v;
    for (const auto& line : ReadLines(path_)) {
        if (IsSection(line, &current)) continue;
        if (SameName(current, section) && IsKey(line, &k, &v) && SameName(k, key)) {
            *value = v;
            return true;
        }
    }
    return false;
}

std::string CIniTextProfile::GetString(const char* section, const char* key, const char* fallback, unsigned maxChars)
{
    std::string value;
    if (!Find(section, key, &value)) value = fallback;
    if (value.size() > maxChars) value.resize(maxChars);
    return value;
}

bool CIniTextProfile::GetStruct(const char* section, const char* key, void* data, unsigned size)
{
    std::string value;
    return Find(section, key, &value) && DecodeStructText(value, data, size);
}

int CIniTextProfile::GetInt(const char* section, const char* key, int fallback)
{
    std::string value;
    if (!Find(section, key, &value)) return fallback;
    return int(std::strtol(value.c_str(), nullptr, 10));
}

bool CIniTextProfile::WriteString(const char* section, const char* key, const char* value)
{
    std::vector<std::string> lines = ReadLines(path_);
    std::string current, k, v;
    size_t sectionEnd = std::string::npos;  // where a new key of the section goes
    bool replaced = false;
    for (size_t i = 0; i < lines.size() && !replaced; ++i) {
        if (IsSection(lines[i], &current)) {
            if (SameName(current, section)) sectionEnd = i + 1;
            continue;
        }
        if (!SameName(current, section)) continue;
        if (IsKey(lines[i], &k, &v) && SameName(k, key)) {
            lines[i] = k + "=" + value;
            replaced = true;
        } else if (!Trim(lines[i]).empty()) {
            sectionEnd = i + 1;
        }
    }
    if (!replaced) {
        std::string entry = std::string(key) + "=" + value;
        if (sectionEnd == std::string::npos) {
            lines.push_back(std::string("[") + section + "]");
            lines.push_back(entry);
        } else {
            lines.insert(lines.begin() + long(sectionEnd), entry);
        }
    }
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    for (const auto& line : lines) out << line << "\r\n";
    return bool(out);
}

bool CIniTextProfile::WriteStruct(const char* section, const char* key, const void* data, unsigned size)
{
    return WriteString(section, key, EncodeStructText(data, size).c_str());
}
