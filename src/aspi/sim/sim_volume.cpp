#include "aspi/sim/sim_volume.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace {

constexpr uint32_t kSector = 2048;
constexpr uint32_t kPrimaryLba = 16;
constexpr uint32_t kFirstTableLba = 19;  // L and M path tables of both trees, one sector each
constexpr uint32_t kFirstDirLba = 23;
constexpr size_t kMaxFiles = 1000;
constexpr size_t kMaxNameChars = 64;      // what a Joliet name holds
constexpr size_t kMaxIsoNameChars = 30;
// 18 July 2009, 12:00, GMT: every date of the volume.
constexpr uint8_t kDate[7] = {109, 7, 18, 12, 0, 0, 0};

struct Node {
    std::string name;  // as given (UTF-8)
    bool dir = true;
    uint32_t bytes = 0;
    uint32_t lba = 0;  // files: where the data starts
    int parent = 0;
    std::vector<int> children;
    std::string isoName, jolietName;  // as recorded
    uint32_t dirLba[2] = {}, dirBytes[2] = {};
};

void Both16(uint8_t* p, uint16_t v)
{
    p[0] = p[3] = uint8_t(v);
    p[1] = p[2] = uint8_t(v >> 8);
}

void Le32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

void Be32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (24 - 8 * i));
}

void Both32(uint8_t* p, uint32_t v)
{
    Le32(p, v);
    Be32(p + 4, v);
}

// UTF-8 to UCS-2 big-endian; what UCS-2 cannot hold becomes '_'.
std::string Ucs2(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        uint32_t cp = '_';
        size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : 4;
        if (n == 1) cp = c;
        else if (n == 2 && i + 1 < s.size()) cp = (c & 0x1Fu) << 6 | (s[i + 1] & 0x3F);
        else if (n == 3 && i + 2 < s.size()) cp = (c & 0x0Fu) << 12 | (s[i + 1] & 0x3F) << 6 | (s[i + 2] & 0x3F);
        out += char(cp >> 8);
        out += char(cp & 0xFF);
        i += n;
    }
    return out;
}

// A primary-tree name: upper case letters, digits and '_', one dot in a file name.
std::string IsoName(const std::string& name, bool dir)
{
    size_t dot = dir ? std::string::npos : name.rfind('.');
    std::string out;
    for (size_t i = 0; i < name.size() && out.size() < kMaxIsoNameChars; ++i) {
        char c = name[i];
        if (i == dot) out += '.';
        else if (c >= 'a' && c <= 'z') out += char(c - 'a' + 'A');
        else if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) out += c;
        else if (static_cast<unsigned char>(c) < 0x80 || (static_cast<unsigned char>(c) & 0xC0) == 0xC0) out += '_';
    }
    return dir ? out : out + ";1";
}

size_t RecordLength(size_t nameLen) { return 33 + nameLen + (nameLen % 2 == 0 ? 1 : 0); }

void PutRecord(uint8_t* r, uint32_t lba, uint32_t bytes, bool dir, const std::string& name)
{
    size_t len = RecordLength(name.size());
    r[0] = uint8_t(len);
    Both32(r + 2, lba);
    Both32(r + 10, bytes);
    std::memcpy(r + 18, kDate, sizeof kDate);
    r[25] = dir ? 2 : 0;
    Both16(r + 28, 1);
    r[32] = uint8_t(name.size());
    std::memcpy(r + 33, name.data(), name.size());
}

class Builder {
public:
    std::vector<Node> nodes{Node()};

    std::string Add(const SimFile& f)
    {
        int at = 0;
        size_t start = 0;
        while (true) {
            size_t slash = f.path.find('/', start);
            std::string part = f.path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
            if (part.empty() || part == "." || part == ".." || part.size() > kMaxNameChars)
                return "a path part must be 1 to 64 characters and not . or ..: " + f.path;
            bool last = slash == std::string::npos;
            int found = -1;
            for (int c : nodes[size_t(at)].children)
                if (nodes[size_t(c)].name == part) found = c;
            if (found >= 0 && (last || !nodes[size_t(found)].dir)) return "named twice: " + f.path;
            if (found < 0) {
                Node n;
                n.name = part;
                n.dir = !last;
                n.bytes = last ? f.bytes : 0;
                n.parent = at;
                n.isoName = IsoName(part, n.dir);
                n.jolietName = Ucs2(part);
                nodes.push_back(n);
                found = int(nodes.size() - 1);
                nodes[size_t(at)].children.push_back(found);
                if (last) fileNodes.push_back(found);
            }
            if (last) return "";
            at = found;
            start = slash + 1;
        }
    }

