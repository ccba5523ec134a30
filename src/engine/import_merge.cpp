// The import merge: sectors that a second machine read (records of a 16-byte
// head and one sector) go into the image in destFolder and their flags are
// cleared, each sector stored before its flag.
//
// Export writes can be torn by a crash or a full disk, and a continued export
// appends after the torn piece. So a record is taken only when its head sums
// to zero with the flag file's geometry and the bytes after it are the end of
// the file or another such head; otherwise the merge looks for the next good
// head, passes over what lies before it, and goes on.
#include <cstring>

#include <algorithm>

#include "engine/le_words.h"
#include "engine/recovery_engine.h"
#include "platform/clock.h"
#include "channel/channel.h"

namespace {

constexpr uint32_t kImportHeadWords = 4;
constexpr uint32_t kScanBlock = 8192;         // bytes searched per read when looking for a head
constexpr uint32_t kMergeSyncMs = 30000;      // image, then flag file, reach the device this often


enum class Head { End, Short, Bad, Good };

// What stands at `pos` of the import file.
class CRecordReader {
public:
    CRecordReader(CRawFile& file, const FlagHeader& header) : file_(file), header_(header) {}

    bool Fits(const ImportRecord& r) const
    {
        return r.Sum() == 0 && r.sectorSize == header_.sectorSize && r.sectorCount == header_.sectorCount;
    }

    Head HeadAt(uint64_t pos, ImportRecord* record)
    {
        uint8_t raw[kImportHeadSize];
        int got = ReadAt(pos, raw, kImportHeadSize);
        if (got <= 0) return Head::End;
        if (got < int(kImportHeadSize)) return Head::Short;
        record->Decode(raw);
        return Fits(*record) ? Head::Good : Head::Bad;
    }

    bool DataAt(uint64_t pos, uint8_t* data)
    {
        return ReadAt(pos, data, header_.sectorSize) == int(header_.sectorSize);
    }

    // The first position at or after `from` where a fitting head starts.
    bool FindHead(uint64_t from, uint64_t* found)
    {
        uint8_t block[kScanBlock + kImportHeadSize];
        for (uint64_t pos = from;; pos += kScanBlock) {
            int got = ReadAt(pos, block, sizeof block);
            for (int i = 0; i + int(kImportHeadSize) <= got; ++i) {
                ImportRecord r;
                r.Decode(block + i);
                if (Fits(r)) {
                    *found = pos + uint64_t(i);
                    return true;
                }
            }
            if (got < int(sizeof block)) return false;
        }
    }

    uint64_t Size() const { return uint64_t(file_.Size() < 0 ? 0 : file_.Size()); }

private:
    int ReadAt(uint64_t pos, uint8_t* buf, unsigned len)
    {
        if (file_.Seek(int64_t(pos)) != int64_t(pos)) return -1;
        return file_.Read(buf, len);
    }

