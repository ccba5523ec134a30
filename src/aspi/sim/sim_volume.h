// The file system of a simulated disc with `file` lines: an ISO 9660 volume
// with a Joliet tree, laid out once when the profile is read. Its descriptors
// and directories lie from sector 16 on; the files follow, each from the start
// of a sector, in the order of the profile, and their sectors hold the
// generated content.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct SimFile {
    std::string path;  // "Photos/Beach/IMG_0001.JPG", UTF-8, '/' between folders
    uint32_t bytes = 0;
};

class CSimVolume {
public:
    // Null with *error set when a path is not usable or the files do not fit
    // into `sectors`.
    static std::shared_ptr<const CSimVolume> Build(const std::vector<SimFile>& files, const std::string& label,
                                                   uint32_t sectors, std::string* error);
    // The volume's own sectors (descriptors, path tables, directories) up to
    // the first file; false beyond them.
    bool Sector(uint32_t lba, uint8_t* out) const;
    // Where each file of the profile starts, in profile order.
    const std::vector<uint32_t>& FileStarts() const { return starts_; }

private:
    std::vector<uint8_t> meta_;
    std::vector<uint32_t> starts_;
};