    // Children in the order of one tree's directory records.
    std::vector<int> Sorted(int d, int tree) const
    {
        std::vector<int> c = nodes[size_t(d)].children;
        std::sort(c.begin(), c.end(), [&](int a, int b) { return Name(a, tree) < Name(b, tree); });
        return c;
    }

    // Primary names that the mapping made equal get a number in front.
    void Distinguish()
    {
        for (size_t d = 0; d < nodes.size(); ++d) {
            std::vector<int> c = Sorted(int(d), 0);
            for (size_t i = 1; i < c.size(); ++i)
                if (nodes[size_t(c[i])].isoName == nodes[size_t(c[i - 1])].isoName)
                    nodes[size_t(c[i])].isoName = std::to_string(i) + nodes[size_t(c[i])].isoName;
        }
    }

    // The directories of one tree, breadth first: the order of the path table.
    std::vector<int> Order(int tree) const
    {
        std::vector<int> order{0};
        for (size_t i = 0; i < order.size(); ++i)
            for (int c : Sorted(order[i], tree))
                if (nodes[size_t(c)].dir) order.push_back(c);
        return order;
    }

    const std::string& Name(int n, int tree) const { return tree ? nodes[size_t(n)].jolietName : nodes[size_t(n)].isoName; }

    uint32_t DirectoryBytes(int d, int tree) const
    {
        uint32_t used = 68, sectors = 1;  // "." and ".."
        for (int c : Sorted(d, tree)) {
            uint32_t len = uint32_t(RecordLength(Name(c, tree).size()));
            if (used + len > kSector) {
                ++sectors;
                used = 0;
            }
            used += len;
        }
        return sectors * kSector;
    }

    void WriteDirectory(uint8_t* base, int d, int tree) const
    {
        const Node& n = nodes[size_t(d)];
        const Node& parent = nodes[size_t(n.parent)];
        uint8_t* at = base;
        uint32_t used = 0;
        auto put = [&](uint32_t lba, uint32_t bytes, bool dir, const std::string& name) {
            size_t len = RecordLength(name.size());
            if (used + len > kSector) {
                at += kSector - used;
                used = 0;
            }
            PutRecord(at, lba, bytes, dir, name);
            at += len;
            used += uint32_t(len);
        };
        put(n.dirLba[tree], n.dirBytes[tree], true, std::string(1, '\0'));
        put(parent.dirLba[tree], parent.dirBytes[tree], true, std::string(1, '\1'));
        for (int c : Sorted(d, tree)) {
            const Node& k = nodes[size_t(c)];
            if (k.dir) put(k.dirLba[tree], k.dirBytes[tree], true, Name(c, tree));
            else put(k.lba, k.bytes, false, Name(c, tree));
        }
    }

    std::vector<int> fileNodes;
};

}  // namespace

