#include "filesys/extract.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

#include "filesys/file_lines.h"
#include "platform/host_files.h"
#include "platform/rawio.h"

const char kMissingFill[16] = {'<', 'm', 'i', 's', 's', 'i', 'n', 'g', ' ', 'd', 'a', 't', 'a', '>', '\r', '\n'};

namespace {

constexpr uint32_t kChunkSectors = 64;  // 128 KiB moved at a time, whatever the file's size
constexpr size_t kMaxNameBytes = 255;
const char kDamagedSuffix[] = ".damaged";
const char kPartSuffix[] = ".gleanor-part";

std::string Normalized(const std::string& path)
{
    std::string out;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) out.append(1, '/').append(path, start, end - start);
        start = end + 1;
    }
    return out;  // "" is the root
}

bool Under(const std::string& path, const std::string& dir)
{
    return dir.empty() || path == dir ||
           (path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 && path[dir.size()] == '/');
}

// Replaces each byte of a broken UTF-8 sequence.
std::string ValidUtf8(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 && c >= 0xC2 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 && c <= 0xF4 ? 4 : 0;
        bool ok = len && i + len <= s.size();
        for (size_t k = 1; ok && k < len; ++k) ok = (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
        if (ok) {
            out.append(s, i, len);
            i += len;
        } else {
            out += '_';
            ++i;
        }
    }
    return out;
}

bool DeviceName(const std::string& name)
{
    std::string base = name.substr(0, name.find('.'));
    for (char& c : base)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") return true;
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) && base[3] >= '1' &&
           base[3] <= '9';
}

std::string Folded(const std::string& s)
{
    if (!hostfs::kWindowsNames) return s;
    std::string out = s;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return out;
}

class Extractor {
public:
    Extractor(ISectorReader& reader, const std::string& folder, const ExtractOptions& options,
              const std::function<void(const std::string&)>& say)
        : reader_(reader), folder_(folder), options_(options), say_(say)
    {
        hostFolders_[""] = "";
    }

    bool MakeRoot()
    {
        for (size_t i = 1; i < folder_.size(); ++i)
            if (folder_[i] == '/' || folder_[i] == rawio::kSep) hostfs::MakeFolder(folder_.substr(0, i));
        if (hostfs::MakeFolder(folder_)) return true;
        say_("cannot make the folder " + folder_);
        ++result.failed;
        return false;
    }

    // The host's folder for a folder of the volume, made on first use; false when the host refuses it.
    bool Folder(const std::string& path, std::string* rel)
    {
        auto it = hostFolders_.find(path);
        if (it != hostFolders_.end()) {
            *rel = it->second;
            return !rel->empty() || path.empty();
        }
        size_t slash = path.rfind('/');
        std::string parent;
        bool ok = Folder(path.substr(0, slash), &parent);
        std::string mine;
        if (ok) {
            mine = HostName(parent, path);
            ok = hostfs::MakeFolder(Host(mine));
            if (!ok) {
                say_("failed: " + Printable(path) + "  the folder cannot be made");
                ++result.failed;
                mine.clear();
            }
        }
        hostFolders_[path] = mine;
        *rel = mine;
        return ok;
    }

    void File(const FileRecord& f)
    {
        if (f.symlink) {  // no data of its own; where it points may lie outside DIR
            say_("not written: " + Printable(f.path) + "  a symbolic link to " + Printable(f.linkTarget));
            return;
        }
        if (f.unknown) return LeaveOut(f, "unknown: its entry is unreadable");
        uint64_t placed = f.embedded.size();
        for (const FileExtent& e : f.extents) placed += e.bytes;
        if (placed != f.size) return LeaveOut(f, "the place of some of its data is not known");
        bool complete = f.missingSectors == 0;
        if (!complete && !options_.damaged) return LeaveOut(f, MissingText(f));
        size_t slash = f.path.rfind('/');
        std::string parent;
        if (!Folder(f.path.substr(0, slash), &parent)) {
            say_("failed: " + Printable(f.path) + "  its folder cannot be made");
            ++result.failed;
            return;
        }
        std::string rel = HostName(parent, f.path);
        std::string target = Host(rel), marked = target + kDamagedSuffix;
        if (complete) {
            uint64_t size = 0;
            int64_t seconds = 0;
            if (hostfs::KindOf(target, &size, &seconds) == hostfs::Kind::File && size == f.size &&
                (!f.modified.known || seconds == f.modified.seconds)) {
                ++result.alreadyThere;
                RemoveMarked(marked);
                return;
            }
        }
        std::string error;
        if (!Write(f, complete ? target : marked, &error)) {
            say_("failed: " + Printable(f.path) + "  " + error);
            ++result.failed;
            return;
        }
        if (complete) {
            ++result.written;
            RemoveMarked(marked);
        } else {
            ++result.writtenDamaged;
            say_("damaged: " + Printable(f.path) + "  written as " + Printable(rel) + kDamagedSuffix + ", " + MissingText(f));
        }
    }

    ExtractResult result;

private:
    std::string Host(const std::string& rel) const
    {
        std::string out = folder_;
        bool endsInSep = !out.empty() && (out.back() == '/' || out.back() == rawio::kSep);
        for (size_t i = endsInSep && !rel.empty() && rel[0] == '/' ? 1 : 0; i < rel.size(); ++i)
            out += rel[i] == '/' ? rawio::kSep : rel[i];
        return out;
    }