    CRawFile& file_;
    const FlagHeader& header_;
};

// Whether the flag file marks `lba` read, by reading its byte alone (a
// window the file does not hold is missing, and is not filled in).
bool HeldInImage(CRecoveryEngine& e, uint32_t lba)
{
    const int64_t at = int64_t(kFlagHeaderSize + lba / 8);
    uint8_t byte = 0xFF;
    if (e.flagFile.Seek(at) != at || e.flagFile.Read(&byte, 1) != 1) return false;
    return ((byte >> (lba % 8)) & 1) == 0;
}

// Whether the image holds `lba` with other bytes than `data`: then the record
// was read from another disc.
bool DiffersFromImage(CRecoveryEngine& e, uint32_t lba, const uint8_t* data)
{
    if (!HeldInImage(e, lba)) return false;
    uint8_t held[kMaxCopySectorSize];
    const uint32_t size = e.header.sectorSize;
    const int64_t at = int64_t(uint64_t(lba) * size);
    if (e.imageFile.Seek(at) != at || e.imageFile.Read(held, size) != int(size)) return false;
    return std::memcmp(held, data, size) != 0;
}

// Before anything is stored: every record of the file's sound run of records
// (from its start to the first damage) whose sector the image already holds
// is compared with the image. Records of sectors the image lacks cannot be
// told from another disc's. False, with `lba`, at the first that differs.
bool RecordsMatchImage(CRecoveryEngine& e, uint32_t* lba)
{
    CRecordReader reader(e.importFile, e.header);
    uint8_t data[kMaxCopySectorSize];
    ImportRecord record;
    ImportRecord ahead;
    for (uint64_t pos = 0; reader.HeadAt(pos, &record) == Head::Good; pos += kImportHeadSize + e.header.sectorSize) {
        if (!reader.DataAt(pos + kImportHeadSize, data)) break;
        // A record torn by a crash holds the next one's bytes: the sound run ends before it.
        const Head after = reader.HeadAt(pos + kImportHeadSize + e.header.sectorSize, &ahead);
        if (after == Head::Bad || after == Head::Short) break;
        if (record.lba < e.header.sectorCount && DiffersFromImage(e, record.lba, data)) {
            *lba = record.lba;
            return false;
        }
    }
    return true;
}

struct MergeTally {
    uint32_t imported = 0;
    uint32_t beyondCount = 0;  // records for LBAs the flag file does not have
    uint64_t passedOver = 0;   // bytes of damaged records
    bool reachedEnd = false;
    bool writeFailed = false;
    bool foreign = false;      // a record differed from a sector the image holds
};

void LogPassedOver(uint64_t bytes, uint64_t at, MergeTally* tally)
{
    tally->passedOver += bytes;
    LogPrintf(0, "Passed over %llu damaged Bytes at offset %llu", (unsigned long long)bytes, (unsigned long long)at);
}

// Flushes the image before the flag file, so that the flags on the device
// never run ahead of the data they describe by more than one interval.
void SyncImageThenFlags(CRecoveryEngine& e)
{
    e.imageFile.Sync();
    e.flagFile.Sync();
}

// Stores one record's sector and clears its flag; false when the image write failed.
bool StoreRecord(CRecoveryEngine& e, uint32_t lba, const uint8_t* data, MergeTally* tally)
{
    bool wasMissing = e.AccessFlags(lba, 1, false) != 0;
    if (!e.WriteSectors(lba, 1, data)) {
        LogPrintf(0, "Error Writing %s", e.imageFile.GetFileName());
        return false;
    }
    e.AccessFlags(lba, 1, true);
    if (wasMissing) ++e.header.sectorsRead;
    ++tally->imported;
    LogPrintf(2, "Import %lu", (unsigned long)lba);
    return true;
}

// The record loop of the merge; the header in memory is the flag file's.
void MergeRecords(CRecoveryEngine& e, MergeTally* tally)
{
    CRecordReader reader(e.importFile, e.header);
    uint8_t data[kMaxCopySectorSize];
    uint32_t lastSync = TickCount();
    uint64_t pos = 0;
    ImportRecord record;
    for (;;) {
        Head head = reader.HeadAt(pos, &record);
        if (head == Head::End) {
            tally->reachedEnd = true;
            return;
        }
        if (head == Head::Short) return;  // a truncated last record
        uint64_t found = 0;
        if (head == Head::Bad) {
            if (!reader.FindHead(pos + 1, &found)) {
                LogPassedOver(reader.Size() - pos, pos, tally);
                tally->reachedEnd = true;
                return;
            }
            LogPassedOver(found - pos, pos, tally);
            pos = found;
            continue;
        }
        if (!reader.DataAt(pos + kImportHeadSize, data)) return;  // a truncated last record
        const uint64_t next = pos + kImportHeadSize + e.header.sectorSize;
        ImportRecord ahead;
        Head after = reader.HeadAt(next, &ahead);
        if (after == Head::Bad || after == Head::Short) {
            // Either this record was torn and the next one starts inside it,
            // or this one is whole and damage follows it.
            if (reader.FindHead(pos + 1, &found) && found < next) {
                LogPassedOver(found - pos, pos, tally);
                pos = found;
                continue;
            }
        }
        if (record.lba >= e.header.sectorCount) {
            ++tally->beyondCount;
        } else if (DiffersFromImage(e, record.lba, data)) {
            // Never overwritten: the image's sector is this disc's own.
            LogPrintf(0, "Cannot Import! - Another disc: sector %lu differs from the image set's",
                      (unsigned long)record.lba);
            tally->foreign = true;
            return;
        } else if (!StoreRecord(e, record.lba, data, tally)) {
            tally->writeFailed = true;
            return;
        }
        pos = next;
        uint32_t now = TickCount();
        if (int32_t(now - lastSync) >= int32_t(kMergeSyncMs)) {
            SyncImageThenFlags(e);
            lastSync = now;
        }
    }
}

}  // namespace

