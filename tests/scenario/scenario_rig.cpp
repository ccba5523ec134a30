#include "scenario_rig.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>

#include "app/core/settings.h"
#include "platform/clock.h"
#include "channel/channel.h"

void CScenarioPoster::Post(unsigned msg, unsigned wParam, const char* text)
{
    inner_.Post(msg, wParam, text);
    std::string t = text ? text : "";
    if (msg == UM_LOG_LINE) {
        timedLog.emplace_back(TickCount(), t);
        if (onLog) onLog(t);
    }
    if (msg == UM_STATUS_TEXT && onStatus) onStatus(wParam, t);
}

SimProfile Disc(uint32_t sectors, uint32_t errorMs)
{
    SimProfile p;
    p.sectors = sectors;
    p.sectorsSet = true;
    p.capacity = sectors;
    p.capacitySet = true;
    p.errorMillis = errorMs;
    p.sectorMicros = 100;
    p.label = "SCENARIO";
    return p;
}

void AddBad(SimProfile& p, uint32_t first, uint32_t last)
{
    p.ranges.push_back(SimRange{first, last, 0, false});
}

void AddFlaky(SimProfile& p, uint32_t first, uint32_t last, double probability)
{
    p.ranges.push_back(SimRange{first, last, probability, true});
}

std::vector<uint8_t> ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

ScenarioTest::ScenarioTest()
{
    SetPoster(&poster);
    engine.destFolder = dir.Path();
    engine.runRequested = true;
    progressMap.mapCells = kMapCellsMax;
}

ScenarioTest::~ScenarioTest()
{
    SetPoster(&fe.poster);
}

void ScenarioTest::Attach(const std::vector<SimProfile>& devices, int device)
{
    for (const auto& p : devices) sim.AddDevice(p);
    engine.drive.Aspi().SetLibrary(&library);
    ASSERT_TRUE(engine.drive.InitAspi());
    ASSERT_EQ(int(devices.size()), engine.drive.DriveCount());
    ASSERT_TRUE(engine.drive.SelectDrive(device));
}

int ScenarioTest::Copy(const std::string& name)
{
    fe.prompt.ChooseFileAnswer(dir.File(name));
    engine.runRequested = true;
    return engine.RunCopy();
}

std::vector<uint8_t> ScenarioTest::Flags(const std::string& name) const
{
    return ReadFileBytes(Path("flg", name));
}

uint32_t ScenarioTest::SectorCount(const std::string& name) const
{
    FlagHeader h;
    auto flags = Flags(name);
    if (flags.size() >= kFlagHeaderSize) h.Decode(flags.data());
    return h.sectorCount;
}

bool ScenarioTest::Missing(const std::vector<uint8_t>& flags, uint32_t lba)
{
    size_t at = kFlagHeaderSize + lba / 8;
    return at >= flags.size() || (flags[at] >> (lba % 8) & 1);
}

std::vector<uint32_t> ScenarioTest::MissingSectors(const std::string& name) const
{
    auto flags = Flags(name);
    std::vector<uint32_t> out;
    for (uint32_t lba = 0, n = SectorCount(name); lba < n; ++lba) {
        if (Missing(flags, lba)) out.push_back(lba);
    }
    return out;
}

void ScenarioTest::ExpectHeaderSound(const std::string& name)
{
    auto flags = Flags(name);
    ASSERT_GE(flags.size(), kFlagHeaderSize);
    FlagHeader h;
    h.Decode(flags.data());
    EXPECT_EQ(0u, h.Sum());
    uint32_t read = 0;
    for (uint32_t lba = 0; lba < h.sectorCount; ++lba) read += !Missing(flags, lba);
    EXPECT_EQ(read, h.sectorsRead);
}

void ScenarioTest::ExpectImageConsistent(const std::string& name, int device)
{
    ExpectHeaderSound(name);
    auto flags = Flags(name);
    auto image = ReadFileBytes(Path("iso", name));
    uint8_t disc[kSimSectorSize];
    for (uint32_t lba = 0, n = SectorCount(name); lba < n; ++lba) {
        if (Missing(flags, lba)) continue;
        ASSERT_TRUE(sim.DiscContent(device, lba, disc));
        ASSERT_GE(image.size(), size_t(lba + 1) * kSimSectorSize) << lba;
        ASSERT_EQ(0, std::memcmp(disc, image.data() + size_t(lba) * kSimSectorSize, kSimSectorSize)) << lba;
    }
}

void ScenarioTest::ExpectImportConsistent(const std::vector<uint8_t>& before, const std::string& name, int device)
{
    ExpectHeaderSound(name);
    auto flags = Flags(name);
    auto records = ReadFileBytes(Path("imp", name));
    const uint32_t n = SectorCount(name);
    const size_t recordSize = kImportHeadSize + kSimSectorSize;
    ASSERT_EQ(0u, records.size() % recordSize);
    std::map<uint32_t, int> seen;
    uint8_t disc[kSimSectorSize];
    for (size_t at = 0; at < records.size(); at += recordSize) {
        ImportRecord head;
        head.Decode(records.data() + at);
        ASSERT_EQ(0u, head.Sum());
        ASSERT_EQ(n, head.sectorCount);
        ASSERT_EQ(kSimSectorSize, head.sectorSize);
        ASSERT_LT(head.lba, n);
        EXPECT_FALSE(Missing(flags, head.lba)) << head.lba;
        EXPECT_TRUE(Missing(before, head.lba)) << head.lba;
        ASSERT_TRUE(sim.DiscContent(device, head.lba, disc));
        ASSERT_EQ(0, std::memcmp(disc, records.data() + at + kImportHeadSize, kSimSectorSize)) << head.lba;
        ++seen[head.lba];
    }
    for (const auto& [lba, count] : seen) EXPECT_EQ(1, count) << lba;
    for (uint32_t lba = 0; lba < n; ++lba) {
        if (Missing(before, lba) && !Missing(flags, lba)) {
            EXPECT_EQ(1u, seen.count(lba)) << lba;
        }
    }
}

bool ScenarioTest::LoggedPrefix(const std::string& prefix) const
{
    return !LinesWith(prefix).empty();
}

std::vector<std::string> ScenarioTest::LinesWith(const std::string& prefix) const
{
    std::vector<std::string> out;
    for (const auto& line : fe.poster.LogLines()) {
        if (line.rfind(prefix, 0) == 0) out.push_back(line);
    }
    return out;
}

bool ScenarioTest::Asked(const std::string& caption) const
{
    for (const auto& q : fe.prompt.asked) {
        if (q.caption == caption) return true;
    }
    return false;
}
