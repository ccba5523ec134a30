// ISO 9660: the volume descriptors from sector 16, the primary tree with Rock
// Ridge names, the Joliet tree, multi-extent files. Every record is checked
// against the bounds of its sector before a byte of it is used.
#include <cstring>
#include <map>
#include <set>

#include "filesys/readers.h"

namespace fs {
namespace {

constexpr uint32_t kFirstDescriptor = 16;
constexpr uint32_t kMaxDescriptors = 64;     // a set longer than this is not a volume descriptor set
constexpr unsigned kMaxDepth = 128;
constexpr unsigned kMaxContinuations = 16;   // Rock Ridge continuation areas of one record
constexpr uint64_t kMaxFiles = 4000000;
constexpr size_t kRootRecord = 156;
constexpr uint8_t kFlagDirectory = 0x02;
constexpr uint8_t kFlagMultiExtent = 0x80;

struct Descriptors {
    bool primary = false;
    bool joliet = false;
    uint8_t pvd[kFsSectorSize];
    uint8_t svd[kFsSectorSize];
    std::vector<uint32_t> unreadable;  // descriptor sectors that are missing
};

bool IsDescriptor(const uint8_t* s) { return std::memcmp(s + 1, "CD001", 5) == 0; }

bool JolietEscape(const uint8_t* svd)
{
    static const char* const kEscapes[] = {"%/@", "%/C", "%/E"};
    for (size_t i = 88; i + 3 <= 120; ++i)
        for (const char* e : kEscapes)
            if (std::memcmp(svd + i, e, 3) == 0) return true;
    return false;
}

void ScanDescriptors(ISectorReader& reader, Descriptors* d)
{
    uint8_t s[kFsSectorSize];
    for (uint32_t lba = kFirstDescriptor; lba < kFirstDescriptor + kMaxDescriptors; ++lba) {
        if (lba >= reader.SectorCount()) return;
        if (!reader.Read(lba, s)) {
            d->unreadable.push_back(lba);
            continue;
        }
        if (!IsDescriptor(s)) return;
        if (s[0] == 255) return;
        if (s[0] == 1 && !d->primary) {
            std::memcpy(d->pvd, s, kFsSectorSize);
            d->primary = true;
        } else if (s[0] == 2 && !d->joliet && JolietEscape(s)) {
            std::memcpy(d->svd, s, kFsSectorSize);
            d->joliet = true;
        }
    }
}

// One tree of the volume, walked from its root record.
class TreeWalker {
public:
    TreeWalker(ISectorReader& reader, bool joliet, Listing* out) : reader_(reader), joliet_(joliet), out_(out) {}

    // `root` is the 34-byte root directory record of a volume descriptor.
    void Walk(const uint8_t* root)
    {
        uint32_t lba = Le32(root + 2) + root[1];
        uint32_t bytes = Le32(root + 10);
        if (!joliet_) DetectRockRidge(lba);
        budget_ = uint64_t(reader_.SectorCount()) * 2 + 1024;
        Directory("", lba, bytes, 0);
    }
    bool RockRidge() const { return rockRidge_; }
    // Directories that could not be read whole: path, and whether nothing of it was read.
    std::vector<std::pair<std::string, bool>> broken;

private:
    struct Pending {
        bool open = false;
        std::string name;
        FileRecord file;
    };

    void DetectRockRidge(uint32_t lba)
    {
        uint8_t s[kFsSectorSize];
        if (!reader_.Read(lba, s)) return;
        size_t len = s[0];
        if (len < 34 || s[32] != 1) return;
        size_t su = 34;  // the "." record: one name byte, no padding
        if (su + 7 <= len && s[su] == 'S' && s[su + 1] == 'P' && s[su + 2] >= 7 && s[su + 4] == 0xBE &&
            s[su + 5] == 0xEF) {
            rockRidge_ = true;
            skip_ = s[su + 6];
        }
    }

