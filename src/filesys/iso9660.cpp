// ISO 9660: the primary tree with Rock Ridge names, the Joliet tree,
// multi-extent files, read from the last session of the disc. Every record is checked against the bounds of its
// sector before a byte of it is used; a directory that does not hold together
// is reported, never skipped in silence.
#include <algorithm>
#include <cstring>
#include <set>

#include "filesys/iso_descriptors.h"

namespace fs {
namespace {

constexpr unsigned kMaxDepth = 128;
constexpr unsigned kMaxContinuations = 16;   // Rock Ridge continuation areas of one record
constexpr uint32_t kSessionSlack = 300;      // run-out sectors a copy may hold after a session's end
constexpr uint64_t kMaxFiles = 4000000;
constexpr uint8_t kFlagDirectory = 0x02;
constexpr uint8_t kFlagMultiExtent = 0x80;

// A directory's first record is "." and points to the directory itself.
bool SelfRecord(const uint8_t* s, uint32_t lba)
{
    return s[0] >= 34 && s[32] == 1 && s[33] == 0 && Le32(s + 2) + s[1] == lba;
}

// A directory that could not be read whole: nothing of it (`whole`) or part,
// lost sectors or records that do not hold together (`corrupt`).
struct Broken {
    std::string path;
    bool whole = false;
    bool corrupt = false;
};

// One tree of the volume, walked from its root record.
class TreeWalker {
public:
    TreeWalker(ISectorReader& reader, bool joliet, Listing* out) : reader_(reader), joliet_(joliet), out_(out) {}

    // `root` is the 34-byte root directory record of a volume descriptor; no
    // directory reaches past `volumeEnd` (or the copy's end, if later).
    void Walk(const uint8_t* root, uint32_t volumeEnd)
    {
        uint32_t lba = Le32(root + 2) + root[1];
        uint32_t bytes = Le32(root + 10);
        volumeEnd_ = std::max(volumeEnd, reader_.SectorCount());
        if (!joliet_) DetectRockRidge(lba);
        Directory("", lba, bytes, 0);
        if (tooMany_)
            out_->unknown.push_back("the tree holds more than " + std::to_string(kMaxFiles) + " files: the rest are not listed");
    }
    bool RockRidge() const { return rockRidge_; }
    std::vector<Broken> broken;

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
        bool symlink = false;     // SL: the link's target, component by component
        std::string link;
        bool linkSlash = false;   // the next component starts after a '/'
        bool nameOpen = true;
    };

    static void LinkComponents(const uint8_t* e, size_t elen, Susp* su)
    {
        su->symlink = true;
        for (size_t c = 5; c + 2 <= elen && c + 2 + e[c + 1] <= elen; c += 2 + e[c + 1]) {
            uint8_t flags = e[c];
            if (flags & 0x08) {
                su->link = "/";
                su->linkSlash = false;
                continue;
            }
            if (su->linkSlash) su->link += '/';
            if (flags & 0x02) su->link += ".";
            else if (flags & 0x04) su->link += "..";
            else su->link.append(reinterpret_cast<const char*>(e + c + 2), e[c + 1]);
            su->linkSlash = !(flags & 0x01);
        }
    }

