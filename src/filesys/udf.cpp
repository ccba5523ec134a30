// UDF: the file set, File Entries and Extended File Entries with short, long
// and extended allocation descriptors, embedded data and allocation extent
// descriptors, and the directories of File Identifier Descriptors.
#include <algorithm>
#include <cstring>
#include <set>

#include "filesys/udf_volume.h"

namespace fs {
namespace {

constexpr unsigned kMaxDepth = 128;
constexpr unsigned kMaxAllocExtents = 4096;  // chained allocation extent descriptors of one entry
constexpr uint64_t kMaxDirectoryBytes = 64u << 20;
constexpr uint64_t kMaxFiles = 4000000;
constexpr uint8_t kFileTypeDirectory = 4;
constexpr uint8_t kFileTypeSymlink = 12;
constexpr uint8_t kCharDirectory = 0x02;
constexpr uint8_t kCharDeleted = 0x04;
constexpr uint8_t kCharParent = 0x08;

struct Entry {
    uint8_t fileType = 0;
    uint64_t size = 0;
    std::vector<FileExtent> extents;  // sectors of recorded data
    std::vector<uint8_t> embedded;    // data held in the entry itself
    bool isEmbedded = false;
    bool incomplete = false;          // an allocation extent descriptor was unreadable
    FileTime modified;
};

// OSTA compressed Unicode: 8 bits a character, or 16 bits big-endian.
std::string DString(const uint8_t* p, size_t len)
{
    std::string out;
    if (len == 0) return out;
    if (p[0] == 8 || p[0] == 254) {
        for (size_t i = 1; i < len; ++i) {
            if (p[i] < 0x80) {
                out += char(p[i]);
            } else {
                out += char(0xC0 | p[i] >> 6);
                out += char(0x80 | (p[i] & 0x3F));
            }
        }
    } else if (p[0] == 16 || p[0] == 255) {
        AppendUtf16(&out, p + 1, (len - 1) / 2, true);
    }
    return out;
}

class UdfWalker {
public:
    UdfWalker(CUdfVolume& v, ISectorReader& r, Listing* out) : vol_(v), reader_(r), out_(out) {}

    bool ReadEntry(UdfAddress at, Entry* e)
    {
        uint8_t s[kFsSectorSize];
        if (!vol_.ReadBlock(at, s)) return false;
        uint16_t id = Le16(s);
        if (!(id == kUdfTagFileEntry || id == kUdfTagExtFileEntry) || !UdfTagValid(s, kFsSectorSize, id)) return false;
        size_t head = id == kUdfTagFileEntry ? 176 : 216;
        uint32_t eaLen = Le32(s + head - 8), adLen = Le32(s + head - 4);
        if (uint64_t(head) + eaLen + adLen > kFsSectorSize) return false;
        e->fileType = s[27];
        e->size = Le64(s + 56);
        e->modified = UdfTimestamp(s + (id == kUdfTagFileEntry ? 84 : 92));
        unsigned adType = Le16(s + 34) & 7;
        const uint8_t* ads = s + head + eaLen;
        if (adType == 3) {
            e->isEmbedded = true;
            e->embedded.assign(ads, ads + adLen);
            if (e->size > adLen) e->size = adLen;
            return true;
        }
        if (adType > 2) return false;
        uint64_t left = e->size;
        std::set<uint32_t> seen;
        for (unsigned chain = 0; chain <= kMaxAllocExtents; ++chain) {
            UdfAddress next;
            if (!Descriptors(ads, adLen, adType, at.partition, &left, e, &next)) {
                e->incomplete = e->incomplete || left > 0;  // fewer bytes placed than the entry's size
                return true;
            }
            uint32_t sector;
            if (!vol_.Sector(next, &sector) || !seen.insert(sector).second || !vol_.ReadBlock(next, s) ||
                !UdfTagValid(s, kFsSectorSize, kUdfTagAllocExtent) || 24 + uint64_t(Le32(s + 20)) > kFsSectorSize) {
                e->incomplete = true;
                return true;
            }
            ads = s + 24;
            adLen = Le32(s + 20);
        }
        e->incomplete = true;
        return true;
    }