    // The Rock Ridge fields of one record's system use area (and its continuations).
    struct Susp {
        std::string name;
        bool hasName = false;
        bool relocated = false;   // RE: listed where its CL points from
        uint32_t childLink = 0;   // CL: a directory moved elsewhere
        bool hasChild = false;
    };

    void ParseSusp(const uint8_t* p, size_t len, Susp* su, unsigned depth)
    {
        size_t pos = 0;
        bool nameOpen = true;
        while (pos + 4 <= len) {
            const uint8_t* e = p + pos;
            size_t elen = e[2];
            if (elen < 4 || pos + elen > len) return;
            if (e[0] == 'S' && e[1] == 'T') return;
            if (e[0] == 'N' && e[1] == 'M' && elen >= 5 && nameOpen) {
                uint8_t flags = e[4];
                if (!(flags & 0x06)) {
                    su->name.append(reinterpret_cast<const char*>(e + 5), elen - 5);
                    su->hasName = true;
                    nameOpen = (flags & 0x01) != 0;
                }
            } else if (e[0] == 'R' && e[1] == 'E') {
                su->relocated = true;
            } else if (e[0] == 'C' && e[1] == 'L' && elen >= 12) {
                su->childLink = Le32(e + 4);
                su->hasChild = true;
            } else if (e[0] == 'C' && e[1] == 'E' && elen >= 28 && depth < kMaxContinuations) {
                uint32_t block = Le32(e + 4), offset = Le32(e + 12), length = Le32(e + 20);
                uint8_t s[kFsSectorSize];
                if (offset < kFsSectorSize && length <= kFsSectorSize - offset && reader_.Read(block, s))
                    ParseSusp(s + offset, length, su, depth + 1);
            }
            pos += elen;
        }
    }

    std::string RecordName(const uint8_t* r, size_t nameLen)
    {
        std::string name;
        if (joliet_) {
            AppendUtf16(&name, r + 33, nameLen / 2, true);
        } else {
            name.assign(reinterpret_cast<const char*>(r + 33), nameLen);
        }
        size_t semi = name.rfind(';');
        if (semi != std::string::npos) name.resize(semi);
        if (!joliet_ && name.size() > 1 && name.back() == '.') name.pop_back();
        return name;
    }

    void Finish(Pending* p)
    {
        if (!p->open) return;
        p->open = false;
        if (out_->files.size() < kMaxFiles) out_->files.push_back(p->file);
    }

    void Directory(const std::string& path, uint32_t lba, uint32_t bytes, unsigned depth)
    {
        if (depth > kMaxDepth) {
            out_->unknown.push_back("directory " + Shown(path) + " lies deeper than " + std::to_string(kMaxDepth) +
                                    " levels: its files are not listed");
            return;
        }
        if (!visited_.insert(lba).second) return;  // a loop, or a directory listed twice
        if (!path.empty()) out_->folders.push_back(path);
        uint32_t sectors = uint32_t((uint64_t(bytes) + kFsSectorSize - 1) / kFsSectorSize);
        uint32_t missing = 0;
        Pending pending;
        std::vector<std::pair<std::string, std::pair<uint32_t, uint32_t>>> subdirs;
        uint8_t s[kFsSectorSize];
        for (uint32_t i = 0; i < sectors; ++i) {
            if (budget_ == 0 || lba + i < lba) {
                ++missing;
                continue;
            }
            --budget_;
            if (!reader_.Read(lba + i, s)) {
                ++missing;
                if (pending.open) {
                    pending.file.unknown = true;
                    Finish(&pending);
                }
                continue;
            }
            Records(path, s, &pending, &subdirs);
        }
        if (pending.open) {
            pending.file.unknown = true;  // its last extent's record is not in the directory
            Finish(&pending);
        }
        if (missing) broken.push_back({path, missing == sectors});
        for (const auto& d : subdirs) Directory(d.first, d.second.first, d.second.second, depth + 1);
    }

