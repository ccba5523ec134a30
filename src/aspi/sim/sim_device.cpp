// The five SCSI commands of a simulated device, with a drive's semantics:
// an open tray or a missing disc is not ready, a READ(10) touching any failing
// sector fails as a whole, START STOP UNIT moves the tray or the spindle.
#include "aspi/sim/sim_device.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/rawio.h"

namespace {

constexpr uint8_t kOpTestUnitReady = 0x00;
constexpr uint8_t kOpInquiry = 0x12;
constexpr uint8_t kOpStartStop = 0x1B;
constexpr uint8_t kOpReadCapacity = 0x25;
constexpr uint8_t kOpRead10 = 0x28;

constexpr unsigned kCdb6 = 6;
constexpr unsigned kCdb10 = 10;

constexpr uint8_t kStartBit = 0x01;  // START STOP UNIT byte 4
constexpr uint8_t kLoEjBit = 0x02;
constexpr uint8_t kEvpdBit = 0x01;   // INQUIRY byte 1

// Standard INQUIRY data: what this device answers.
constexpr unsigned kInquiryBytes = 36;
constexpr uint8_t kTypeCdDvd = 0x05;
constexpr uint8_t kRemovable = 0x80;
constexpr uint8_t kVersionSpc3 = 0x05;
constexpr uint8_t kResponseFormat = 0x02;
constexpr unsigned kVendorOffset = 8;
constexpr unsigned kVendorChars = 8;
constexpr unsigned kProductOffset = 16;
constexpr unsigned kProductChars = 16;
constexpr unsigned kRevisionOffset = 32;
constexpr char kRevision[] = "1.00";

constexpr unsigned kCapacityBytes = 8;

// A failed read leaves this in the data area instead of stale sectors, so a
// caller that uses the buffer of a failed read writes visible garbage.
constexpr uint8_t kPoisonByte = 0xEE;

uint32_t Be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint16_t Be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }

void PutBe32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

SimResult Good() { return SimResult{}; }

SimResult Check(SimSense sense)
{
    SimResult r;
    r.kind = SimResult::Check;
    r.sense = sense;
    return r;
}

SimResult Overrun()
{
    SimResult r;
    r.kind = SimResult::Overrun;
    return r;
}

void PutPadded(uint8_t* out, const std::string& text, unsigned width)
{
    std::memset(out, ' ', width);
    std::memcpy(out, text.data(), std::min<size_t>(text.size(), width));
}

// The CDB length each supported operation code needs.
unsigned CdbLengthOf(uint8_t op) { return op < 0x20 ? kCdb6 : kCdb10; }

}  // namespace

CSimulatedAspi::Device::Device(const SimProfile& p, uint8_t target)
    : profile(p),
      trayOpen_(p.tray == SimTray::Open),
      trayMovable_(p.tray != SimTray::Fixed),
      discPresent_(p.disc),
      target_(target),
      rng_(p.seed)
{
    if (!profile.image.empty()) imageFd_ = rawio::OpenReadOnly(profile.image.c_str());
}

CSimulatedAspi::Device::~Device()
{
    if (imageFd_ >= 0) rawio::Close(imageFd_);
}

bool CSimulatedAspi::Device::Present(bool command)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (command) ++commands_;
    if (!vanished_) {
        if (!command || returned_ || !profile.vanishAfter || commands_ <= profile.vanishAfter) return true;
        vanished_ = true;
        return false;
    }
    if (!profile.returnAfter || ++awayRequests_ <= profile.returnAfter) return false;
    vanished_ = false;
    returned_ = true;
    spunDown_ = true;  // plugged in again: the disc starts at rest
    return true;
}

uint8_t CSimulatedAspi::Device::Target() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return target_;
}

bool CSimulatedAspi::Device::WantsNewTarget() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return returned_ && profile.newAddress && !moved_;
}

void CSimulatedAspi::Device::MoveTo(uint8_t target)
{
    std::lock_guard<std::mutex> guard(lock_);
    target_ = target;
    moved_ = true;
    timeoutHalfSeconds_ = 0;  // a device that appears anew has no time-out set
}

