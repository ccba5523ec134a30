// Small rules of the main dialog that need no window: the folder picked with
// "Change", the file dialog filters, what each status slot drives, and the
// geometry and colours of the progress bar.
#pragma once
#include <cstdint>
#include <string>

// ---- "Change" ----------------------------------------------------------------

// The folder browser's path as the destination: "" (an item outside the file
// system) becomes ".\"; a path without a trailing separator gets one.
std::string DestinationFromBrowse(const std::string& path);

// ---- File dialog filters ---------------------------------------------------------

// "Flag Files (*.flg)|*.flg||" -> "Flag Files (*.flg)\0*.flg\0\0" (the result's
// size includes the final two NULs).
std::string NulSeparatedFilter(const std::string& barSeparated);

// ---- Status slots ------------------------------------------------------------------

enum class SlotAction {
    ControlText,   // slots 0..9: the text of the slot's control
    WindowTitle,   // 10: the title := slot 10's text
    DestFolder,    // 11: static 1033 := the destination folder
    RepaintMap,    // 12: repaint the progress bar
    RestoreTitle,  // 13: the title read at initialisation
    Nothing,       // 14 and above (and, the test being unsigned, negatives)
};
SlotAction ActionForSlot(unsigned slot);

// The controls of status slots 0..9, in slot order.
constexpr int kStatusControlCount = 10;
extern const int kStatusControlIds[kStatusControlCount];

// ---- Progress bar --------------------------------------------------------------------

struct PixelRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int Width() const { return right - left; }
};

// The canvas client rectangle moved inwards by 3 (left), 3 (top), 2 (right), 4 (bottom).
PixelRect BarRectFromClient(const PixelRect& client);
// The cells in use for a bar: its width, at most the 512 cells of the map.
uint32_t MapCellsForBar(const PixelRect& bar);
// Columns painted: mapCells - 2, none for mapCells <= 2.
uint32_t PaintedColumns(uint32_t mapCells);

constexpr uint32_t kColourWhite = 0xFFFFFF;   // the read position
constexpr uint32_t kColourVisited = 0x7F0000; // RGB(0, 0, 127) as a COLORREF (0x00BBGGRR)
constexpr uint32_t kColourError = 0x0000FF;   // RGB(255, 0, 0)

// The COLORREF of column `i`, or false when it is not painted (a cell value
// other than 0, 1, 2 that is not the current cell).
bool ColumnColour(uint32_t i, uint8_t cell, uint32_t currentCell, uint32_t faceColour, uint32_t* colour);

// Where the icon goes in a minimised dialog: (client - icon + 1) / 2, truncating toward zero.
int CentredIconOffset(int clientExtent, int iconExtent);