    // The host name of the last part of `path` inside the host folder `parent`:
    // safe, and unlike every name given before in that folder.
    std::string HostName(const std::string& parent, const std::string& path)
    {
        std::string name = path.substr(path.rfind('/') + 1);
        std::string safe = SafeName(name), chosen = safe;
        for (unsigned n = 2; !used_.insert(Folded(parent + "/" + chosen)).second; ++n) {
            size_t dot = safe.rfind('.');
            if (dot == 0 || dot == std::string::npos) dot = safe.size();
            chosen = safe.substr(0, dot) + " (" + std::to_string(n) + ")" + safe.substr(dot);
        }
        if (chosen != name) {
            ++result.renamed;
            say_("renamed: " + Printable(path) + "  written as " + Printable(parent + "/" + chosen) +
                 (safe == name ? " (the name is taken)" : " (the name cannot be stored here)"));
        }
        return parent + "/" + chosen;
    }

    void LeaveOut(const FileRecord& f, const std::string& why)
    {
        ++result.leftOut;
        say_("left out: " + Printable(f.path) + "  " + why);
    }

    void RemoveMarked(const std::string& marked)
    {
        if (hostfs::KindOf(marked, nullptr, nullptr) == hostfs::Kind::File) hostfs::Remove(marked);
    }

    // Writes the file under a passing name, then gives it its own.
    bool Write(const FileRecord& f, const std::string& to, std::string* error)
    {
        std::string part = to + kPartSuffix;
        int fd = hostfs::CreateEmpty(part);
        if (fd < 0) {
            *error = "the file cannot be made";
            return false;
        }
        bool ok = Put(fd, reinterpret_cast<const uint8_t*>(f.embedded.data()), f.embedded.size(), error);
        std::vector<uint8_t> buf(size_t(kChunkSectors) * kFsSectorSize);
        for (const FileExtent& e : f.extents) {
            for (uint64_t k = 0; ok && k * kFsSectorSize < e.bytes; k += kChunkSectors) {
                uint64_t bytes = std::min<uint64_t>(e.bytes - k * kFsSectorSize, buf.size());
                for (uint64_t j = 0; j * kFsSectorSize < bytes; ++j) {
                    uint64_t lba = e.lba + k + j;
                    uint8_t* s = buf.data() + j * kFsSectorSize;
                    if (lba <= UINT32_MAX && reader_.Read(uint32_t(lba), s)) continue;
                    if (f.missingSectors == 0) {
                        *error = "sector " + std::to_string(lba) + " cannot be read from the image";
                        ok = false;
                        break;
                    }
                    for (size_t i = 0; i < kFsSectorSize; ++i) s[i] = uint8_t(kMissingFill[i % sizeof kMissingFill]);
                }
                ok = ok && Put(fd, buf.data(), size_t(bytes), error);
            }
        }
        ok = rawio::Close(fd) && ok;
        if (ok && f.modified.known) hostfs::SetModified(part, f.modified.seconds, f.modified.nanoseconds);
        if (ok && !hostfs::Rename(part, to)) {
            *error = "the file cannot be given its name";
            ok = false;
        }
        if (!ok) {
            if (error->empty()) *error = "the file cannot be written (is the disk full?)";
            hostfs::Remove(part);
        } else {
            result.bytes += f.size;
        }
        return ok;
    }

    bool Put(int fd, const uint8_t* data, size_t bytes, std::string* error)
    {
        if (bytes == 0 || rawio::Write(fd, data, unsigned(bytes)) == int(bytes)) return true;
        *error = "the file cannot be written (is the disk full?)";
        return false;
    }

    ISectorReader& reader_;
    std::string folder_;
    const ExtractOptions& options_;
    const std::function<void(const std::string&)>& say_;
    std::map<std::string, std::string> hostFolders_;  // volume folder -> host folder ("" where refused)
    std::set<std::string> used_;                      // host names given in this run
};

}  // namespace

std::string SafeName(const std::string& name)
{
    std::string out = hostfs::kWindowsNames ? ValidUtf8(name) : name;
    for (char& c : out)
        if (c == '/' || !hostfs::CharAllowed(static_cast<unsigned char>(c))) c = '_';
    if (out.size() > kMaxNameBytes) {
        out.resize(kMaxNameBytes);
        while (!out.empty() && (static_cast<unsigned char>(out.back()) & 0xC0) == 0x80) out.pop_back();
        if (!out.empty() && static_cast<unsigned char>(out.back()) >= 0xC0) out.pop_back();
    }
    if (hostfs::kWindowsNames) {
        if (DeviceName(out)) out = "_" + out;
        if (!out.empty() && (out.back() == '.' || out.back() == ' ')) out.back() = '_';
    }
    if (out.empty() || out == "." || out == "..") out = std::string(std::max<size_t>(out.size(), 1), '_');
    return out;
}

ExtractResult ExtractFiles(ISectorReader& reader, const Listing& listing, const std::string& folder,
                           const ExtractOptions& options, const std::function<void(const std::string&)>& say)
{
    Extractor x(reader, folder, options, say);
    std::vector<std::string> wanted;
    for (const std::string& p : options.paths) wanted.push_back(Normalized(p));
    if (wanted.empty()) wanted.push_back("");
    auto selected = [&](const std::string& path) {
        for (const std::string& w : wanted)
            if (Under(path, w)) return true;
        return false;
    };
    for (const std::string& w : wanted) {
        bool found = w.empty();
        for (size_t i = 0; !found && i < listing.folders.size(); ++i) found = Under(listing.folders[i], w);
        for (size_t i = 0; !found && i < listing.files.size(); ++i) found = Under(listing.files[i].path, w);
        if (!found) x.result.notFound.push_back(w);
    }
    if (!x.MakeRoot()) return x.result;
    std::string rel;
    for (const std::string& d : listing.folders)
        if (selected(d)) x.Folder(d, &rel);
    for (const FileRecord& f : listing.files)
        if (selected(f.path)) x.File(f);
    return x.result;
}
