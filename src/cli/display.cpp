#include "cli/display.h"

#include <algorithm>

namespace {

constexpr unsigned kCounterSlots = 8;  // slots 0..7: Sectors .. Total
constexpr unsigned kCountersPerLine = 4;
const char* const kCounterNames[kCounterSlots] = {"sectors", "current", "read",    "missing",
                                                   "kpersec", "errors",  "failure", "total"};
constexpr const char kPausedSuffix[] = " Paused";  // the cooldown countdown in the title slot
constexpr const char kMapBorder = 2;               // the brackets around the picture

bool EndsWith(const std::string& s, const std::string& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string Trim(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

// "Read:\t   500" -> "500"; a text without a colon is all value.
std::string CounterValue(const std::string& text)
{
    size_t colon = text.find(':');
    std::string value = Trim(colon == std::string::npos ? text : text.substr(colon + 1));
    return value.empty() ? "-" : value;
}

// A line must not wrap on a terminal, or the block's height is wrong.
std::string Fit(const std::string& line, int columns)
{
    size_t limit = columns > 1 ? size_t(columns - 1) : 1;
    return line.size() > limit ? line.substr(0, limit) : line;
}

}  // namespace

std::string MapPicture(const ProgressMap& map, unsigned width)
{
    uint32_t cells = map.mapCells.load(std::memory_order_relaxed);
    if (cells == 0 || cells > kMapCellsMax) cells = kMapCellsMax;
    uint32_t current = map.mapCurrentCell.load(std::memory_order_relaxed);
    std::string picture(width, '.');
    for (unsigned i = 0; i < width; ++i) {
        uint32_t first = uint32_t(uint64_t(i) * cells / width);
        uint32_t last = std::max(first + 1, uint32_t(uint64_t(i + 1) * cells / width));  // exclusive
        bool visited = false, failed = false;
        for (uint32_t c = first; c < last; ++c) {
            uint8_t v = map.Cell(c);
            visited = visited || v == kCellVisited;
            failed = failed || v == kCellError;
        }
        if (current >= first && current < last)
            picture[i] = '@';
        else if (failed)
            picture[i] = 'x';
        else if (visited)
            picture[i] = '#';
    }
    return picture;
}

std::string CompactCounter(const std::string& text)
{
    size_t colon = text.find(':');
    if (colon == std::string::npos) return Trim(text);
    return text.substr(0, colon + 1) + " " + Trim(text.substr(colon + 1));
}

std::string CountersLine(const std::vector<std::string>& slots, const std::string& percentText)
{
    std::string line;
    for (unsigned i = 0; i < kCounterSlots; ++i) {
        std::string value = i < slots.size() ? CounterValue(slots[i]) : "-";
        if (i) line += ' ';
        line.append(kCounterNames[i]).append(1, ' ').append(value);
    }
    // "45.3% LABEL"
    size_t pct = percentText.find('%');
    std::string percent = pct == std::string::npos ? "-" : Trim(percentText.substr(0, pct));
    std::string label = pct == std::string::npos ? "" : Trim(percentText.substr(pct + 1));
    line += " percent " + (percent.empty() ? std::string("-") : percent);
    line += " label " + (label.empty() ? std::string("-") : label);
    return line;
}

CDisplay::CDisplay(FILE* err, FILE* out, bool terminal, int columns)
    : err_(err), out_(out), terminal_(terminal), columns_(columns > 0 ? columns : kDefaultColumns),
      slots_(kStatusSlots)
{
}

void CDisplay::LogLine(const std::string& line)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (!quiet_) PrintLine(line);
}

void CDisplay::Note(const std::string& line)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (!quiet_) PrintLine(line);
}

void CDisplay::Problem(const std::string& line)
{
    std::lock_guard<std::mutex> guard(lock_);
    PrintLine(line);
}

void CDisplay::SetQuiet(bool quiet)
{
    std::lock_guard<std::mutex> guard(lock_);
    quiet_ = quiet;
}

void CDisplay::SetCountersLines(bool on)
{
    std::lock_guard<std::mutex> guard(lock_);
    countersLines_ = on;
}

void CDisplay::SetColumns(int columns)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (columns <= 0 || columns == columns_) return;
    columns_ = columns;
    dirty_ = true;
}

void CDisplay::Status(unsigned slot, const std::string& text)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (slot < kCounterSlots) {
        slots_[slot] = text;
        haveCounters_ = true;
        countersChanged_ = true;
    } else if (slot == unsigned(kSlotTitle)) {
        if (EndsWith(text, kPausedSuffix)) {
            pauseText_ = text;
        } else {
            percentText_ = text;
            pauseText_.clear();
        }
    } else if (slot == unsigned(kSlotRestoreTitle)) {
        pauseText_.clear();
    } else if (slot < unsigned(kStatusSlots)) {
        slots_[slot] = text;
    }
    dirty_ = true;
}

