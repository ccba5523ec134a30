// The image set: naming its three files, storing sectors in the image (or, in
// export mode, appending them to the import file), and the two questions about
// the destination: free space and whether it holds files over 4 GB.
#include <cstring>

#include "engine/recovery_engine.h"
#include "platform/prompt.h"
#include "channel/channel.h"

namespace {

constexpr size_t kLabelNameChars = 250;  // the label is cut here before ".iso"
constexpr int kFileSystemNameSize = 32;
constexpr char kDriveColon = ':';
constexpr char kReplacement = '_';
constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7F;
constexpr uint64_t kBytesPerMBShift = 20;
constexpr uint64_t kMaxMB = 0xFFFFFFFF;
// Characters no file name may hold on either system; both separators are
// among them, so a label can never climb out of the destination folder.
constexpr char kForbidden[] = "\\/:*?\"<>|";

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

std::string SafeFileName(const char* label, size_t maxChars)
{
    std::string name = (label && *label) ? label : kUnnamedVolume;
    if (name.size() > maxChars) name.resize(maxChars);
    bool onlyDots = true;
    for (char& c : name) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < kFirstPrintable || u == kDelete || std::strchr(kForbidden, c)) c = kReplacement;
        if (c != '.') onlyDots = false;
    }
    // "." and ".." name folders, not files.
    if (onlyDots) name.assign(name.size(), kReplacement);
    return name;
}

// ---- PrepareImageSet ---------------------------------------------------------------

// False: the user cancelled the choice of the image file.
bool CRecoveryEngine::PrepareImageSet()
{
    FileChoice choice;
    choice.defaultName = SafeFileName(drive.VolumeLabel(), kLabelNameChars) + ".iso";
    choice.filter = "Image Files (*.iso)|*.iso||";
    choice.initialDir = destFolder.Get();
    choice.mustExist = false;
    std::string chosen;
    if (!Prompt().ChooseFile(choice, &chosen)) return false;

    imageFile.SetPath(chosen.c_str());
    imageFile.SetExtension("iso");
    destFolder.SetToFolderOf(imageFile.GetPath());
    StatusPrintf(kSlotDestFolder, "");

    flagFile.SetPath(imageFile.GetPath());
    flagFile.SetExtension("flg");
    importFile.SetPath(imageFile.GetPath());
    importFile.SetExtension("imp");
    return true;
}

// ---- WriteSectors ------------------------------------------------------------------

namespace {

// Sector runs come from the drive's 64 KiB read buffer: a run that would
// reach beyond it, or sectors of no bytes at all, are never stored.
bool RunFitsBuffer(uint32_t count, uint32_t sectorSize)
{
    return sectorSize != 0 && uint64_t(count) * sectorSize <= kReadBufferSize;
}

bool AppendRecords(CRecoveryEngine& e, uint32_t lba, uint32_t count, const uint8_t* data)
{
    if (e.importFile.Seek(0, rawio::kSeekEnd) == -1) return false;
    const uint32_t size = e.copySectorSize;
    for (uint32_t i = 0; i < count; ++i) {
        ImportRecord& head = e.importRecord;
        head.sectorCount = e.sectorsToCopy;
        head.sectorSize = size;
        head.lba = lba + i;
        head.check = 0;
        head.check -= head.Sum();
        uint8_t raw[kImportHeadSize];
        head.Encode(raw);
        if (e.importFile.Write(raw, kImportHeadSize) != int(kImportHeadSize)) return false;
        if (e.importFile.Write(data + uint64_t(i) * size, size) != int(size)) return false;
    }
    return true;
}

}  // namespace

// True when all `count` sectors were stored (image, or import file in export mode).
bool CRecoveryEngine::WriteSectors(uint32_t lba, uint32_t count, const uint8_t* data)
{
    if (!RunFitsBuffer(count, copySectorSize)) return false;
    for (uint32_t i = 0; i < count; ++i) {
        if (evidence.Wants(lba + i)) evidence.Offer(lba + i, data + uint64_t(i) * copySectorSize);
    }
    if (exportMode) return AppendRecords(*this, lba, count, data);
    const int64_t offset = int64_t(uint64_t(lba) * copySectorSize);
    if (imageFile.Seek(offset) == -1) return false;
    const unsigned bytes = count * copySectorSize;
    return imageFile.Write(data, bytes) == int(bytes);
}

bool CRecoveryEngine::ImageSetInPlace()
{
    for (const CRawFile* file : {&flagFile, exportMode ? &importFile : &imageFile}) {
        if (file->InPlace()) continue;
        LogPrintf(0, "Image set removed: %s", file->GetPath());
        return false;
    }
    return true;
}

// ---- Destination -------------------------------------------------------------------

// Free megabytes at destFolder. A failed query reports 0: the copy then asks
// "Low Disk Space !" rather than going on blindly into a folder it cannot see.
uint32_t CRecoveryEngine::GetFreeMB()
{
    char folder[kMaxPath + 1];
    destFolder.CopyTo(folder);
    uint64_t bytes = 0;
    if (!rawio::FreeBytes(folder, &bytes)) return 0;
    uint64_t mb = bytes >> kBytesPerMBShift;
    return uint32_t(mb > kMaxMB ? kMaxMB : mb);
}

void CRecoveryEngine::NtfsRoot(const char* path, char root[kMaxPath + 1])
{
    size_t n = std::strlen(path);
    if (n > size_t(kMaxPath)) n = kMaxPath;
    std::memcpy(root, path, n);
    root[n] = '\0';
    if (n == 0 || root[0] == '.') {
        root[0] = '\0';
        return;
    }
    if (n >= 3 && IsDriveLetter(root[0]) && root[1] == kDriveColon && root[2] == rawio::kSep) {
        root[3] = '\0';
        return;
    }
    if (n >= 2 && root[0] == rawio::kSep && root[1] == rawio::kSep) {
        char* server = std::strchr(root + 2, rawio::kSep);
        char* share = server ? std::strchr(server + 1, rawio::kSep) : nullptr;
        if (share) share[1] = '\0';
        return;
    }
    // Anything else is asked about as it stands: on POSIX any path names the
    // volume that holds it; on Windows a non-root fails the query, which
    // counts as "not NTFS" like every failed query.
}

bool CRecoveryEngine::IsNtfs(const char* path)
{
    char root[kMaxPath + 1];
    NtfsRoot(path ? path : "", root);
    char name[kFileSystemNameSize] = "";
    if (!rawio::FileSystemName(root[0] ? root : nullptr, name, sizeof name)) return false;
    return std::strcmp(name, "NTFS") == 0;
}
