// The readers of the single file systems, behind ListFiles. Private to the folder.
#pragma once
#include <cstdint>
#include <string>

#include "filesys/listing.h"

namespace fs {

inline uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t Le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint64_t Le64(const uint8_t* p) { return Le32(p) | uint64_t(Le32(p + 4)) << 32; }

// Appends one UCS-2/UTF-16 code unit sequence as UTF-8 (big-endian units when
// `bigEndian`); `units` counts 16-bit units.
void AppendUtf16(std::string* out, const uint8_t* p, size_t units, bool bigEndian);

// Names compared across trees: upper case, without a ";1" version or a final dot.
std::string ComparableName(const std::string& path);

// ISO 9660: `which` is Any (Rock Ridge, else Joliet, else plain), Iso (the
// primary tree, with Rock Ridge names where present) or Joliet. An unreadable
// directory is looked up in the other tree. False when no tree can be read.
bool ReadIso(ISectorReader& reader, FsChoice which, Listing* listing, std::string* error);
uint32_t IsoVolumeSectors(ISectorReader& reader);
// Whether sectors 16 on hold an ISO 9660 volume descriptor set (any readable "CD001").
bool HasIsoDescriptors(ISectorReader& reader);

bool ReadUdf(ISectorReader& reader, Listing* listing, std::string* error);
uint32_t UdfVolumeSectors(ISectorReader& reader);

}  // namespace fs
