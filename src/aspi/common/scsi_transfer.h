// How many bytes a SCSI command of the drive layer moves, shared by the ASPI
// managers that hand commands to an operating system (SG_IO, pass-through).
#pragma once
#include <cstdint>

namespace scsi {

// The bytes a data-in command asks the device for, at most the buffer:
// READ(10)/(12) blocks of 2048 bytes, READ CAPACITY's 8, INQUIRY's allocation
// length; any other command the whole buffer.
uint32_t TransferLength(const uint8_t* cdb, uint8_t cdbLength, uint32_t bufferLength);
// How many of those must have arrived so that none of the bytes the caller
// will use are left over from an earlier command: all of them, except that
// INQUIRY data may be as short as its own length byte says. `data` holds
// what arrived, `moved` bytes of it.
uint32_t RequiredInBytes(const uint8_t* cdb, const uint8_t* data, uint32_t moved, uint32_t transferLength);

}  // namespace scsi
