// The Force Volume Size dialog without its window: the source choice and the
// two number fields (sectors and megabytes) that follow each other.
//
// Only the "master" field acts on a text update, so the update that one field
// causes in the other is ignored. The window part only copies texts in and out.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

constexpr uint32_t kSectorsPerMB = 512;       // 512 sectors of 2048 bytes = 1,048,576 bytes
constexpr unsigned kSectorsFieldLimit = 7;    // up to 9,999,999 sectors
constexpr unsigned kMegabytesFieldLimit = 4;  // up to 9,999 MB
constexpr unsigned kFieldReadLimit = 14;      // characters read from a field

// The source list, in its order.
constexpr int kSourceDriveReported = 0;
constexpr int kSourceFlagFile = 1;
constexpr int kSourceEstimated = 2;
constexpr int kSourceFree = 3;
constexpr int kSourceCount = 4;
extern const char* const kSourceNames[kSourceCount];  // "Drive Reported" .. "-- Free --"

enum class MasterEdit { Sectors = 0, Megabytes = 1 };

// At most kFieldReadLimit leading characters as a decimal number: digits are
// taken up to the first other character; "" is 0. Values past 2^32-1 stay there.
uint32_t ParseSizeField(const std::string& text);
// "%u"
std::string SizeText(uint32_t value);

class CForceSizeFields {
public:
    // The engine's answer for sources 0..2: the sector count, and the detail text.
    using SourceQuery = std::function<uint32_t(int choice, std::string* detail)>;

    explicit CForceSizeFields(uint32_t sectors);

    // The texts the window shows.
    std::string SectorsText() const { return SizeText(sectors); }
    std::string MegabytesText() const { return SizeText(sectors / kSectorsPerMB); }

    // A new source choice. Returns whether the edits are enabled afterwards
    // (only for "-- Free --"). Every choice makes the sectors field the master.
    // For sources 0..2 sectors and the detail come from `query`.
    bool ChooseSource(int index, const SourceQuery& query);

    // Focus moved into a field: it becomes the master.
    void FocusSectors() { master = MasterEdit::Sectors; }
    void FocusMegabytes() { master = MasterEdit::Megabytes; }

    // A field's text changed. True when the other field must be set to
    // MegabytesText() / SectorsText().
    bool SectorsTextChanged(const std::string& text);
    bool MegabytesTextChanged(const std::string& text);

    uint32_t sectors;
    MasterEdit master = MasterEdit::Sectors;
    std::string detail;      // label 1058: the flag file chosen, or ""
    std::string sourceText;  // list text of the current choice
};