// Reads the flag file's header and tells whether a merge may use it.
bool LoadMergeHeader(CRecoveryEngine& e)
{
    uint8_t raw[kFlagHeaderSize];
    int got = e.flagFile.Seek(0) == 0 ? e.flagFile.Read(raw, kFlagHeaderSize) : -1;
    if (got != int(kFlagHeaderSize)) {
        LogPrintf(0, "Error FRead.FLG");
        return false;
    }
    e.header.Decode(raw);
    // Renewing the checksum of a damaged header would hide the damage.
    if (e.header.Sum() != 0) {
        LogPrintf(0, "Cannot Import! - Failed Header Check *.flg");
        return false;
    }
    // Sector data goes through a 4096-byte buffer.
    if (e.header.sectorSize == 0 || e.header.sectorSize > kMaxCopySectorSize) {
        LogPrintf(0, "Cannot Import! - SectorSize %lu not supported", (unsigned long)e.header.sectorSize);
        return false;
    }
    e.copySectorSize = e.header.sectorSize;
    return true;
}

// Whether the flag file at `path` marks any of its sectors read (bits past the
// end of a short file count as missing, as the copy reads them).
bool FlagFileMarksAnyRead(const char* path)
{
    int fd = rawio::OpenReadOnly(path);
    if (fd < 0) return false;  // the merge's own open reports it
    bool anyRead = false;
    uint8_t raw[kFlagHeaderSize];
    if (rawio::Read(fd, raw, kFlagHeaderSize) == int(kFlagHeaderSize)) {
        FlagHeader h;
        h.Decode(raw);
        const uint64_t fullBytes = h.sectorCount / 8;
        const uint8_t lastMask = uint8_t((1u << (h.sectorCount % 8)) - 1);
        const uint64_t bitmapBytes = fullBytes + (lastMask ? 1 : 0);
        uint8_t chunk[4096];
        for (uint64_t at = 0; at < bitmapBytes && !anyRead;) {
            unsigned want = unsigned(std::min<uint64_t>(sizeof chunk, bitmapBytes - at));
            int got = rawio::Read(fd, chunk, want);
            if (got <= 0) break;
            for (int i = 0; i < got && !anyRead; ++i) {
                uint8_t used = (at + uint64_t(i) < fullBytes) ? 0xFF : lastMask;
                anyRead = (chunk[i] & used) != used;
            }
            at += uint64_t(got);
        }
    }
    rawio::Close(fd);
    return anyRead;
}

namespace {

// Whether the import file's first record is whole and checked but made for a
// disc of other geometry than the (sound) flag file's: then every record is
// another disc's, and `head` is that first one.
bool ForeignImportFile(const char* flagPath, const char* importPath, ImportRecord* head)
{
    uint8_t raw[kFlagHeaderSize];
    FlagHeader flags;
    int fd = rawio::OpenReadOnly(flagPath);
    if (fd < 0) return false;
    bool haveFlags = rawio::Read(fd, raw, kFlagHeaderSize) == int(kFlagHeaderSize);
    rawio::Close(fd);
    if (!haveFlags) return false;
    flags.Decode(raw);
    if (flags.Sum() != 0) return false;  // the merge refuses such a header itself
    fd = rawio::OpenReadOnly(importPath);
    if (fd < 0) return false;
    bool haveHead = rawio::Read(fd, raw, kImportHeadSize) == int(kImportHeadSize);
    rawio::Close(fd);
    if (!haveHead) return false;
    head->Decode(raw);
    return head->Sum() == 0 && head->sectorSize != 0 &&
           (head->sectorCount != flags.sectorCount || head->sectorSize != flags.sectorSize);
}

}  // namespace

void ImportRecord::Encode(uint8_t out[kImportHeadSize]) const
{
    const uint32_t words[kImportHeadWords] = {sectorCount, sectorSize, lba, check};
    for (uint32_t i = 0; i < kImportHeadWords; ++i) StoreLE(out + i * kWordBytes, words[i]);
}