    void Directory(const std::string& path, const Entry& dir, unsigned depth)
    {
        if (depth > kMaxDepth) {
            out_->unknown.push_back("directory " + Shown(path) + " lies too deep: its files are not listed");
            return;
        }
        std::vector<std::pair<std::string, UdfAddress>> subdirs;
        ListDirectory(path, dir, &subdirs);  // its data is freed before the folders below are read
        for (const auto& d : subdirs) Enter(d.first, d.second, depth + 1);
    }

    void ListDirectory(const std::string& path, const Entry& dir, std::vector<std::pair<std::string, UdfAddress>>* subdirs)
    {
        std::vector<uint8_t> data;
        std::vector<bool> lost;  // per sector of data
        if (dir.isEmbedded) {
            data = dir.embedded;
            lost.assign(1, false);
        } else {
            if (dir.size > kMaxDirectoryBytes) {
                out_->unknown.push_back("directory " + Shown(path) + " is too large to list");
                return;
            }
            uint64_t recorded = 0;
            for (const FileExtent& x : dir.extents) recorded += x.bytes;
            data.assign(size_t(std::min(dir.size, recorded)), 0);
            size_t at = 0;
            uint8_t s[kFsSectorSize];
            for (const FileExtent& x : dir.extents) {
                for (uint64_t k = 0; k * kFsSectorSize < x.bytes && at < data.size(); ++k, at += kFsSectorSize) {
                    bool ok = reader_.Read(uint32_t(x.lba + k), s);
                    lost.push_back(!ok);
                    if (ok) std::memcpy(data.data() + at, s, std::min<size_t>(kFsSectorSize, data.size() - at));
                }
            }
            lost.resize((data.size() + kFsSectorSize - 1) / kFsSectorSize, true);
        }
        bool partly = dir.incomplete;
        for (bool l : lost) partly = partly || l;
        // Identifiers follow one another to the directory's end: bytes that
        // read but hold none, after no lost sector, are corruption.
        bool corrupt = false, resync = false;
        size_t pos = 0;
        while (pos + 38 <= data.size()) {
            size_t sector = pos / kFsSectorSize;
            if (lost[sector] || !UdfTagValid(data.data() + pos, data.size() - pos, kUdfTagFileId)) {
                corrupt = corrupt || (!lost[sector] && !resync);
                resync = true;
                pos += 4;  // look for the next identifier on its 4-byte grid
                continue;
            }
            resync = false;
            const uint8_t* f = data.data() + pos;
            uint8_t chars = f[18];
            size_t nameLen = f[19], iuLen = Le16(f + 36);
            size_t total = (38 + iuLen + nameLen + 3) & ~size_t(3);
            if (pos + total > data.size()) {
                corrupt = true;
                break;
            }
            UdfAddress icb{Le32(f + 24), Le16(f + 28)};
            std::string name = DString(f + 38 + iuLen, nameLen);
            pos += total;
            if (chars & (kCharParent | kCharDeleted)) continue;
            if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
                std::string shown = "(entry " + std::to_string(pos - total) + ")";
                out_->notes.push_back("the name \"" + name + "\" in " + Shown(path) +
                                      " cannot be a file name: listed as " + shown);
                name = shown;
            }
            std::string full = path + "/" + name;
            if (chars & kCharDirectory) {
                subdirs->push_back({full, icb});
                continue;
            }
            FileRecord r;
            r.path = full;
            Entry e;
            if (!ReadEntry(icb, &e)) {
                r.unknown = true;
            } else if (e.fileType == kFileTypeSymlink) {
                r.symlink = true;
                r.linkTarget = LinkTarget(e);
            } else {
                r.size = e.size;
                r.extents = e.extents;
                r.unknown = e.incomplete;
                r.modified = e.modified;
                // An entry that claims more than it holds keeps what it holds;
                // the size check of the extraction then leaves the file out.
                if (e.isEmbedded)
                    r.embedded.assign(reinterpret_cast<const char*>(e.embedded.data()),
                                      size_t(std::min<uint64_t>(e.size, e.embedded.size())));
            }
            if (out_->files.size() < kMaxFiles) out_->files.push_back(r);
            else tooMany = true;
        }
        if (pos < data.size() && !lost.back() && !partly) corrupt = true;  // a tail too short for an identifier
        if (corrupt)
            out_->unknown.push_back("directory " + Shown(path) + " is corrupt: some of its files may not be listed");
        else if (partly)
            out_->unknown.push_back("directory " + Shown(path) + " partly unreadable: some of its files may not be listed");
    }

