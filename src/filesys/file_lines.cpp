#include "filesys/file_lines.h"

#include <cstdio>

std::string Grouped(uint64_t n)
{
    std::string digits = std::to_string(n), out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

std::string Printable(const std::string& s)
{
    std::string out;
    for (char c : s) out += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '?' : c;
    return out;
}

std::string MissingText(const FileRecord& f)
{
    char percent[32];
    double p = f.size ? 100.0 * double(f.missingBytes) / double(f.size) : 100.0;
    std::snprintf(percent, sizeof percent, "%.1f %%", p);
    return "missing " + Grouped(f.missingSectors) + (f.missingSectors == 1 ? " sector, " : " sectors, ") +
           Grouped(f.missingBytes) + " bytes (" + percent + ")";
}

std::string FileLine(const FileRecord& f)
{
    if (f.symlink) return Printable(f.path) + " -> " + Printable(f.linkTarget) + "  symbolic link";
    // An unknown file's size is not known either.
    if (f.unknown) return Printable(f.path) + "  unknown: its entry is unreadable";
    std::string line = Printable(f.path) + "  " + Grouped(f.size) + " bytes  ";
    return line + (f.missingSectors ? MissingText(f) : "complete");
}

std::string SummaryLine(const DamageSummary& s)
{
    return "files: " + Grouped(s.complete) + " complete, " + Grouped(s.damaged) + " damaged, " + Grouped(s.unknown) +
           " unknown";
}
