#include "engine/failed_reads.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/rawio.h"

namespace {

constexpr const char kFirstLine[] = "Gleanor failed reads 1";
constexpr const char kFlagSuffix[] = ".flg";
constexpr const char kTriesSuffix[] = ".tries";
constexpr const char kTempSuffix[] = ".tmp";
constexpr size_t kLineSize = 512;

bool ReadLine(std::FILE* in, char (&line)[kLineSize])
{
    if (!std::fgets(line, kLineSize, in)) return false;
    size_t n = std::strlen(line);
    if (n == 0 || line[n - 1] != '\n') return false;  // cut off, or longer than any line we write
    line[n - 1] = '\0';
    return true;
}

bool Parse(std::FILE* in, FailedReadsFile* out)
{
    char line[kLineSize];
    if (!ReadLine(in, line) || std::strcmp(line, kFirstLine) != 0) return false;
    if (!ReadLine(in, line) || std::strncmp(line, "drive ", 6) != 0) return false;
    out->drive = line + 6;
    unsigned long count = 0, size = 0, ended = 0;
    char tail = 0;
    if (!ReadLine(in, line) || std::sscanf(line, "sectors %lu %lu%c", &count, &size, &tail) != 2) return false;
    if (!ReadLine(in, line) || std::sscanf(line, "ended %lu%c", &ended, &tail) != 1 || ended > 1) return false;
    if (count == 0 || count > 0xFFFFFFFFul || size == 0 || size > 0xFFFFFFFFul) return false;
    out->sectorCount = uint32_t(count);
    out->sectorSize = uint32_t(size);
    out->ended = ended == 1;
    const unsigned long blocks = (count + kHistoryBlock - 1) / kHistoryBlock;
    for (;;) {
        if (!std::fgets(line, kLineSize, in)) return std::feof(in) != 0;
        size_t n = std::strlen(line);
        if (n == 0 || line[n - 1] != '\n') return false;  // a last line cut off
        line[n - 1] = '\0';
        unsigned long block = 0, failures = 0;
        if (std::sscanf(line, "%lu %lu%c", &block, &failures, &tail) != 2) return false;
        if (block >= blocks || failures == 0 || failures > 0xFFFFFFFFul) return false;
        out->failures[uint32_t(block)] = uint32_t(failures);
    }
}

}  // namespace

std::string FailedReadsPath(const char* flagPath)
{
    std::string path = flagPath;
    const size_t n = std::strlen(kFlagSuffix);
    if (path.size() > n && path.compare(path.size() - n, n, kFlagSuffix) == 0) path.resize(path.size() - n);
    return path + kTriesSuffix;
}

bool LoadFailedReads(const char* path, FailedReadsFile* out)
{
    *out = FailedReadsFile();
    std::FILE* in = std::fopen(path, "rb");
    if (in == nullptr) return false;
    bool ok = Parse(in, out);
    std::fclose(in);
    if (!ok) *out = FailedReadsFile();
    return ok;
}

void CFailedReads::Adopt(const char* flagPath, const std::string& drive, uint32_t sectorCount, uint32_t sectorSize)
{
    std::string path = FailedReadsPath(flagPath);
    if (path == path_ && drive == file_.drive && sectorCount == file_.sectorCount && sectorSize == file_.sectorSize)
        return;
    path_ = path;
    FailedReadsFile loaded;
    if (LoadFailedReads(path.c_str(), &loaded) && loaded.drive == drive && loaded.sectorCount == sectorCount &&
        loaded.sectorSize == sectorSize) {
        file_ = loaded;
        return;
    }
    file_ = FailedReadsFile();
    file_.drive = drive;
    file_.sectorCount = sectorCount;
    file_.sectorSize = sectorSize;
}

void CFailedReads::Failed(uint32_t lba, uint32_t count)
{
    if (count == 0 || lba >= file_.sectorCount) return;
    uint32_t last = lba + std::min(count, file_.sectorCount - lba) - 1;
    for (uint32_t block = lba / kHistoryBlock; block <= last / kHistoryBlock; ++block) {
        uint32_t& n = file_.failures[block];
        if (n != UINT32_MAX) ++n;
    }
}

uint32_t CFailedReads::Failures(uint32_t block) const
{
    auto it = file_.failures.find(block);
    return it == file_.failures.end() ? 0 : it->second;
}

bool CFailedReads::Save(bool ended)
{
    if (path_.empty()) return false;
    file_.ended = ended;
    const std::string temp = path_ + kTempSuffix;
    std::FILE* out = std::fopen(temp.c_str(), "wb");
    if (out == nullptr) return false;
    std::string drive = file_.drive;
    for (char& ch : drive)
        if (ch == '\n' || ch == '\r') ch = ' ';
    std::fprintf(out, "%s\ndrive %s\nsectors %lu %lu\nended %d\n", kFirstLine, drive.c_str(),
                 (unsigned long)file_.sectorCount, (unsigned long)file_.sectorSize, ended ? 1 : 0);
    for (const auto& [block, failures] : file_.failures)
        std::fprintf(out, "%lu %lu\n", (unsigned long)block, (unsigned long)failures);
    bool ok = std::fflush(out) == 0 && !std::ferror(out);
    ok = std::fclose(out) == 0 && ok;
    ok = ok && rawio::ReplaceFile(temp.c_str(), path_.c_str());
    if (!ok) std::remove(temp.c_str());
    return ok;
}