void CDisplay::MapChanged()
{
    std::lock_guard<std::mutex> guard(lock_);
    dirty_ = true;
}

void CDisplay::SetDestination(const std::string& folder)
{
    std::lock_guard<std::mutex> guard(lock_);
    destination_ = folder;
    dirty_ = true;
}

void CDisplay::ShowBlock(bool show)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (!show) EraseBlock();
    showBlock_ = show;
    dirty_ = true;
}

void CDisplay::Refresh(Clock::time_point now)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (asking_ || quiet_) return;
    if (terminal_) {
        if (showBlock_ && dirty_ && now - lastDraw_ >= kRedrawEvery) {
            EraseBlock();
            DrawBlock();
            lastDraw_ = now;
        }
        return;
    }
    if (haveCounters_ && countersChanged_ && (!countersWritten_ || now - lastCounters_ >= kCountersEvery)) {
        WriteCounters();
        lastCounters_ = now;
    }
}

void CDisplay::Finish()
{
    std::lock_guard<std::mutex> guard(lock_);
    if (quiet_) return;
    if (terminal_) {
        EraseBlock();
        if (showBlock_) DrawBlock();
        if (drawnLines_ > 0) std::fputc('\n', err_);
        std::fflush(err_);
        drawnLines_ = 0;
        dirty_ = false;
        return;
    }
    if (haveCounters_ && countersChanged_) WriteCounters();
}

void CDisplay::BeginQuestion(const std::string& caption, const std::string& text, const std::string& buttons)
{
    std::lock_guard<std::mutex> guard(lock_);
    EraseBlock();
    asking_ = true;
    size_t start = 0;
    for (;;) {
        size_t nl = text.find('\n', start);
        PrintLine("[" + caption + "] " + text.substr(start, nl == std::string::npos ? std::string::npos : nl - start));
        if (nl == std::string::npos) break;
        start = nl + 1;
    }
    if (!buttons.empty()) {
        std::fputs(buttons.c_str(), err_);
        std::fflush(err_);
    }
}

void CDisplay::EndQuestion()
{
    std::lock_guard<std::mutex> guard(lock_);
    asking_ = false;
    dirty_ = true;
}

std::vector<std::string> CDisplay::BlockLines() const
{
    std::vector<std::string> lines;
    lines.push_back(slots_[kSlotSource].empty() ? "Source" : slots_[kSlotSource]);
    std::string dest = slots_[kSlotDestination].empty() ? "Destination" : slots_[kSlotDestination];
    if (!destination_.empty()) dest += "  " + destination_;
    lines.push_back(dest);
    if (haveCounters_) {
        for (unsigned row = 0; row < kCounterSlots / kCountersPerLine; ++row) {
            std::string line;
            for (unsigned i = 0; i < kCountersPerLine; ++i) {
                std::string c = CompactCounter(slots_[row * kCountersPerLine + i]);
                line += (i ? "   " : "") + c;
            }
            lines.push_back(line);
        }
        std::string title = percentText_;
        if (!pauseText_.empty()) title += (title.empty() ? "" : "   ") + std::string("Cooldown ") + pauseText_;
        lines.push_back(title);
        unsigned width = columns_ > kMapBorder + 1 ? unsigned(columns_ - kMapBorder - 1) : 1;
        std::string map(1, '[');
        map.append(MapPicture(progressMap, width)).append(1, ']');
        lines.push_back(map);
    }
    return lines;
}

void CDisplay::EraseBlock()
{
    if (!terminal_ || drawnLines_ == 0) return;
    std::string seq = "\r";
    if (drawnLines_ > 1) seq += "\x1b[" + std::to_string(drawnLines_ - 1) + "A";
    seq += "\x1b[J";
    std::fputs(seq.c_str(), err_);
    drawnLines_ = 0;
    dirty_ = true;
}

void CDisplay::DrawBlock()
{
    std::vector<std::string> lines = BlockLines();
    std::string text;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i) text += '\n';
        text += Fit(lines[i], columns_);
    }
    std::fputs(text.c_str(), err_);
    std::fflush(err_);
    drawnLines_ = int(lines.size());
    dirty_ = false;
}

void CDisplay::WriteCounters()
{
    if (!countersLines_) return;
    std::string line = CountersLine(std::vector<std::string>(slots_.begin(), slots_.begin() + kCounterSlots),
                                    percentText_);
    std::fprintf(out_, "%s\n", line.c_str());
    std::fflush(out_);
    countersChanged_ = false;
    countersWritten_ = true;
}

void CDisplay::PrintLine(const std::string& line)
{
    EraseBlock();
    std::fprintf(err_, "%s\n", line.c_str());
    std::fflush(err_);
}