    // One system use area: at most one continuation area is followed from it.
    void ParseSusp(const uint8_t* p, size_t len, Susp* su, unsigned depth)
    {
        size_t pos = 0;
        bool continued = false;
        while (pos + 4 <= len) {
            const uint8_t* e = p + pos;
            size_t elen = e[2];
            if (elen < 4 || pos + elen > len) return;
            if (e[0] == 'S' && e[1] == 'T') return;
            if (e[0] == 'N' && e[1] == 'M' && elen >= 5 && su->nameOpen) {
                uint8_t flags = e[4];
                if (!(flags & 0x06)) {
                    su->name.append(reinterpret_cast<const char*>(e + 5), elen - 5);
                    su->hasName = true;
                    su->nameOpen = (flags & 0x01) != 0;
                }
            } else if (e[0] == 'S' && e[1] == 'L' && elen >= 5) {
                LinkComponents(e, elen, su);
            } else if (e[0] == 'R' && e[1] == 'E') {
                su->relocated = true;
            } else if (e[0] == 'C' && e[1] == 'L' && elen >= 12) {
                su->childLink = Le32(e + 4);
                su->hasChild = true;
            } else if (e[0] == 'C' && e[1] == 'E' && elen >= 28 && depth < kMaxContinuations && !continued) {
                continued = true;
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

    void Add(const FileRecord& f)
    {
        if (out_->files.size() < kMaxFiles) out_->files.push_back(f);
        else tooMany_ = true;
    }

    void Finish(Pending* p)
    {
        if (!p->open) return;
        p->open = false;
        Add(p->file);
    }

    void Directory(const std::string& path, uint32_t lba, uint32_t bytes, unsigned depth)
    {
        if (depth > kMaxDepth) {
            out_->unknown.push_back("directory " + Shown(path) + " lies deeper than " + std::to_string(kMaxDepth) +
                                    " levels: its files are not listed");
            return;
        }
        uint32_t sectors = uint32_t((uint64_t(bytes) + kFsSectorSize - 1) / kFsSectorSize);
        // A record that points back to a directory listed before (a loop), or
        // past the end of the volume, or at no sector at all.
        if (!visited_.insert(lba).second || sectors == 0 || uint64_t(lba) + sectors > volumeEnd_) {
            broken.push_back({path, true, true});
            return;
        }
        if (!path.empty()) out_->folders.push_back(path);
        uint32_t missing = 0;
        bool corrupt = false;
        Pending pending;
        std::vector<std::pair<std::string, std::pair<uint32_t, uint32_t>>> subdirs;
        uint8_t s[kFsSectorSize];
        for (uint32_t i = 0; i < sectors; ++i) {
            bool read = reader_.Read(lba + i, s);
            if (read && i == 0 && !SelfRecord(s, lba)) {  // not a directory: file data, or garbage
                broken.push_back({path, true, true});
                return;
            }
            if (!read) {
                ++missing;
                if (pending.open) {
                    pending.file.unknown = true;
                    Finish(&pending);
                }
                continue;
            }
            corrupt = !Records(path, s, &pending, &subdirs) || corrupt;
        }
        if (pending.open) {
            pending.file.unknown = true;  // its last extent's record is not in the directory
            Finish(&pending);
        }
        if (missing || corrupt) broken.push_back({path, missing == sectors, corrupt});
        for (const auto& d : subdirs) Directory(d.first, d.second.first, d.second.second, depth + 1);
    }

    // The records of one sector; false when some do not hold together.
    bool Records(const std::string& path, const uint8_t* s, Pending* pending,
                 std::vector<std::pair<std::string, std::pair<uint32_t, uint32_t>>>* subdirs)
    {
        size_t pos = 0;
        bool whole = true;
        while (pos < kFsSectorSize) {
            size_t len = s[pos];
            if (len == 0) return whole;  // the rest of the sector is padding
            if (len < 34 || pos + len > kFsSectorSize) return false;
            const uint8_t* r = s + pos;
            pos += len;
            size_t nameLen = r[32];
            if (nameLen == 0 || 33 + nameLen > len) {
                whole = false;
                continue;
            }
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
            if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
                std::string shown = "(record " + std::to_string(pos - len) + ")";
                out_->notes.push_back("the name \"" + name + "\" in " + Shown(path) +
                                      " cannot be a file name: listed as " + shown);
                name = shown;
            }
            std::string full = path + "/" + name;
            if (su.hasChild) {
                uint32_t dirBytes = ChildDirectoryBytes(su.childLink);
                subdirs->push_back({full, {su.childLink, dirBytes}});
                continue;
            }
            if (su.symlink && !(flags & kFlagDirectory)) {
                Finish(pending);
                FileRecord link;
                link.path = full;
                link.symlink = true;
                link.linkTarget = su.link;
                Add(link);
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
        return whole;
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
    uint32_t volumeEnd_ = 0;
    bool tooMany_ = false;
    std::set<uint32_t> visited_;
};

struct TreeResult {
    Listing listing;
    std::vector<Broken> broken;
    bool rockRidge = false;
};

TreeResult WalkTree(ISectorReader& reader, const uint8_t* descriptor, bool joliet, uint32_t volumeEnd)
{
    TreeResult t;
    TreeWalker w(reader, joliet, &t.listing);
    w.Walk(descriptor + kRootRecord, volumeEnd);
    t.broken = w.broken;
    t.rockRidge = w.RockRidge();
    return t;
}

// Fills the directories that `main` could not read from the same directories
// of `other` (none when the volume has one tree): both trees point to the same
// file data. True when the root directory stays unknown.
bool FillFromOther(TreeResult* main, const TreeResult* other, const std::string& otherName)
{
    bool rootLost = false;
    std::set<std::string> have;
    for (const FileRecord& f : main->listing.files) have.insert(ComparableName(f.path));
    std::set<std::string> otherBroken;
    std::vector<std::pair<std::string, size_t>> otherFiles;  // comparable path, index; sorted
    if (other) {
        for (const Broken& b : other->broken) otherBroken.insert(ComparableName(b.path));
        for (size_t i = 0; i < other->listing.files.size(); ++i)
            otherFiles.push_back({ComparableName(other->listing.files[i].path), i});
        std::sort(otherFiles.begin(), otherFiles.end());
    }
    for (const Broken& b : main->broken) {
        std::string shown = b.path.empty() ? "/" : b.path;
        std::string key = ComparableName(b.path), prefix = key + "/";
        bool otherHasDir = other && key.empty();
        size_t added = 0;
        for (auto it = std::lower_bound(otherFiles.begin(), otherFiles.end(), std::make_pair(prefix, size_t(0)));
             it != otherFiles.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
            otherHasDir = true;
            if (!have.insert(it->first).second) continue;
            FileRecord copy = other->listing.files[it->second];
            copy.path = b.path + copy.path.substr(b.path.size());
            main->listing.files.push_back(copy);
            ++added;
        }
        const char* why = b.corrupt ? " is corrupt" : b.whole ? " unreadable" : " partly unreadable";
        if (!otherBroken.count(key) && (otherHasDir || added)) {
            main->listing.notes.push_back("directory " + shown + (b.corrupt ? " is corrupt" : " unreadable") +
                                          ": listed from the " + otherName + " tree");
            continue;
        }
        main->listing.unknown.push_back("directory " + shown + why +
                                        (b.whole ? ": its files are not listed" : ": some of its files may not be listed"));
        rootLost = rootLost || (b.path.empty() && b.whole && added == 0);
    }
    return rootLost;
}

}  // namespace


bool ReadIso(ISectorReader& reader, FsChoice which, Listing* listing, std::string* error)
{
    Descriptors d;
    Session session = ReadSession(reader, &d, true);
    const char* lostPrimary = "the primary volume descriptor is unreadable";
    if (!d.primary && !d.joliet) {
        *error = d.unreadable.empty() ? "no ISO 9660 volume descriptor at sector " + std::to_string(session.start + 16)
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
    if (d.primary) primary = WalkTree(reader, d.pvd, false, session.end);
    if (d.joliet) joliet = WalkTree(reader, d.svd, true, session.end);

    bool useJoliet = which == FsChoice::Joliet || (which == FsChoice::Any && (!d.primary || (!primary.rockRidge && d.joliet)));
    TreeResult& main = useJoliet ? joliet : primary;
    const TreeResult* other = useJoliet ? (d.primary ? &primary : nullptr) : (d.joliet ? &joliet : nullptr);
    if (FillFromOther(&main, other, useJoliet ? "primary" : "Joliet")) {
        *error = other ? "the root directory is unreadable in every tree" : "the root directory is unreadable";
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
    // The primary root lost: whether it had Rock Ridge names is not known, so Joliet's are shown.
    for (const Broken& b : primary.broken)
        if (which == FsChoice::Any && useJoliet && b.path.empty())
            listing->notes.push_back(std::string("directory /") + (b.corrupt ? " is corrupt" : " unreadable") +
                                     ": listed from the Joliet tree");
    listing->volumeSectors = session.end;
    if (session.number > 1)
        listing->notes.push_back("the disc holds " + std::to_string(session.number) +
                                 " sessions: listed from the last one, which starts at sector " +
                                 std::to_string(session.start));
    uint64_t after = reader.SectorCount() > listing->volumeSectors ? reader.SectorCount() - listing->volumeSectors : 0;
    // Sectors after the last session found: another session may lie there,
    // unknown for certain when sectors where its descriptors could lie are missing.
    std::string beyond = "the copy holds " + std::to_string(after) + " sectors after the volume's end at sector " +
                         std::to_string(listing->volumeSectors);
    if (after > kSessionSlack && session.unsure)
        listing->unknown.push_back(beyond + ", some of them missing: a later session there may not be listed");
    else if (after > kSessionSlack)
        listing->notes.push_back(beyond + ": they hold no later session that could be found");
    return true;
}

}  // namespace fs
