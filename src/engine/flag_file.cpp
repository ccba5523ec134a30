// The flag file: a 48-byte header and one bit per sector (1 missing, 0 read).
//
// The bitmap is never held in memory: every access seeks to one 4-byte
// window, reads it, and when marking writes it back. A bit goes from missing
// to read only after the sector's data was stored, so the file on disk never
// claims a sector the image does not hold.
#include <cstdio>
#include <cstring>

#include "engine/le_words.h"
#include "engine/recovery_engine.h"
#include "platform/prompt.h"
#include "channel/channel.h"

namespace {

constexpr uint32_t kSectorsPerWord = 32;
constexpr uint32_t kBitsPerByte = 8;
// A new bitmap holds floor(sectorCount / 32) + 3 words, so that every window
// a copy can touch lies inside the file.
constexpr uint32_t kBitmapSpareWords = 3;
constexpr uint32_t kAllMissing = 0xFFFFFFFF;
constexpr uint8_t kMissingByte = 0xFF;
// The bitmap of a new file, and a gap before a window, go out in blocks of this size.
constexpr uint32_t kFillBlock = 4096;
constexpr int kMessageSize = 256;


// Writes `bytes` bytes of 0xFF from the current position; false on a short write.
bool FillMissing(CRawFile& file, uint64_t bytes)
{
    uint8_t block[kFillBlock];
    std::memset(block, kMissingByte, sizeof block);
    while (bytes > 0) {
        unsigned n = bytes < kFillBlock ? unsigned(bytes) : kFillBlock;
        if (file.Write(block, n) != int(n)) return false;
        bytes -= n;
    }
    return true;
}

int Ask(unsigned type, const char* caption, const char* text)
{
    return AskUser(text, caption, type | mb::kSetForeground);
}

}  // namespace

// ---- FlagHeader ------------------------------------------------------------------

uint32_t FlagHeader::Sum() const
{
    return sectorCount + sectorSize + sectorsRead + readErrors + elapsedSeconds + reserved[0] + reserved[1] +
           reserved[2] + reserved[3] + reserved[4] + reserved[5] + checksum;
}

void FlagHeader::Encode(uint8_t out[kFlagHeaderSize]) const
{
    const uint32_t words[kFlagHeaderWords] = {sectorCount, sectorSize,  sectorsRead, readErrors,
                                              elapsedSeconds, reserved[0], reserved[1], reserved[2],
                                              reserved[3], reserved[4], reserved[5], checksum};
    for (uint32_t i = 0; i < kFlagHeaderWords; ++i) StoreLE(out + i * kWordBytes, words[i]);
}

void FlagHeader::Decode(const uint8_t in[kFlagHeaderSize])
{
    uint32_t* words[kFlagHeaderWords] = {&sectorCount, &sectorSize,  &sectorsRead, &readErrors,
                                         &elapsedSeconds, &reserved[0], &reserved[1], &reserved[2],
                                         &reserved[3], &reserved[4], &reserved[5], &checksum};
    for (uint32_t i = 0; i < kFlagHeaderWords; ++i) *words[i] = LoadLE(in + i * kWordBytes);
}

// ---- CheckHeader -----------------------------------------------------------------