uint64_t CSimulatedAspi::Device::Commands() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return commands_;
}

bool CSimulatedAspi::Device::Vanished() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return vanished_;
}

void CSimulatedAspi::Device::SetTimeout(uint32_t halfSeconds)
{
    std::lock_guard<std::mutex> guard(lock_);
    timeoutHalfSeconds_ = halfSeconds;
}

uint32_t CSimulatedAspi::Device::Timeout() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return timeoutHalfSeconds_;
}

void CSimulatedAspi::Device::SetDiscPresent(bool present)
{
    std::lock_guard<std::mutex> guard(lock_);
    discPresent_ = present;
    spunDown_ = true;  // a disc put back starts at rest
}

void CSimulatedAspi::Device::SetTrayOpen(bool open)
{
    std::lock_guard<std::mutex> guard(lock_);
    trayOpen_ = open;
    if (open) spunDown_ = true;
}

bool CSimulatedAspi::Device::Content(uint32_t lba, uint8_t* out)
{
    std::lock_guard<std::mutex> guard(lock_);
    return ContentLocked(lba, out);
}

bool CSimulatedAspi::Device::ContentLocked(uint32_t lba, uint8_t* out)
{
    if (lba >= profile.sectors) return false;
    if (profile.image.empty()) {
        GenerateSector(profile, lba, out);
        return true;
    }
    if (imageFd_ < 0) return false;
    int64_t offset = int64_t(lba) * kSimSectorSize;
    if (rawio::Seek(imageFd_, offset, rawio::kSeekSet) != offset) return false;
    return rawio::Read(imageFd_, out, kSimSectorSize) == int(kSimSectorSize);
}

// Whether one attempt at `lba` reads, as far as the damage goes. The last
// range that holds the sector decides; a flaky sector costs one draw.
bool CSimulatedAspi::Device::SectorDraw(uint32_t lba)
{
    const auto& ranges = profile.ranges;
    for (auto it = ranges.rbegin(); it != ranges.rend(); ++it) {
        if (lba < it->first || lba > it->last) continue;
        if (!it->flaky) return false;
        // P scaled to 2^32 so that P = 1 always and P = 0 never reads.
        uint64_t threshold = uint64_t(std::ldexp(it->probability, 32));
        return uint64_t(rng_()) < threshold;
    }
    return true;
}

SimResult CSimulatedAspi::Device::Execute(const uint8_t* cdb, unsigned cdbLen, uint8_t* buf, uint32_t bufLen)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (!buf) bufLen = 0;
    uint8_t op = cdb[0];
    bool known = op == kOpTestUnitReady || op == kOpInquiry || op == kOpStartStop || op == kOpReadCapacity ||
                 op == kOpRead10;
    if (!known) return Check(simsense::kInvalidOpcode);
    if (cdbLen != CdbLengthOf(op)) return Check(simsense::kInvalidField);
    switch (op) {
    case kOpTestUnitReady: return TestUnitReady();
    case kOpInquiry: return Inquiry(cdb, buf, bufLen);
    case kOpReadCapacity: return ReadCapacity(buf, bufLen);
    case kOpRead10: return Read10(cdb, buf, bufLen);
    default: return StartStop(cdb);
    }
}

SimResult CSimulatedAspi::Device::TestUnitReady()
{
    // A spun-down disc is still ready: the next read spins it up.
    return Ready() ? Good() : Check(simsense::kNotReadyNoMedium);
}

