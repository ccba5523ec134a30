// Volumes built by hand whose Rock Ridge fields point in circles: the reader
// ends after a bounded number of reads and says which directory it left out.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "filesys/listing.h"

namespace {

constexpr uint32_t kSectors = 40, kRoot = 20, kContinuation = 21;

class CountingReader : public ISectorReader {
public:
    explicit CountingReader(const std::vector<uint8_t>& image) : memory_(image.data(), image.size(), kSectors) {}
    uint32_t SectorCount() const override { return kSectors; }
    bool Present(uint32_t lba) const override { return memory_.Present(lba); }
    bool Read(uint32_t lba, uint8_t* out) override
    {
        ++reads;
        return memory_.Read(lba, out);
    }
    uint64_t reads = 0;

private:
    CMemoryReader memory_;
};

void Both32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = p[7 - i] = uint8_t(v >> (8 * i));
}

// A directory record with its system use entries; returns its length.
size_t Record(uint8_t* r, uint32_t extent, uint32_t bytes, uint8_t flags, uint8_t name, const std::vector<uint8_t>& su)
{
    size_t len = 34 + su.size();
    len += len % 2;
    r[0] = uint8_t(len);
    Both32(r + 2, extent);
    Both32(r + 10, bytes);
    r[25] = flags;
    r[32] = 1;
    r[33] = name;
    std::memcpy(r + 34, su.data(), su.size());
    return len;
}

std::vector<uint8_t> Continuation()
{
    std::vector<uint8_t> ce = {'C', 'E', 28, 1};
    ce.resize(28, 0);
    Both32(ce.data() + 4, kContinuation);
    Both32(ce.data() + 20, 3 * 28);  // offset 0, the three entries of the area itself
    return ce;
}

TEST(HostileVolume, ContinuationsInCirclesAndALinkBackToTheRootEndAndAreNamed)
{
    std::vector<uint8_t> image(kSectors * 2048, 0);
    uint8_t* pvd = &image[16 * 2048];
    pvd[0] = 1;
    std::memcpy(pvd + 1, "CD001", 5);
    pvd[6] = 1;
    Both32(pvd + 80, kSectors);
    pvd[129] = 0x08;  // 2048-byte blocks
    Record(pvd + 156, kRoot, 2048, 2, 0, {});
    uint8_t* end = &image[17 * 2048];
    end[0] = 255;
    std::memcpy(end + 1, "CD001", 5);

    // Each continuation area holds three continuation entries, all pointing to itself.
    std::vector<uint8_t> three;
    for (int i = 0; i < 3; ++i) {
        std::vector<uint8_t> ce = Continuation();
        three.insert(three.end(), ce.begin(), ce.end());
    }
    std::memcpy(&image[kContinuation * 2048], three.data(), three.size());

    uint8_t* root = &image[kRoot * 2048];
    size_t at = Record(root, kRoot, 2048, 2, 0, {'S', 'P', 7, 1, 0xBE, 0xEF, 0});
    at += Record(root + at, kRoot, 2048, 2, 1, {});
    at += Record(root + at, 30, 5, 0, 'F', three);
    std::vector<uint8_t> cl = {'C', 'L', 12, 1};
    cl.resize(12, 0);
    Both32(cl.data() + 4, kRoot);
    Record(root + at, 0, 0, 0, 'L', cl);

    CountingReader reader(image);
    Listing l;
    std::string error;
    ASSERT_TRUE(ListFiles(reader, FsChoice::Any, &l, &error)) << error;
    EXPECT_LT(reader.reads, 200u);
    ASSERT_EQ(l.files.size(), 1u);
    EXPECT_EQ(l.files[0].path, "/F");
    EXPECT_EQ(l.unknown, std::vector<std::string>{"directory /L is corrupt: its files are not listed"});
}

}  // namespace
