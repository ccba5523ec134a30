// Writing a mapfile from a flag file: one block per run of equal sectors.
#include <algorithm>
#include <vector>

#include "engine/failed_reads.h"
#include "mapfile/mapfile.h"
#include "platform/rawio.h"

namespace {

constexpr unsigned kBitmapChunk = 65536;  // bitmap bytes read at a time
constexpr const char kTempSuffix[] = ".tmp";

// A flag file opened read-only, without the lock of a copy's open: the map of
// a running copy is made from the same file.
class CReadOnlyFile {
public:
    explicit CReadOnlyFile(const char* path) : fd_(rawio::OpenReadOnly(path)) {}
    ~CReadOnlyFile()
    {
        if (fd_ >= 0) rawio::Close(fd_);
    }
    CReadOnlyFile(const CReadOnlyFile&) = delete;
    CReadOnlyFile& operator=(const CReadOnlyFile&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

bool HeaderOf(int fd, const char* path, FlagHeader* header, std::string* error)
{
    uint8_t raw[kFlagHeaderSize];
    if (fd < 0 || rawio::Seek(fd, 0, rawio::kSeekSet) != 0 ||
        rawio::Read(fd, raw, kFlagHeaderSize) != int(kFlagHeaderSize)) {
        *error = std::string(path) + ": cannot read a flag file header";
        return false;
    }
    header->Decode(raw);
    if (header->Sum() != 0) {
        *error = std::string(path) + ": the flag file header fails its checksum";
        return false;
    }
    if (header->sectorSize == 0) {
        *error = std::string(path) + ": the flag file header gives a sector size of 0";
        return false;
    }
    return true;
}

// Calls run(first, count, missing) for each run of equal flags of sectors
// 0 .. sectorCount-1, in order. Bytes the file does not hold read as missing.
template <class Run>
bool ForEachRun(int fd, uint32_t sectorCount, Run run)
{
    if (rawio::Seek(fd, kFlagHeaderSize, rawio::kSeekSet) != int64_t(kFlagHeaderSize)) return false;
    std::vector<uint8_t> chunk(kBitmapChunk);
    uint32_t first = 0;
    bool missing = true;
    uint32_t lba = 0;
    bool fileEnded = false;
    while (lba < sectorCount) {
        int got = fileEnded ? 0 : rawio::Read(fd, chunk.data(), kBitmapChunk);
        if (got < 0) return false;
        if (got < int(kBitmapChunk)) {
            fileEnded = true;
            std::fill(chunk.begin() + got, chunk.end(), uint8_t(0xFF));
        }
        for (unsigned i = 0; i < kBitmapChunk && lba < sectorCount; ++i) {
            const uint8_t byte = chunk[i];
            // A whole byte that continues the run: eight sectors at once.
            if ((byte == 0xFF && missing) || (byte == 0x00 && !missing)) {
                lba = sectorCount - lba < 8 ? sectorCount : lba + 8;
                continue;
            }
            for (unsigned bit = 0; bit < 8 && lba < sectorCount; ++bit, ++lba) {
                bool m = (byte >> bit) & 1;
                if (lba == 0) missing = m;
                if (m == missing) continue;
                run(first, lba - first, missing);
                first = lba;
                missing = m;
            }
        }
    }
    if (sectorCount > 0) run(first, sectorCount - first, missing);
    return true;
}

// The failed reads kept beside the set, when they are of its geometry; a
// missing or foreign side file leaves every missing sector "not tried".
FailedReadsFile TriedOf(const char* flagPath, const FlagHeader& h)
{
    FailedReadsFile tried;
    if (!LoadFailedReads(FailedReadsPath(flagPath).c_str(), &tried) || tried.sectorCount != h.sectorCount ||
        tried.sectorSize != h.sectorSize)
        tried = FailedReadsFile();
    return tried;
}

// Calls block(first, count, status) for the missing run [first, first + n):
// '-' over the blocks that failed to read, '?' over the others.
template <class Block>
void SplitMissing(const FailedReadsFile& tried, uint32_t first, uint32_t n, Block block)
{
    const uint32_t end = first + n;
    for (uint32_t lba = first; lba < end;) {
        bool failed = tried.failures.count(lba / kHistoryBlock) != 0;
        uint32_t next = lba;
        while (next < end && (tried.failures.count(next / kHistoryBlock) != 0) == failed)
            next = std::min(end, (next / kHistoryBlock + 1) * kHistoryBlock);
        block(lba, next - lba, failed ? kMapBadSector : kMapNonTried);
        lba = next;
    }
}

}  // namespace

bool ReadFlagHeader(const char* flagPath, FlagHeader* header, std::string* error)
{
    CReadOnlyFile file(flagPath);
    return HeaderOf(file.fd(), flagPath, header, error);
}

bool WriteMapfile(const char* flagPath, const MapfileInfo& info, std::FILE* out, std::string* error)
{
    CReadOnlyFile file(flagPath);
    FlagHeader h;
    if (!HeaderOf(file.fd(), flagPath, &h, error)) return false;
    const uint64_t size = h.sectorSize;
    uint64_t missing = 0;
    if (!ForEachRun(file.fd(), h.sectorCount, [&](uint32_t, uint32_t n, bool m) { missing += m ? n : 0; })) {
        *error = std::string(flagPath) + ": cannot read the bitmap";
        return false;
    }
    std::fprintf(out, "# Mapfile. Created by %s\n", info.program.c_str());
    std::fprintf(out, "# Image: %s\n", info.image.c_str());
    std::fprintf(out, "# Flag file: %s\n", flagPath);
    const FailedReadsFile tried = TriedOf(flagPath, h);
    std::fprintf(out, "# Sectors: %lu of %lu bytes, %llu read, %llu missing ('-': failed to read, '?': not tried)\n",
                 (unsigned long)h.sectorCount, (unsigned long)h.sectorSize,
                 (unsigned long long)(h.sectorCount - missing), (unsigned long long)missing);
    std::fprintf(out, "# current_pos  current_status  current_pass\n");
    std::fprintf(out, "0x%08llX     %c               %u\n", (unsigned long long)info.currentPos,
                 missing && !tried.ended ? kMapNonTried : kMapFinished, info.currentPass);
    std::fprintf(out, "#      pos        size  status\n");
    auto line = [&](uint32_t first, uint32_t n, char status) {
        std::fprintf(out, "0x%08llX  0x%08llX  %c\n", (unsigned long long)(first * size), (unsigned long long)(n * size),
                     status);
    };
    bool ok = ForEachRun(file.fd(), h.sectorCount, [&](uint32_t first, uint32_t n, bool m) {
        if (m) SplitMissing(tried, first, n, line);
        else line(first, n, kMapFinished);
    });
    if (!ok) {
        *error = std::string(flagPath) + ": cannot read the bitmap";
        return false;
    }
    if (std::fflush(out) != 0 || std::ferror(out)) {
        *error = "cannot write the mapfile";
        return false;
    }
    return true;
}

bool SaveMapfile(const char* flagPath, const MapfileInfo& info, const char* mapPath, std::string* error)
{
    const std::string temp = std::string(mapPath) + kTempSuffix;
    std::FILE* out = std::fopen(temp.c_str(), "wb");
    if (out == nullptr) {
        *error = temp + ": cannot create the mapfile";
        return false;
    }
    bool written = WriteMapfile(flagPath, info, out, error);
    if (std::fclose(out) != 0 && written) {
        *error = temp + ": cannot write the mapfile";
        written = false;
    }
    if (written && !rawio::ReplaceFile(temp.c_str(), mapPath)) {
        *error = std::string(mapPath) + ": cannot rename " + temp + " to it";
        written = false;
    }
    if (!written) std::remove(temp.c_str());
    return written;
}
