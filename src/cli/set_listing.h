// Opening the image set a command names and reading its file system, as
// `gleanor files` and `gleanor extract` both do.
#pragma once
#include "cli/front_end.h"
#include "filesys/listing.h"

// Opens the set (by any of its names; --image names the image) into `reader`
// and lists the file system --fs asks for into `listing`. What fails is said
// on io.err, with how much longer the volume is than the copy where that
// explains it, and gives false. A flag file header whose checksum does not
// hold is said too, and the set is read all the same.
bool OpenSetListing(const Options& o, const CliIo& io, CImageSetReader* reader, Listing* listing);
