#include "aspi/common/scsi_transfer.h"

#include <algorithm>

namespace scsi {

namespace {

constexpr uint8_t kOpInquiry = 0x12;
constexpr uint8_t kOpReadCapacity10 = 0x25;
constexpr uint8_t kOpRead10 = 0x28;
constexpr uint8_t kOpRead12 = 0xA8;
constexpr uint32_t kReadCapacityBytes = 8;
constexpr uint32_t kUserDataBytes = 2048;   // one sector of the discs the program reads
constexpr uint32_t kInquiryHeaderBytes = 5; // up to and including the additional length
constexpr uint32_t kInquiryAdditionalLength = 4;

uint32_t Be16(const uint8_t* p) { return (uint32_t{p[0]} << 8) | p[1]; }
uint32_t Be32(const uint8_t* p) { return (Be16(p) << 16) | Be16(p + 2); }

}  // namespace

// The buffer may be larger than the reply: READ(10) is given a 64 KiB buffer
// whatever its block count. The request asks for what the command asks for,
// not for the buffer: an emulated adapter was seen to fill the whole buffer
// from the disc and to report a meaningless residue when the two differ.
uint32_t TransferLength(const uint8_t* cdb, uint8_t cdbLength, uint32_t bufferLength)
{
    uint64_t length = bufferLength;
    switch (cdb[0]) {
    case kOpRead10:
        if (cdbLength >= 10) length = uint64_t{Be16(cdb + 7)} * kUserDataBytes;
        break;
    case kOpRead12:
        if (cdbLength >= 12) length = uint64_t{Be32(cdb + 6)} * kUserDataBytes;
        break;
    case kOpReadCapacity10:
        length = kReadCapacityBytes;
        break;
    case kOpInquiry:
        if (cdbLength >= 6) length = Be16(cdb + 3);
        break;
    default:
        break;
    }
    return static_cast<uint32_t>(std::min<uint64_t>(length, bufferLength));
}

// All of it must arrive: a read that delivered less leaves bytes of an
// earlier command in the buffer, and those must never be taken for sectors.
// Only INQUIRY data is as long as the device says it is.
uint32_t RequiredInBytes(const uint8_t* cdb, const uint8_t* data, uint32_t moved, uint32_t transferLength)
{
    if (cdb[0] != kOpInquiry) return transferLength;
    uint32_t stated = kInquiryHeaderBytes;
    if (moved > kInquiryAdditionalLength) stated += data[kInquiryAdditionalLength];
    return std::min(stated, transferLength);
}

}  // namespace scsi
