// Helpers of the file-system tests: volumes made by third-party tools in a
// fresh folder, damage written as flag files, and the tools' own reports.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <sys/stat.h>

#include "engine/recovery_engine.h"
#include "filesys/listing.h"
#include "support/fakes.h"

// Runs a shell command; its standard output, and its exit status in *status.
inline std::string Shell(const std::string& command, int* status = nullptr)
{
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int rc = pclose(p);
    if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

inline bool HaveTool(const std::string& name)
{
    int status = 0;
    Shell("command -v " + name + " >/dev/null 2>&1", &status);
    return status == 0;
}

#define REQUIRE_TOOL(name) \
    ASSERT_TRUE(HaveTool(name)) << name << " is not installed (bash scripts/deps.sh filesys installs it)"

inline uint32_t ImageSectors(const std::string& image)
{
    struct stat st {};
    return stat(image.c_str(), &st) == 0 ? uint32_t(st.st_size / kFsSectorSize) : 0;
}

// A flag file for `sectors` sectors with `missing` marked missing, the rest read.
inline void WriteFlagFile(const std::string& path, uint32_t sectors, const std::set<uint32_t>& missing)
{
    FlagHeader h;
    h.sectorCount = sectors;
    h.sectorSize = kFsSectorSize;
    h.sectorsRead = sectors - uint32_t(missing.size());
    h.checksum = 0 - h.Sum();
    uint8_t head[kFlagHeaderSize];
    h.Encode(head);
    std::string bitmap((sectors + 7) / 8, '\0');
    for (uint32_t m : missing)
        if (m < sectors) bitmap[m / 8] = char(uint8_t(bitmap[m / 8]) | 1u << (m % 8));
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(head), kFlagHeaderSize);
    out.write(bitmap.data(), std::streamsize(bitmap.size()));
}

// The listing of an image set through the library, damage measured.
inline Listing ListSet(const std::string& flag, const std::string& image, FsChoice choice, bool* ok,
                       std::string* error = nullptr)
{
    CImageSetReader reader;
    Listing l;
    std::string e;
    *ok = reader.Open(flag, image, &e) && ListFiles(reader, choice, &l, &e);
    if (error) *error = e;
    return l;
}

// Damaged files and their missing bytes.
inline std::map<std::string, uint64_t> DamagedOf(const Listing& l)
{
    std::map<std::string, uint64_t> m;
    for (const FileRecord& f : l.files)
        if (f.missingSectors) m[f.path] = f.missingBytes;
    return m;
}