std::shared_ptr<const CSimVolume> CSimVolume::Build(const std::vector<SimFile>& files, const std::string& label,
                                                    uint32_t sectors, std::string* error)
{
    if (files.size() > kMaxFiles) {
        *error = "file: at most 1000 files";
        return nullptr;
    }
    Builder b;
    for (const SimFile& f : files) {
        *error = b.Add(f);
        if (!error->empty()) return nullptr;
    }
    b.Distinguish();
    std::vector<int> order[2] = {b.Order(0), b.Order(1)};
    uint32_t next = kFirstDirLba;
    for (int tree = 0; tree < 2; ++tree) {
        for (int d : order[tree]) {
            b.nodes[size_t(d)].dirLba[tree] = next;
            b.nodes[size_t(d)].dirBytes[tree] = b.DirectoryBytes(d, tree);
            next += b.nodes[size_t(d)].dirBytes[tree] / kSector;
        }
    }
    auto volume = std::make_shared<CSimVolume>();
    volume->meta_.assign(size_t(next) * kSector, 0);
    for (int f : b.fileNodes) {
        Node& n = b.nodes[size_t(f)];
        n.lba = n.bytes ? next : 0;
        volume->starts_.push_back(n.lba);
        next += uint32_t((uint64_t(n.bytes) + kSector - 1) / kSector);
        if (next > sectors) {
            *error = "file: the files do not fit on a disc of " + std::to_string(sectors) + " sectors";
            return nullptr;
        }
    }
    uint8_t* m = volume->meta_.data();
    for (int tree = 0; tree < 2; ++tree) {
        // The path tables: L (little-endian) and M (big-endian).
        uint8_t* l = m + size_t(kFirstTableLba + 2 * tree) * kSector;
        uint8_t* mt = l + kSector;
        uint32_t size = 0;
        for (size_t i = 0; i < order[tree].size(); ++i) {
            int d = order[tree][i];
            std::string name = d == 0 ? std::string(1, '\0') : b.Name(d, tree);
            size_t len = 8 + name.size() + name.size() % 2;
            if (size + len > kSector) {
                *error = "file: too many folders for one path table sector";
                return nullptr;
            }
            uint16_t parent = uint16_t(std::find(order[tree].begin(), order[tree].end(), b.nodes[size_t(d)].parent) -
                                       order[tree].begin() + 1);
            for (uint8_t* t : {l + size, mt + size}) {
                t[0] = uint8_t(name.size());
                std::memcpy(t + 8, name.data(), name.size());
            }
            Le32(l + size + 2, b.nodes[size_t(d)].dirLba[tree]);
            Be32(mt + size + 2, b.nodes[size_t(d)].dirLba[tree]);
            l[size + 6] = uint8_t(parent);
            l[size + 7] = uint8_t(parent >> 8);
            mt[size + 6] = uint8_t(parent >> 8);
            mt[size + 7] = uint8_t(parent);
            size += uint32_t(len);
        }
        for (int d : order[tree]) b.WriteDirectory(m + size_t(b.nodes[size_t(d)].dirLba[tree]) * kSector, d, tree);

        uint8_t* vd = m + size_t(kPrimaryLba + tree) * kSector;
        vd[0] = uint8_t(1 + tree);
        std::memcpy(vd + 1, "CD001", 5);
        vd[6] = 1;
        for (size_t i = 8; i < 72; ++i) vd[i] = tree && i % 2 == 0 ? 0 : ' ';
        std::string id = tree ? Ucs2(label).substr(0, 32) : label.substr(0, 32);
        std::memcpy(vd + 40, id.data(), id.size());
        Both32(vd + 80, sectors);
        if (tree) std::memcpy(vd + 88, "%/E", 3);
        Both16(vd + 120, 1);
        Both16(vd + 124, 1);
        Both16(vd + 128, uint16_t(kSector));
        Both32(vd + 132, size);
        Le32(vd + 140, kFirstTableLba + 2 * tree);
        Be32(vd + 148, kFirstTableLba + 2 * tree + 1);
        PutRecord(vd + 156, b.nodes[0].dirLba[tree], b.nodes[0].dirBytes[tree], true, std::string(1, '\0'));
        for (size_t i = 190; i < 813; ++i) vd[i] = tree && i % 2 == 0 ? 0 : ' ';
        for (size_t field = 813; field < 881; field += 17) {
            std::memcpy(vd + field, field < 847 ? "2009071812000000" : "0000000000000000", 16);
        }
        vd[881] = 1;
    }
    uint8_t* end = m + size_t(kPrimaryLba + 2) * kSector;
    end[0] = 255;
    std::memcpy(end + 1, "CD001", 5);
    end[6] = 1;
    return volume;
}

bool CSimVolume::Sector(uint32_t lba, uint8_t* out) const
{
    if (uint64_t(lba) * kSector >= meta_.size()) return false;
    std::memcpy(out, meta_.data() + size_t(lba) * kSector, kSector);
    return true;
}
