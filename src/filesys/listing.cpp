#include <algorithm>
#include <set>

#include "filesys/readers.h"

namespace fs {

void AppendUtf16(std::string* out, const uint8_t* p, size_t units, bool bigEndian)
{
    auto unit = [&](size_t i) { return bigEndian ? uint32_t(p[2 * i] << 8 | p[2 * i + 1]) : uint32_t(Le16(p + 2 * i)); };
    for (size_t i = 0; i < units; ++i) {
        uint32_t c = unit(i);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < units && unit(i + 1) >= 0xDC00 && unit(i + 1) < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;  // a lone surrogate
        }
        if (c < 0x80) {
            out->push_back(char(c));
        } else if (c < 0x800) {
            out->push_back(char(0xC0 | c >> 6));
            out->push_back(char(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out->push_back(char(0xE0 | c >> 12));
            out->push_back(char(0x80 | ((c >> 6) & 0x3F)));
            out->push_back(char(0x80 | (c & 0x3F)));
        } else {
            out->push_back(char(0xF0 | c >> 18));
            out->push_back(char(0x80 | ((c >> 12) & 0x3F)));
            out->push_back(char(0x80 | ((c >> 6) & 0x3F)));
            out->push_back(char(0x80 | (c & 0x3F)));
        }
    }
}

std::string ComparableName(const std::string& path)
{
    std::string out;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(start, end - start);
        size_t semi = part.rfind(';');
        if (semi != std::string::npos) part.resize(semi);
        if (part.size() > 1 && part.back() == '.') part.pop_back();
        for (char& c : part)
            if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
        if (start) out += '/';
        out += part;
        start = end + 1;
    }
    return out;
}

}  // namespace fs

void MeasureDamage(const ISectorReader& reader, Listing* listing)
{
    const uint64_t count = reader.SectorCount();
    for (FileRecord& f : listing->files) {
        f.missingSectors = 0;
        f.missingBytes = 0;
        for (const FileExtent& e : f.extents) {
            uint64_t sectors = (e.bytes + kFsSectorSize - 1) / kFsSectorSize;
            // Sectors at or beyond the end of the copy are missing without a look.
            uint64_t inside = e.lba < count ? std::min<uint64_t>(sectors, count - e.lba) : 0;
            for (uint64_t k = 0; k < inside; ++k) {
                if (reader.Present(uint32_t(e.lba + k))) continue;
                ++f.missingSectors;
                f.missingBytes += std::min<uint64_t>(kFsSectorSize, e.bytes - k * kFsSectorSize);
            }
            if (inside < sectors) {
                f.missingSectors += uint32_t(std::min<uint64_t>(sectors - inside, UINT32_MAX - f.missingSectors));
                f.missingBytes += e.bytes - inside * kFsSectorSize;
            }
        }
    }
}

DamageSummary Summarise(const Listing& listing)
{
    DamageSummary s;
    std::set<std::pair<uint32_t, uint64_t>> counted;  // first sector and size of the data counted
    for (const FileRecord& f : listing.files) {
        if (f.symlink) continue;
        if (f.unknown) {
            ++s.unknown;
        } else if (f.missingSectors) {
            ++s.damaged;
            if (counted.insert({f.extents.empty() ? 0 : f.extents[0].lba, f.size}).second) s.bytesLost += f.missingBytes;
        } else {
            ++s.complete;
        }
    }
    s.unknown += listing.unknown.size();
    return s;
}

namespace {

// The reads of one listing, counted against one budget.
class CBudgetReader : public ISectorReader {
public:
    explicit CBudgetReader(ISectorReader& inner)
        : inner_(inner), left_(4 * uint64_t(std::min<uint32_t>(inner.SectorCount(), kMaxBudgetSectors)) + 65536)
    {
    }
    uint32_t SectorCount() const override { return inner_.SectorCount(); }
    bool Present(uint32_t lba) const override { return inner_.Present(lba); }
    bool Read(uint32_t lba, uint8_t* out) override
    {
        if (left_ == 0) {
            exhausted_ = true;
            return false;
        }
        --left_;
        ++reads_;
        return inner_.Read(lba, out);
    }
    bool Exhausted() const { return exhausted_; }
    uint64_t Reads() const { return reads_; }

private:
    static constexpr uint32_t kMaxBudgetSectors = 1u << 26;  // 128 GiB: a copy larger than any disc still ends
    ISectorReader& inner_;
    uint64_t left_;
    uint64_t reads_ = 0;
    bool exhausted_ = false;
};

bool ListWithin(ISectorReader& reader, FsChoice choice, Listing* listing, std::string* error)
{
    bool ok = false;
    if (choice == FsChoice::Udf) {
        ok = fs::ReadUdf(reader, listing, error);
    } else if (choice != FsChoice::Any || fs::HasIsoDescriptors(reader)) {
        ok = fs::ReadIso(reader, choice, listing, error);
        if (!ok && choice == FsChoice::Any) {
            std::string isoError = *error;
            Listing udf;
            if (fs::ReadUdf(reader, &udf, error)) {
                *listing = std::move(udf);
                listing->notes.push_back("ISO 9660 unreadable (" + isoError + "): listed from the UDF tree");
                ok = true;
            } else {
                *error = isoError;
            }
        }
    } else {
        ok = fs::ReadUdf(reader, listing, error);
        if (!ok) *error = "no ISO 9660 or UDF file system found (" + *error + ")";
    }
    return ok;
}

}  // namespace

bool ListFiles(ISectorReader& reader, FsChoice choice, Listing* listing, std::string* error)
{
    *listing = Listing();
    CBudgetReader budget(reader);
    bool ok = ListWithin(budget, choice, listing, error);
    if (budget.Exhausted()) {
        std::string stop = "the listing stopped after " + std::to_string(budget.Reads()) +
                           " sector reads: the file system's structures ask for more than the volume holds";
        if (!ok) *error = stop + " (" + *error + ")";
        else listing->unknown.push_back(stop + "; some files may not be listed");
    }
    if (!ok) return false;
    std::sort(listing->files.begin(), listing->files.end(),
              [](const FileRecord& a, const FileRecord& b) { return a.path < b.path; });
    MeasureDamage(reader, listing);
    return true;
}

uint32_t ClaimedVolumeSectors(ISectorReader& reader)
{
    CBudgetReader budget(reader);
    uint32_t iso = fs::IsoVolumeSectors(budget);
    return std::max(iso, fs::UdfVolumeSectors(budget));
}