    void Enter(const std::string& path, UdfAddress icb, unsigned depth)
    {
        uint32_t sector = 0;
        if (!vol_.Sector(icb, &sector)) {
            out_->unknown.push_back("directory " + Shown(path) + " unreadable: its files are not listed");
            return;
        }
        if (!visited_.insert(sector).second) {  // points back to a directory listed before
            out_->unknown.push_back("directory " + Shown(path) + " is corrupt: its files are not listed");
            return;
        }
        Entry e;
        if (!ReadEntry(icb, &e) || e.fileType != kFileTypeDirectory) {
            out_->unknown.push_back("directory " + Shown(path) + " unreadable: its files are not listed");
            return;
        }
        if (!path.empty()) out_->folders.push_back(path);
        Directory(path, e, depth);
    }

    bool tooMany = false;

private:
    // A symbolic link's path components, when they are held in its entry.
    static std::string LinkTarget(const Entry& e)
    {
        std::string out;
        const std::vector<uint8_t>& p = e.embedded;
        for (size_t at = 0; at + 4 <= p.size() && at + 4 + p[at + 1] <= p.size(); at += 4 + p[at + 1]) {
            uint8_t type = p[at], len = p[at + 1];
            if (type == 2) {
                out = "/";
                continue;
            }
            if (!out.empty() && out.back() != '/') out += '/';
            out += type == 3 ? ".." : type == 4 ? "." : type == 5 ? DString(p.data() + at + 4, len) : "";
        }
        return out;
    }

    // One run of allocation descriptors; true with *next set when it ends in
    // a pointer to an allocation extent descriptor.
    bool Descriptors(const uint8_t* p, uint32_t len, unsigned type, uint16_t partition, uint64_t* left, Entry* e,
                     UdfAddress* next)
    {
        size_t step = type == 0 ? 8 : type == 1 ? 16 : 20;
        for (size_t at = 0; at + step <= len; at += step) {
            const uint8_t* d = p + at;
            uint32_t raw = Le32(d);
            uint32_t bytes = raw & 0x3FFFFFFF, kind = raw >> 30;
            if (bytes == 0) return false;
            UdfAddress where{type == 0 ? Le32(d + 4) : type == 1 ? Le32(d + 4) : Le32(d + 12),
                             type == 0 ? partition : type == 1 ? Le16(d + 8) : Le16(d + 16)};
            if (kind == 3) {
                *next = where;
                return true;
            }
            uint64_t used = std::min<uint64_t>(bytes, *left);
            *left -= used;
            if (kind == 0 && used && !vol_.Runs(where, used, &e->extents)) e->incomplete = true;
        }
        return false;
    }

    static std::string Shown(const std::string& path) { return path.empty() ? "/" : path; }

    CUdfVolume& vol_;
    ISectorReader& reader_;
    Listing* out_;
    std::set<uint32_t> visited_;
};

}  // namespace

bool ReadUdf(ISectorReader& reader, Listing* listing, std::string* error)
{
    CUdfVolume vol(reader);
    if (!vol.Open(error, &listing->notes)) return false;
    uint8_t s[kFsSectorSize];
    if (!vol.ReadBlock(vol.fileSet, s) || !UdfTagValid(s, kFsSectorSize, kUdfTagFileSet)) {
        *error = "the UDF file set descriptor is unreadable";
        return false;
    }
    UdfAddress root{Le32(s + 404), Le16(s + 408)};
    listing->kind = FsKind::Udf;
    listing->systemName = "UDF " + vol.revision;
    listing->volumeSectors = vol.volumeEnd;
    UdfWalker w(vol, reader, listing);
    Entry rootEntry;
    if (!w.ReadEntry(root, &rootEntry) || rootEntry.fileType != kFileTypeDirectory) {
        *error = "the UDF root directory's entry is unreadable";
        return false;
    }
    w.Enter("", root, 0);
    if (w.tooMany)
        listing->unknown.push_back("the tree holds more than " + std::to_string(kMaxFiles) + " files: the rest are not listed");
    if (vol.mirrorUsed) listing->notes.push_back("blocks of the metadata file were read from its mirror");
    return true;
}

uint32_t UdfVolumeSectors(ISectorReader& reader)
{
    CUdfVolume vol(reader);
    std::string error;
    std::vector<std::string> notes;
    return vol.Open(&error, &notes) ? vol.volumeEnd : 0;
}

}  // namespace fs
