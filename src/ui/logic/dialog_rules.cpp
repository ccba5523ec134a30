#include "ui/logic/dialog_rules.h"

#include "engine/recovery_engine.h"
#include "platform/rawio.h"
#include "channel/channel.h"

const int kStatusControlIds[kStatusControlCount] = {1020, 1022, 1023, 1024, 1025, 1027, 1028, 1029, 1030, 1031};

namespace {
// Canvas insets: the etched frame and a margin inside it.
constexpr int kBarInsetLeft = 3;
constexpr int kBarInsetTop = 3;
constexpr int kBarInsetRight = 2;
constexpr int kBarInsetBottom = 4;
// The two rightmost columns are never painted.
constexpr uint32_t kUnpaintedColumns = 2;
}  // namespace

std::string DestinationFromBrowse(const std::string& path)
{
    if (path.empty()) return std::string(".") + rawio::kSep;
    if (path.back() != rawio::kSep) return path + rawio::kSep;
    return path;
}

std::string NulSeparatedFilter(const std::string& barSeparated)
{
    std::string out = barSeparated;
    for (char& c : out)
        if (c == '|') c = '\0';
    // A filter must end with two NULs even when the "||" was left off.
    while (out.size() < 2 || out[out.size() - 1] != '\0' || out[out.size() - 2] != '\0') out += '\0';
    return out;
}

SlotAction ActionForSlot(unsigned slot)
{
    if (slot < unsigned(kStatusControlCount)) return SlotAction::ControlText;
    switch (slot) {
    case kSlotTitle: return SlotAction::WindowTitle;
    case kSlotDestFolder: return SlotAction::DestFolder;
    case kSlotRepaintMap: return SlotAction::RepaintMap;
    case kSlotRestoreTitle: return SlotAction::RestoreTitle;
    default: return SlotAction::Nothing;
    }
}

PixelRect BarRectFromClient(const PixelRect& client)
{
    return {client.left + kBarInsetLeft, client.top + kBarInsetTop, client.right - kBarInsetRight,
            client.bottom - kBarInsetBottom};
}

uint32_t MapCellsForBar(const PixelRect& bar)
{
    int width = bar.Width();
    if (width < 0) return 0;
    // The copy maps the disc onto mapCells cells: never more than the map holds.
    if (uint32_t(width) > kMapCellsMax) return kMapCellsMax;
    return uint32_t(width);
}

uint32_t PaintedColumns(uint32_t mapCells) { return mapCells > kUnpaintedColumns ? mapCells - kUnpaintedColumns : 0; }

bool ColumnColour(uint32_t i, uint8_t cell, uint32_t currentCell, uint32_t faceColour, uint32_t* colour)
{
    if (i == currentCell) {
        *colour = kColourWhite;
        return true;
    }
    switch (cell) {
    case kCellUnvisited: *colour = faceColour; return true;
    case kCellVisited: *colour = kColourVisited; return true;
    case kCellError: *colour = kColourError; return true;
    default: return false;
    }
}

int CentredIconOffset(int clientExtent, int iconExtent) { return (clientExtent - iconExtent + 1) / 2; }