void ImportRecord::Decode(const uint8_t in[kImportHeadSize])
{
    sectorCount = LoadLE(in);
    sectorSize = LoadLE(in + kWordBytes);
    lba = LoadLE(in + 2 * kWordBytes);
    check = LoadLE(in + 3 * kWordBytes);
}

void CRecoveryEngine::ImportMerge(const char* importPath)
{
    lastImportCount = 0;
    lastImportComplete = false;
    // The copy and the merge share the file objects and the header: a merge
    // under a running copy would corrupt the image set.
    if (runRequested.load() || !TakeImageSet(kSetMerge)) {
        LogPrintf(0, "Cannot Import! - A copy is running; pause it first");
        return;
    }
    MergeImportFile(importPath);
    ReleaseImageSet();
}

void CRecoveryEngine::MergeImportFile(const char* importPath)
{
    exportMode = false;
    importFile.SetPath(importPath);
    imageFile.SetPath(destFolder.Get().c_str());
    imageFile.ReplaceFileName(importFile.GetFileName());
    imageFile.SetExtension("iso");
    flagFile.SetPath(imageFile.GetPath());
    flagFile.SetExtension("flg");

    if (!flagFile.Exists()) {
        LogPrintf(0, "Cannot Import! - Missing *.FLG file:");
        LogPrintf(0, "%s", flagFile.GetPath());
        return;
    }
    // A new image beside a flag file that marks sectors read would hold zeros
    // where the flags claim data: the image of that set is somewhere else.
    if (!imageFile.Exists() && FlagFileMarksAnyRead(flagFile.GetPath())) {
        LogPrintf(0, "Cannot Import! - Missing *.ISO file:");
        LogPrintf(0, "%s", imageFile.GetPath());
        return;
    }
    ImportRecord foreign;
    if (ForeignImportFile(flagFile.GetPath(), importPath, &foreign)) {
        LogPrintf(0, "Cannot Import! - %s holds records of another disc (%lu Sectors of %lu Bytes)",
                  importFile.GetFileName(), (unsigned long)foreign.sectorCount, (unsigned long)foreign.sectorSize);
        LogPrintf(0, "%lu Sectors imported", 0ul);
        return;
    }
    // Opening a missing import file would create an empty one (and an empty
    // image beside the flag file): a wrong name must change nothing.
    bool importThere = importFile.Exists();
    bool image = importThere && imageFile.Open();
    bool flags = importThere && flagFile.Open();
    bool import = importThere && importFile.Open();
    if (importThere && !image) LogPrintf(2, "Error FOpen.ISO");
    if (importThere && !flags) LogPrintf(2, "Error FOpen.FLG");
    if (!import) LogPrintf(2, "Error FOpen.IMP");

    MergeTally tally;
    bool headerRead = false;
    if (!(image && flags && import)) {
        LogPrintf(0, "Cannot Import! - Cannot open the image set");
    } else if (LoadMergeHeader(*this)) {
        uint32_t differing = 0;
        if (RecordsMatchImage(*this, &differing)) {
            headerRead = true;
            MergeRecords(*this, &tally);
        } else {
            LogPrintf(0, "Cannot Import! - Another disc: sector %lu differs from the image set's",
                      (unsigned long)differing);
        }
    }
    if (tally.beyondCount)
        LogPrintf(0, "%lu Records beyond the last Sector skipped", (unsigned long)tally.beyondCount);
    if (headerRead) {
        imageFile.Sync();
        if (!WriteHeader()) {
            LogPrintf(0, "Error Writing %s", flagFile.GetFileName());
            tally.writeFailed = true;
        }
        flagFile.Sync();
    }
    LogPrintf(0, "%lu Sectors imported", (unsigned long)tally.imported);
    // Only what this merge opened is closed.
    if (image) imageFile.Close();
    if (flags) flagFile.Close();
    if (import) importFile.Close();

    lastImportCount = tally.imported;
    lastImportComplete = tally.reachedEnd && !tally.writeFailed && !tally.foreign && tally.passedOver == 0 && tally.beyondCount == 0;
}
