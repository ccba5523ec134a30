// `gleanor files IMAGE.flg`: which files of the rescued volume the copy lacks,
// read from the image set alone; and the one-line summary after a copy.
#include "cli/files_command.h"

#include <cinttypes>
#include <cstdio>

#include "cli/image_set_name.h"
#include "cli/set_listing.h"
#include "cli/text.h"
#include "filesys/file_lines.h"
#include "filesys/listing.h"

namespace {

constexpr int kExitNoneDamaged = 0;
constexpr int kExitSomeDamaged = 1;
constexpr int kExitUnreadable = 2;

const char* StateOf(const FileRecord& f)
{
    return f.symlink ? "symlink" : f.unknown ? "unknown" : f.missingSectors ? "damaged" : "complete";
}

// Only when a file's data lies beyond the copy's end: a copy one sector short
// of the volume (its last sector, padding) is the ordinary case.
std::string SizeWarning(const Listing& l, uint32_t copySectors)
{
    if (l.volumeSectors <= copySectors) return "";
    bool reachesBeyond = false;
    for (const FileRecord& f : l.files)
        for (const FileExtent& e : f.extents)
            reachesBeyond = reachesBeyond || e.lba + (e.bytes + kFsSectorSize - 1) / kFsSectorSize > copySectors;
    if (!reachesBeyond) return "";
    uint32_t n = l.volumeSectors - copySectors;
    return "the volume is " + Grouped(n) + (n == 1 ? " sector" : " sectors") + " longer than the copy (" +
           Grouped(l.volumeSectors) + " against " + Grouped(copySectors) + ")";
}

void PrintText(FILE* out, const Listing& l, uint32_t copySectors, bool all)
{
    std::fprintf(out, "file system: %s\n", l.systemName.c_str());
    for (const FileRecord& f : l.files)
        if (all || (!f.symlink && (f.unknown || f.missingSectors))) std::fprintf(out, "%s\n", FileLine(f).c_str());
    for (const std::string& n : l.notes) std::fprintf(out, "note: %s\n", Printable(n).c_str());
    for (const std::string& u : l.unknown) std::fprintf(out, "unknown: %s\n", Printable(u).c_str());
    std::string warning = SizeWarning(l, copySectors);
    if (!warning.empty()) std::fprintf(out, "warning: %s\n", warning.c_str());
    DamageSummary s = Summarise(l);
    std::fprintf(out, "%s; %s bytes lost\n", SummaryLine(s).c_str(), Grouped(s.bytesLost).c_str());
}

void PrintJson(FILE* out, const Listing& l, uint32_t copySectors, bool all)
{
    DamageSummary s = Summarise(l);
    std::fprintf(out, "{\"system\": %s, \"volume_sectors\": %u, \"copy_sectors\": %u,\n \"files\": [",
                 JsonString(l.systemName).c_str(), l.volumeSectors, copySectors);
    const char* sep = "\n  ";
    for (const FileRecord& f : l.files) {
        if (!(all || (!f.symlink && (f.unknown || f.missingSectors)))) continue;
        std::string size = f.unknown || f.symlink ? "null" : std::to_string(f.size);
        std::string target = f.symlink ? ", \"target\": " + JsonString(f.linkTarget) : "";
        std::fprintf(out, "%s{\"path\": %s, \"size\": %s, \"state\": \"%s\"%s, \"missing_sectors\": %u, "
                          "\"missing_bytes\": %" PRIu64 "}",
                     sep, JsonString(f.path).c_str(), size.c_str(), StateOf(f), target.c_str(), f.missingSectors,
                     f.missingBytes);
        sep = ",\n  ";
    }
    auto list = [&](const char* name, const std::vector<std::string>& items) {
        std::fprintf(out, "],\n \"%s\": [", name);
        const char* comma = "";
        for (const std::string& i : items) {
            std::fprintf(out, "%s%s", comma, JsonString(i).c_str());
            comma = ", ";
        }
    };
    list("unknown", l.unknown);
    list("notes", l.notes);
    std::string warning = SizeWarning(l, copySectors);
    std::fprintf(out, "],\n \"size_warning\": %s,\n", warning.empty() ? "null" : JsonString(warning).c_str());
    std::fprintf(out,
                 " \"summary\": {\"complete\": %" PRIu64 ", \"damaged\": %" PRIu64 ", \"unknown\": %" PRIu64
                 ", \"bytes_lost\": %" PRIu64 "}}\n",
                 s.complete, s.damaged, s.unknown, s.bytesLost);
}

}  // namespace

std::string ImageBesideFlagFile(const std::string& flagPath)
{
    return ImageSetFromName(flagPath).image;
}

int RunFiles(const Options& o, const CliIo& io)
{
    CImageSetReader reader;
    Listing listing;
    if (!OpenSetListing(o, io, &reader, &listing)) return kExitUnreadable;
    if (o.json) {
        PrintJson(io.out, listing, reader.SectorCount(), o.filesAll);
    } else {
        PrintText(io.out, listing, reader.SectorCount(), o.filesAll);
    }
    std::fflush(io.out);
    DamageSummary s = Summarise(listing);
    return s.damaged || s.unknown ? kExitSomeDamaged : kExitNoneDamaged;
}

std::vector<std::string> FilesAfterCopy(const std::string& flagPath, const std::string& imagePath, bool listDamaged)
{
    std::vector<std::string> lines;
    CImageSetReader reader;
    std::string error;
    Listing listing;
    if (!reader.Open(flagPath, imagePath, &error) || !ListFiles(reader, FsChoice::Any, &listing, &error)) {
        lines.push_back("files: not listed (" + error + ")");
        return lines;
    }
    if (listDamaged) {
        for (const FileRecord& f : listing.files)
            if (!f.symlink && (f.unknown || f.missingSectors)) lines.push_back("  " + FileLine(f));
        for (const std::string& u : listing.unknown) lines.push_back("  unknown: " + Printable(u));
        return lines;
    }
    DamageSummary s = Summarise(listing);
    std::string line = SummaryLine(s);
    if (s.damaged || s.unknown) line += " (gleanor files " + flagPath + " lists them)";
    lines.push_back(line);
    return lines;
}