SimResult CSimulatedAspi::Device::Inquiry(const uint8_t* cdb, uint8_t* buf, uint32_t bufLen)
{
    if (cdb[1] & kEvpdBit) return Check(simsense::kInvalidField);
    uint8_t data[kInquiryBytes] = {};
    data[0] = kTypeCdDvd;
    data[1] = kRemovable;
    data[2] = kVersionSpc3;
    data[3] = kResponseFormat;
    data[4] = kInquiryBytes - 5;  // additional length: the bytes after byte 4
    PutPadded(data + kVendorOffset, profile.vendor, kVendorChars);
    PutPadded(data + kProductOffset, profile.product, kProductChars);
    std::memcpy(data + kRevisionOffset, kRevision, sizeof kRevision - 1);
    unsigned length = std::min<unsigned>(kInquiryBytes, Be16(cdb + 3));  // allocation length
    if (length > bufLen) return Overrun();
    std::memcpy(buf, data, length);
    return Good();
}

SimResult CSimulatedAspi::Device::ReadCapacity(uint8_t* buf, uint32_t bufLen)
{
    if (!Ready()) return Check(simsense::kNotReadyNoMedium);
    if (bufLen < kCapacityBytes) return Overrun();
    PutBe32(buf, profile.capacity);
    PutBe32(buf + 4, profile.blockLength);
    return Good();
}

// The wait of a disc that was at rest; none when it spins already.
uint32_t CSimulatedAspi::Device::SpinUp()
{
    if (!spunDown_) return 0;
    spunDown_ = false;
    return profile.spinupMillis;
}

SimResult CSimulatedAspi::Device::Read10(const uint8_t* cdb, uint8_t* buf, uint32_t bufLen)
{
    if (!Ready()) return Check(simsense::kNotReadyNoMedium);
    uint32_t lba = Be32(cdb + 2);
    uint32_t count = Be16(cdb + 7);
    if (count == 0) return Good();  // READ(10) of no blocks transfers nothing
    uint64_t bytes = uint64_t(count) * kSimSectorSize;
    if (bytes > bufLen) return Overrun();
    if (uint64_t(lba) + count > profile.sectors) return Check(simsense::kLbaOutOfRange);
    uint32_t spinWait = SpinUp();
    bool ok = true;
    for (uint32_t i = 0; i < count; ++i) {
        // Every sector gets its draw, so the random sequence depends only on the requests.
        bool reads = SectorDraw(lba + i);
        ok = ok && reads && ContentLocked(lba + i, buf + size_t(i) * kSimSectorSize);
    }
    SimResult r = ok ? Good() : Check(simsense::kMediumError);
    if (ok) {
        r.waitUs = uint64_t(profile.sectorMicros) * count;
    } else {
        std::memset(buf, kPoisonByte, size_t(bytes));
        r.waitMs = profile.errorMillis;
    }
    r.waitMs += spinWait;
    return r;
}

SimResult CSimulatedAspi::Device::StartStop(const uint8_t* cdb)
{
    bool start = cdb[4] & kStartBit;
    bool loej = cdb[4] & kLoEjBit;
    SimResult r;
    if (loej) {
        if (!trayMovable_) return Check(simsense::kInvalidField);
        trayOpen_ = !start;
        if (trayOpen_) spunDown_ = true;
        else if (discPresent_) r.waitMs = SpinUp();
        return r;
    }
    // Spinning down keeps the drive ready; spinning up takes the spin-up time.
    if (!start) spunDown_ = true;
    else if (Ready()) r.waitMs = SpinUp();
    return r;
}

void GenerateSector(const SimProfile& profile, uint32_t lba, uint8_t* out)
{
    constexpr unsigned kModulus = 251;
    constexpr uint32_t kLabelSector = 16;
    constexpr unsigned kLabelOffset = 40;
    constexpr unsigned kLabelChars = 32;
    if (profile.volume && profile.volume->Sector(lba, out)) return;
    out[0] = uint8_t(lba);
    out[1] = uint8_t(lba >> 8);
    out[2] = uint8_t(lba >> 16);
    out[3] = uint8_t(lba >> 24);
    for (unsigned i = 4; i < kSimSectorSize; ++i) out[i] = uint8_t((uint64_t(lba) + i) % kModulus);
    if (lba == kLabelSector && !profile.volume) PutPadded(out + kLabelOffset, profile.label, kLabelChars);
}