    void Records(const std::string& path, const uint8_t* s, Pending* pending,
                 std::vector<std::pair<std::string, std::pair<uint32_t, uint32_t>>>* subdirs)
    {
        size_t pos = 0;
        while (pos < kFsSectorSize) {
            size_t len = s[pos];
            if (len == 0) return;  // the rest of the sector is padding
            if (len < 34 || pos + len > kFsSectorSize) return;
            const uint8_t* r = s + pos;
            pos += len;
            size_t nameLen = r[32];
            if (33 + nameLen > len) continue;
            if (nameLen == 1 && (r[33] == 0 || r[33] == 1)) continue;  // "." and ".."
            uint32_t start = Le32(r + 2) + r[1];
            uint32_t dataLen = Le32(r + 10);
            uint8_t flags = r[25];
            std::string name = RecordName(r, nameLen);
            Susp su;
            if (rockRidge_) {
                size_t suStart = 33 + nameLen + (nameLen % 2 == 0 ? 1 : 0) + skip_;
                if (suStart < len) ParseSusp(r + suStart, len - suStart, &su, 0);
                if (su.hasName) name = su.name;
            }
            if (su.relocated) continue;
            if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..")
                name = "(record " + std::to_string(pos - len) + ")";
            std::string full = path + "/" + name;
            if (su.hasChild) {
                uint32_t dirBytes = ChildDirectoryBytes(su.childLink);
                subdirs->push_back({full, {su.childLink, dirBytes}});
                continue;
            }
            if (flags & kFlagDirectory) {
                Finish(pending);
                subdirs->push_back({full, {start, dataLen}});
                continue;
            }
            if (!(pending->open && pending->name == name)) {
                Finish(pending);
                pending->open = true;
                pending->name = name;
                pending->file = FileRecord();
                pending->file.path = full;
                pending->file.modified = IsoRecordTime(r + 18);
            }
            pending->file.size += dataLen;
            if (dataLen) pending->file.extents.push_back({start, dataLen});
            if (!(flags & kFlagMultiExtent)) Finish(pending);
        }
    }

    // A relocated directory's size, from its own "." record.
    uint32_t ChildDirectoryBytes(uint32_t lba)
    {
        uint8_t s[kFsSectorSize];
        if (!reader_.Read(lba, s) || s[0] < 34) return kFsSectorSize;
        return Le32(s + 10);
    }

    static std::string Shown(const std::string& path) { return path.empty() ? "/" : path; }

