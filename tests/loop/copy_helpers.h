// Files of an image set as the copy tests build and inspect them.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "engine/recovery_engine.h"

std::vector<uint8_t> ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes);
bool FileExists(const std::string& path);

// A flag file of `sectors` sectors, all missing, with a valid header.
std::vector<uint8_t> NewFlagFile(uint32_t sectors, uint32_t sectorSize = 2048, uint32_t sectorsRead = 0);
FlagHeader HeaderOf(const std::vector<uint8_t>& flagFile);
// The flag of `lba` in a flag file's bytes: true while the sector is missing.
bool Missing(const std::vector<uint8_t>& flagFile, uint32_t lba);
void SetMissing(std::vector<uint8_t>& flagFile, uint32_t lba, bool missing);
uint32_t CountRead(const std::vector<uint8_t>& flagFile, uint32_t sectors);
