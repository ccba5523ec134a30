#include "cli/set_listing.h"

#include <cstdio>

#include "cli/image_set_name.h"
#include "filesys/file_lines.h"

bool OpenSetListing(const Options& o, const CliIo& io, CImageSetReader* reader, Listing* listing)
{
    ImageSetNames set = ImageSetFromName(o.filesFlag);
    std::string error;
    if (!reader->Open(set.flag, o.image.empty() ? set.image : o.image, &error)) {
        std::fprintf(io.err, "gleanor: %s\n", error.c_str());
        return false;
    }
    FsChoice choice = o.filesSystem == "udf"      ? FsChoice::Udf
                      : o.filesSystem == "joliet" ? FsChoice::Joliet
                      : o.filesSystem == "iso"    ? FsChoice::Iso
                                                  : FsChoice::Any;
    if (!ListFiles(*reader, choice, listing, &error)) {
        std::fprintf(io.err, "gleanor: the file system cannot be read: %s\n", error.c_str());
        uint32_t claimed = ClaimedVolumeSectors(*reader);
        if (claimed > reader->SectorCount()) {
            uint32_t n = claimed - reader->SectorCount();
            std::fprintf(io.err, "gleanor: the volume is %s sector%s longer than the copy\n", Grouped(n).c_str(),
                         n == 1 ? "" : "s");
        }
        return false;
    }
    if (!reader->HeaderValid())
        std::fprintf(io.err, "gleanor: %s: the flag file header's checksum does not hold\n", set.flag.c_str());
    return true;
}
