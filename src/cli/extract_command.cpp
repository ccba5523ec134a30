#include "cli/extract_command.h"

#include <cstdio>

#include "cli/set_listing.h"
#include "filesys/extract.h"
#include "filesys/file_lines.h"

namespace {

constexpr int kExitWhole = 0;
constexpr int kExitSomeLeftOut = 1;
constexpr int kExitCannot = 2;

}  // namespace

int RunExtract(const Options& o, const CliIo& io)
{
    CImageSetReader reader;
    Listing listing;
    if (!OpenSetListing(o, io, &reader, &listing)) return kExitCannot;
    std::fprintf(io.out, "file system: %s\n", listing.systemName.c_str());
    ExtractOptions options;
    options.paths = o.extractPaths;
    options.damaged = o.extractDamaged;
    ExtractResult r = ExtractFiles(reader, listing, o.extractTo, options,
                                   [&](const std::string& line) { std::fprintf(io.out, "%s\n", line.c_str()); });
    for (const std::string& n : listing.notes) std::fprintf(io.out, "note: %s\n", Printable(n).c_str());
    for (const std::string& u : listing.unknown) std::fprintf(io.out, "unknown: %s\n", Printable(u).c_str());
    for (const std::string& p : r.notFound)
        std::fprintf(io.err, "gleanor: %s: not in the volume's file system\n", Printable(p).c_str());
    std::string summary = "extracted: " + std::to_string(r.written) + " written, " + std::to_string(r.alreadyThere) +
                          " already there, " + std::to_string(r.leftOut) + " left out";
    if (o.extractDamaged) summary += ", " + std::to_string(r.writtenDamaged) + " written damaged";
    if (r.failed) summary += ", " + std::to_string(r.failed) + " failed";
    std::fprintf(io.out, "%s\n", summary.c_str());
    std::fflush(io.out);
    if (r.failed || !r.notFound.empty()) return kExitCannot;
    return r.leftOut || r.writtenDamaged || !listing.unknown.empty() ? kExitSomeLeftOut : kExitWhole;
}
