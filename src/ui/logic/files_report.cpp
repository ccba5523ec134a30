#include "ui/logic/files_report.h"

#include <cstdio>

#include "channel/channel.h"
#include "filesys/file_lines.h"

namespace {

bool ListImageSet(const std::string& flagPath, const std::string& imagePath, CImageSetReader* reader,
                  Listing* listing, std::string* error)
{
    return reader->Open(flagPath, imagePath, error) && ListFiles(*reader, FsChoice::Any, listing, error);
}

}  // namespace

bool CopyWasRun(const std::string& outcomeText)
{
    static const char* const kRefusals[] = {"Drive Not Ready",  "FOpen *.Flg", "FOpen *.Iso",
                                            "FOpen *.Imp",      "Existing *.Iso but no *.Flg",
                                            "CheckHeader *.flg", "Canceled",    "Disk is Empty"};
    for (const char* r : kRefusals)
        if (outcomeText == r) return false;
    return true;
}

std::string FilesListPath(const std::string& imagePath)
{
    size_t dot = imagePath.rfind('.');
    size_t sep = imagePath.find_last_of("/\\");
    if (dot == std::string::npos || (sep != std::string::npos && dot < sep)) dot = imagePath.size();
    return imagePath.substr(0, dot) + ".files.txt";
}

bool ReportFilesAfterCopy(const std::string& flagPath, const std::string& imagePath)
{
    CImageSetReader reader;
    Listing listing;
    std::string error;
    if (!ListImageSet(flagPath, imagePath, &reader, &listing, &error)) {
        LogPrintf(0, "files: not listed (%s)", error.c_str());
        return false;
    }
    DamageSummary s = Summarise(listing);
    std::string summary = SummaryLine(s);
    LogPrintf(0, "%s", summary.c_str());
    for (const FileRecord& f : listing.files)
        if (!f.symlink && (f.unknown || f.missingSectors)) LogPrintf(1, "%s", FileLine(f).c_str());
    for (const std::string& u : listing.unknown) LogPrintf(1, "unknown: %s", Printable(u).c_str());

    std::string listPath = FilesListPath(imagePath);
    FILE* out = std::fopen(listPath.c_str(), "wb");
    if (out == nullptr) {
        LogPrintf(0, "Cannot write %s", listPath.c_str());
        return false;
    }
    std::fprintf(out, "file system: %s\r\n", listing.systemName.c_str());
    for (const FileRecord& f : listing.files) std::fprintf(out, "%s\r\n", FileLine(f).c_str());
    for (const std::string& n : listing.notes) std::fprintf(out, "note: %s\r\n", Printable(n).c_str());
    for (const std::string& u : listing.unknown) std::fprintf(out, "unknown: %s\r\n", Printable(u).c_str());
    std::fprintf(out, "%s; %s bytes lost\r\n", summary.c_str(), Grouped(s.bytesLost).c_str());
    return std::fclose(out) == 0;
}

ExtractResult ExtractImageSet(const std::string& flagPath, const std::string& imagePath, const std::string& folder)
{
    CImageSetReader reader;
    Listing listing;
    std::string error;
    ExtractResult r;
    if (!ListImageSet(flagPath, imagePath, &reader, &listing, &error)) {
        LogPrintf(0, "Extract Files: not listed (%s)", error.c_str());
        r.failed = 1;
        return r;
    }
    r = ExtractFiles(reader, listing, folder, ExtractOptions(),
                     [](const std::string& line) { LogPrintf(0, "%s", line.c_str()); });
    for (const std::string& u : listing.unknown) LogPrintf(0, "unknown: %s", Printable(u).c_str());
    LogPrintf(0, "Extract Files: %llu written, %llu already there, %llu left out%s",
              static_cast<unsigned long long>(r.written), static_cast<unsigned long long>(r.alreadyThere),
              static_cast<unsigned long long>(r.leftOut), r.failed ? ", some failed" : "");
    return r;
}
