#include "cli/text.h"

#include <cstdio>

namespace {

// Length of the valid UTF-8 sequence at s[i], 0 when it is not one (overlong
// forms, surrogates and code points above U+10FFFF are not valid).
size_t Utf8Length(const std::string& s, size_t i)
{
    auto byte = [&](size_t k) { return k < s.size() ? static_cast<unsigned char>(s[k]) : 0u; };
    unsigned c = byte(i);
    auto cont = [&](size_t k) { return (byte(k) & 0xC0) == 0x80; };
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) return cont(i + 1) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        unsigned c1 = byte(i + 1);
        if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 >= 0xA0)) return 0;
        return cont(i + 1) && cont(i + 2) ? 3 : 0;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        unsigned c1 = byte(i + 1);
        if ((c == 0xF0 && c1 < 0x90) || (c == 0xF4 && c1 >= 0x90)) return 0;
        return cont(i + 1) && cont(i + 2) && cont(i + 3) ? 4 : 0;
    }
    return 0;
}

}  // namespace

std::string JsonString(const std::string& s)
{
    std::string out = "\"";
    for (size_t i = 0; i < s.size();) {
        unsigned char u = static_cast<unsigned char>(s[i]);
        size_t n = Utf8Length(s, i);
        if (u == '"' || u == '\\') {
            out += '\\';
            out += char(u);
        } else if (u < 0x20 || u == 0x7F || n == 0) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", unsigned(u));
            out += buf;
            n = 1;
        } else {
            out.append(s, i, n);
        }
        i += n;
    }
    return out + "\"";
}
