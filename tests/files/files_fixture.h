// An engine with a simulated drive, files in a fresh folder, and builders for
// flag and import files written byte by byte (independent of the engine).
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "aspi/sim/sim_drive.h"
#include "engine/recovery_engine.h"
#include "support/fakes.h"

using Bytes = std::vector<uint8_t>;

inline const std::string kS(1, rawio::kSep);

inline Bytes ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline void WriteAll(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline uint32_t WordAt(const Bytes& b, size_t offset)
{
    return uint32_t(b[offset]) | uint32_t(b[offset + 1]) << 8 | uint32_t(b[offset + 2]) << 16 |
           uint32_t(b[offset + 3]) << 24;
}

inline void PutWord(Bytes& b, uint32_t v)
{
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

// A flag file as the program writes it: header summing to zero, then a bitmap
// of floor(count / 32) + 3 words, all missing except `read`.
inline Bytes FlagFileBytes(uint32_t count, uint32_t sectorSize, const std::set<uint32_t>& read = {},
                           uint32_t sectorsRead = 0)
{
    Bytes b;
    uint32_t words[12] = {count, sectorSize, sectorsRead, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    uint32_t sum = 0;
    for (uint32_t w : words) sum += w;
    words[11] = 0u - sum;
    for (uint32_t w : words) PutWord(b, w);
    b.resize(48 + 4 * (count / 32 + 3), 0xFF);
    for (uint32_t lba : read) b[48 + lba / 8] &= uint8_t(~(1u << (lba % 8)));
    return b;
}

// The content a test stores for sector `lba`.
inline Bytes SectorData(uint32_t lba, uint32_t size = 2048)
{
    Bytes d(size);
    for (uint32_t i = 0; i < size; ++i) d[i] = uint8_t(lba * 7 + i * 13 + 1);
    return d;
}

// One import record: head (count, size, lba, check) and the sector's data.
inline Bytes ImportRecordBytes(uint32_t count, uint32_t size, uint32_t lba)
{
    Bytes b;
    PutWord(b, count);
    PutWord(b, size);
    PutWord(b, lba);
    PutWord(b, 0u - count - size - lba);
    Bytes d = SectorData(lba, size);
    b.insert(b.end(), d.begin(), d.end());
    return b;
}

inline bool FlagIsMissing(const Bytes& flags, uint32_t lba) { return (flags[48 + lba / 8] >> (lba % 8)) & 1; }

class FilesTest : public ::testing::Test {
protected:
    ~FilesTest() override
    {
        engine.imageFile.Close();
        engine.flagFile.Close();
        engine.importFile.Close();
    }

    // A ready disc whose READ CAPACITY reports `lastLba` and `blockLength`.
    void InsertDisc(uint32_t lastLba, uint32_t blockLength = 2048)
    {
        SimProfile profile;
        profile.sectors = lastLba;
        profile.sectorsSet = true;
        profile.capacity = lastLba;
        profile.capacitySet = true;
        profile.blockLength = blockLength;
        sim.AddDevice(profile);
        engine.drive.Aspi().SetLibrary(&lib);
        ASSERT_TRUE(engine.drive.InitAspi());
        ASSERT_TRUE(engine.drive.SelectDrive(0));
        ASSERT_EQ(lastLba, engine.drive.CopySize());
        fe.poster.Clear();
    }

    // The flag file at `path` opened as a copy opens it.
    void OpenFlags(const std::string& path)
    {
        engine.flagFile.SetPath(path.c_str());
        ASSERT_TRUE(engine.flagFile.Open());
    }

    CFrontEndFixture fe;
    CTempDir dir;
    CSimulatedAspi sim;
    CInProcessAspiLibrary lib{&sim};
    CRecoveryEngine engine;
};
