// What must hold for an image set after any kill: every sector whose flag says
// read holds the disc's content (in the image, or in the import file for a
// copy in export mode), and the bits past the last sector still say missing.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "aspi/sim/sim_drive.h"

struct SetReport {
    bool ok = true;
    std::string problem;      // the first inconsistency found
    uint32_t sectorCount = 0; // from the flag header (0: no header yet)
    uint32_t markedRead = 0;  // clear bits below sectorCount
    uint32_t headerRead = 0;  // the header's sectorsRead
    bool headerSums = true;   // the twelve words sum to zero
};

std::vector<uint8_t> ReadAll(const std::string& path);

// What an import file may hold for each LBA: the data after every head that
// sums to zero with this geometry, at any offset (a torn record's "data" runs
// into the next record, so some entries are not sectors at all).
std::map<uint32_t, std::vector<std::vector<uint8_t>>> ImportRecords(const std::vector<uint8_t>& imp, uint32_t count,
                                                                     uint32_t size);

// The flag file `flg` against the disc of device 0 of `disc`. Sectors marked
// read are looked for in `image` (normal mode) or, when `importFile` is not
// empty, in that import file for every sector that `startFlags` (the flag
// file the export began from) had missing.
SetReport VerifySet(CSimulatedAspi& disc, const std::string& flg, const std::string& image, const std::string& importFile,
                    const std::vector<uint8_t>& startFlags);

bool FlagMissing(const std::vector<uint8_t>& flg, uint32_t lba);