    ISectorReader& reader_;
    bool joliet_;
    Listing* out_;
    bool rockRidge_ = false;
    unsigned skip_ = 0;
    uint64_t budget_ = 0;
    std::set<uint32_t> visited_;
};

struct TreeResult {
    Listing listing;
    std::vector<std::pair<std::string, bool>> broken;
    bool rockRidge = false;
};

TreeResult WalkTree(ISectorReader& reader, const uint8_t* descriptor, bool joliet)
{
    TreeResult t;
    TreeWalker w(reader, joliet, &t.listing);
    w.Walk(descriptor + kRootRecord);
    t.broken = w.broken;
    t.rockRidge = w.RockRidge();
    return t;
}

bool Under(const std::string& path, const std::string& dir)
{
    return path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 && path[dir.size()] == '/';
}

// Fills the directories that `main` could not read from the same directories
// of `other`: both trees point to the same file data.
// True when the root directory stays unreadable.
bool FillFromOther(TreeResult* main, const TreeResult& other, const std::string& otherName)
{
    bool rootLost = false;
    std::set<std::string> have;
    for (const FileRecord& f : main->listing.files) have.insert(ComparableName(f.path));
    std::map<std::string, bool> otherBroken;
    for (const auto& b : other.broken) otherBroken[ComparableName(b.first)] = b.second;
    for (const auto& b : main->broken) {
        std::string shown = b.first.empty() ? "/" : b.first;
        std::string key = ComparableName(b.first);
        auto ob = otherBroken.find(key);
        bool otherHasDir = key.empty();
        size_t added = 0;
        for (const FileRecord& f : other.listing.files) {
            std::string fk = ComparableName(f.path);
            if (!Under(fk, key)) continue;
            otherHasDir = true;
            if (!have.insert(fk).second) continue;
            FileRecord copy = f;
            copy.path = b.first + f.path.substr(b.first.size());
            main->listing.files.push_back(copy);
            ++added;
        }
        if (ob == otherBroken.end() && (otherHasDir || added)) {
            main->listing.notes.push_back("directory " + shown + " unreadable: listed from the " + otherName + " tree");
            continue;
        }
        std::string what = b.second ? "unreadable: its files are not listed"
                                    : "partly unreadable: some of its files may not be listed";
        main->listing.unknown.push_back("directory " + shown + " " + what);
        rootLost = rootLost || (b.first.empty() && b.second && added == 0);
    }
    return rootLost;
}

}  // namespace

bool HasIsoDescriptors(ISectorReader& reader)
{
    uint8_t s[kFsSectorSize];
    for (uint32_t lba = kFirstDescriptor; lba < kFirstDescriptor + kMaxDescriptors; ++lba) {
        if (!reader.Read(lba, s)) continue;
        return IsDescriptor(s);
    }
    return false;
}

uint32_t IsoVolumeSectors(ISectorReader& reader)
{
    Descriptors d;
    ScanDescriptors(reader, &d);
    if (d.primary) return Le32(d.pvd + 80);
    if (d.joliet) return Le32(d.svd + 80);
    return 0;
}

bool ReadIso(ISectorReader& reader, FsChoice which, Listing* listing, std::string* error)
{
    Descriptors d;
    ScanDescriptors(reader, &d);
    const char* lostPrimary = "the primary volume descriptor is unreadable";
    if (!d.primary && !d.joliet) {
        *error = d.unreadable.empty() ? "no ISO 9660 volume descriptor at sector 16"
                                      : "the ISO 9660 volume descriptors are unreadable (sector " +
                                            std::to_string(d.unreadable.front()) + ")";
        return false;
    }
    for (const uint8_t* vd : {d.primary ? d.pvd : nullptr, d.joliet ? d.svd : nullptr}) {
        if (vd && Le16(vd + 128) != kFsSectorSize) {
            *error = "ISO 9660 logical blocks of " + std::to_string(Le16(vd + 128)) + " bytes are not supported";
            return false;
        }
    }
    if (which == FsChoice::Joliet && !d.joliet) {
        *error = "the volume has no Joliet tree (or its descriptor is unreadable)";
        return false;
    }
    if (which == FsChoice::Iso && !d.primary) {
        *error = lostPrimary;
        return false;
    }
    TreeResult primary, joliet;
    if (d.primary) primary = WalkTree(reader, d.pvd, false);
    if (d.joliet) joliet = WalkTree(reader, d.svd, true);

    bool useJoliet = which == FsChoice::Joliet || (which == FsChoice::Any && (!d.primary || (!primary.rockRidge && d.joliet)));
    TreeResult& main = useJoliet ? joliet : primary;
    const TreeResult* other = useJoliet ? (d.primary ? &primary : nullptr) : (d.joliet ? &joliet : nullptr);
    TreeResult none;
    if (FillFromOther(&main, other ? *other : none, useJoliet ? "primary" : "Joliet")) {
        *error = "the root directory is unreadable in every tree";
        return false;
    }
    *listing = std::move(main.listing);
    if (useJoliet) {
        listing->kind = FsKind::Joliet;
        listing->systemName = "Joliet";
    } else {
        listing->kind = main.rockRidge ? FsKind::RockRidge : FsKind::Iso9660;
        listing->systemName = main.rockRidge ? "ISO 9660 + Rock Ridge" : "ISO 9660";
    }
    if (!d.primary) listing->notes.push_back(std::string(lostPrimary) + ": listed from the Joliet tree");
    listing->volumeSectors = Le32((d.primary ? d.pvd : d.svd) + 80);
    return true;
}

}  // namespace fs