namespace {

// A new, empty or too short file: header and an all-missing bitmap from offset 0.
bool CreateHeader(CRecoveryEngine& e)
{
    FlagHeader& header = e.header;
    CCdDrive& drive = e.drive;
    CRawFile& flagFile = e.flagFile;
    header = FlagHeader{};
    header.sectorSize = drive.BlockLength();
    header.sectorCount = drive.CopySize();
    char text[kMessageSize];
    if (header.sectorSize != kNormalSectorSize) {
        std::snprintf(text, sizeof text, "Force %lu Byte Sectors ? (Drive reports %lu)  ",
                      (unsigned long)kNormalSectorSize, (unsigned long)drive.BlockLength());
        int answer = Ask(mb::kYesNoCancel | mb::kIconQuestion, "Unexpected Sectorsize!", text);
        if (answer == kIdYes) {
            header.sectorSize = kNormalSectorSize;
            LogPrintf(0, "Force SectorSize 2048");
        } else if (answer == kIdNo) {
            LogPrintf(0, "Keep SectorSize %lu", (unsigned long)header.sectorSize);
        } else {
            if (answer == kIdCancel) LogPrintf(0, "Cancel on ForceSectorSize");
            return false;
        }
    }
    header.checksum -= header.Sum();
    uint8_t raw[kFlagHeaderSize];
    header.Encode(raw);
    if (flagFile.Seek(0) != 0 || flagFile.Write(raw, kFlagHeaderSize) != int(kFlagHeaderSize)) return false;
    uint64_t words = uint64_t(header.sectorCount / kSectorsPerWord) + kBitmapSpareWords;
    return FillMissing(flagFile, words * kWordBytes);
}

// An existing header: checksum, sector count, forced size, sector size, in this order.
// Only an explicit OK goes ahead past a question: a box that could not be
// shown counts as Cancel, never as consent.
bool TestHeader(CRecoveryEngine& e, const uint8_t raw[kFlagHeaderSize])
{
    FlagHeader& header = e.header;
    CCdDrive& drive = e.drive;
    header.Decode(raw);
    char text[kMessageSize];
    if (header.Sum() != 0) {
        int answer = Ask(mb::kYesNo | mb::kIconWarning, "Failed Header Check!", "Ignore Checksum Error ?  ");
        LogPrintf(0, "Fail Header Check *.flg");
        if (answer != kIdYes) {
            e.flagFile.Close();
            return false;
        }
    }
    uint32_t copySize = drive.CopySize();
    if (header.sectorCount != copySize) {
        std::snprintf(text, sizeof text,
                      "Expected sectors:\t%lu\nBut drive reports:\t%lu\nVerify the given filename before trying "
                      "\"Force Size\" ",
                      (unsigned long)header.sectorCount, (unsigned long)copySize);
        Ask(mb::kOk | mb::kIconError, "Sectornumber Mismatch !", text);
        LogPrintf(0, "Sectornumber Mismatch");
        return false;
    }
    uint32_t reported = drive.reportedLastLba.load(std::memory_order_relaxed);
    if (copySize != reported) {
        std::snprintf(text, sizeof text, "Sectors set to:\t%lu\nBut drive reports:\t%lu\nDo You really want to continue ?",
                      (unsigned long)copySize, (unsigned long)reported);
        if (Ask(mb::kOkCancel | mb::kIconWarning, "Volumesize Modified !", text) != kIdOk) {
            LogPrintf(0, "Canceled Modified Sectornumber");
            return false;
        }
    }
    if (header.sectorSize == drive.BlockLength()) return true;
    std::snprintf(text, sizeof text, "Forcing %lu Byte Sectors !  ", (unsigned long)header.sectorSize);
    if (Ask(mb::kOkCancel | mb::kIconWarning, "Unexpected Sectorsize!", text) != kIdOk) {
        LogPrintf(0, "Canceled on ForceSectorSize");
        return false;
    }
    return true;
}

}  // namespace

// True: the copy may go on with the header in memory. False: the copy ends.
bool CRecoveryEngine::CheckHeader()
{
    if (!flagFile.IsOpen()) return false;
    uint8_t raw[kFlagHeaderSize];
    int got = flagFile.Seek(0) == 0 ? flagFile.Read(raw, kFlagHeaderSize) : -1;
    bool ok = (got == int(kFlagHeaderSize)) ? TestHeader(*this, raw) : CreateHeader(*this);
    // Only a header that passed (or was made here) is written back when the
    // copy ends; a refused one stays on disk exactly as it was.
    headerChecked = ok;
    return ok;
}

// ---- WriteHeader -----------------------------------------------------------------

bool CRecoveryEngine::WriteHeader()
{
    bool seeked = flagFile.Seek(0) == 0;
    header.checksum -= header.Sum();
    if (!seeked) return false;
    uint8_t raw[kFlagHeaderSize];
    header.Encode(raw);
    return flagFile.Write(raw, kFlagHeaderSize) == int(kFlagHeaderSize);
}

// ---- AccessFlags -----------------------------------------------------------------

// Bit i of the result: the flag of sector lba + i (1 missing). With markRead
// the flags are cleared in the file first. 1 <= count and count + lba % 8 <= 32.
uint32_t CRecoveryEngine::AccessFlags(uint32_t lba, int32_t count, bool markRead)
{
    const uint32_t shift = lba % kBitsPerByte;
    if (count < 1) return 0;
    if (uint32_t(count) > kSectorsPerWord - shift) count = int32_t(kSectorsPerWord - shift);
    const uint64_t window = kFlagHeaderSize + uint64_t(lba / kBitsPerByte);
    const uint32_t mask = uint32_t((uint64_t(1) << count) - 1);

    uint8_t raw[kWordBytes];
    std::memset(raw, kMissingByte, sizeof raw);
    int got = flagFile.Seek(int64_t(window)) == int64_t(window) ? flagFile.Read(raw, kWordBytes) : -1;
    if (got != int(kWordBytes)) {
        // The file does not hold this window in full: what it lacks reads as
        // missing, bytes it holds keep their flags, and a gap between the end
        // of the file and the window is filled as missing too, so that no
        // sector there ever comes to read as stored.
        if (got < 0) got = 0;
        std::memset(raw + got, kMissingByte, kWordBytes - unsigned(got));
        int64_t size = flagFile.Size();
        if (size >= 0 && uint64_t(size) < window && flagFile.Seek(size) == size)
            FillMissing(flagFile, window - uint64_t(size));
        if (flagFile.Seek(int64_t(window)) == int64_t(window)) flagFile.Write(raw, kWordBytes);
    }
    uint32_t word = LoadLE(raw);
    if (markRead) {
        word &= ~(mask << shift);
        StoreLE(raw, word);
        if (flagFile.Seek(int64_t(window)) == int64_t(window)) flagFile.Write(raw, kWordBytes);
    }
    return (word >> shift) & mask;
}
