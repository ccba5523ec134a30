// What the dialog says about the volume's files when a copy ends, and its
// "Extract Files…" item: both read the image set alone, like `gleanor files`.
#pragma once
#include <string>

#include "filesys/extract.h"

// Whether a copy that ended with this outcome text went to the disc: every
// end but a refusal (the drive not ready, an image set that would not open or
// check, Canceled, an empty disc).
bool CopyWasRun(const std::string& outcomeText);

// "LABEL.files.txt" beside the image "LABEL.iso".
std::string FilesListPath(const std::string& imagePath);

// Logs "files: N complete, M damaged, K unknown" at level 0 and one line per
// damaged or unknown file at level 1, and writes every file's line into
// FilesListPath(imagePath). A file system that cannot be read is logged as
// "files: not listed (REASON)". False when nothing was listed or written.
bool ReportFilesAfterCopy(const std::string& flagPath, const std::string& imagePath);

// Writes the complete files of the image set into `folder`, logging each file
// left out (level 0) and the count of files written.
ExtractResult ExtractImageSet(const std::string& flagPath, const std::string& imagePath, const std::string& folder);
