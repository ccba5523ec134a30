// What the command line shows of a running engine.
//
// On a terminal: log lines scroll and a status block below them is redrawn in
// place (Source and Destination, the eight counters, percentage and label, a
// one-line picture of the progress map). Otherwise: the log lines, and now and
// then one line of `name value` pairs for scripts. All output goes through
// here, under one lock, because questions come from the worker thread.
#pragma once
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "engine/recovery_engine.h"
#include "channel/channel.h"

// Terminal facts (the *_posix file has the real ones).
bool IsTerminal(FILE* stream);
// Columns of the terminal behind `stream`; 0 when unknown.
int TerminalColumns(FILE* stream);

constexpr int kDefaultColumns = 80;

// The picture of the progress map in `width` characters: '.' not visited,
// '#' visited, 'x' a read failed there, '@' the current cell.
std::string MapPicture(const ProgressMap& map, unsigned width);

// A counter text as the engine formats it ("Read:\t   500") as "Read: 500".
std::string CompactCounter(const std::string& text);

// The counters line for scripts, from the status texts of slots 0..7 and the
// percentage text of slot 10: "sectors 20000 current 512 ... percent 45.3 label X".
std::string CountersLine(const std::vector<std::string>& slots, const std::string& percentText);

class CDisplay {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kRedrawEvery{100};
    static constexpr std::chrono::seconds kCountersEvery{10};

    // `err` takes the log and the block, `out` the counters lines.
    CDisplay(FILE* err, FILE* out, bool terminal, int columns);

    void LogLine(const std::string& line);
    // A line of the front end's own (not a log line).
    void Note(const std::string& line);
    // A line that says why something failed: shown even when quiet.
    void Problem(const std::string& line);
    // -q: no log lines, notes, status block or counters lines.
    void SetQuiet(bool quiet);
    // Off: no counters lines on `out` (it holds a JSON result instead).
    void SetCountersLines(bool on);
    // The terminal was resized: the block is drawn to the new width.
    void SetColumns(int columns);
    void Status(unsigned slot, const std::string& text);
    void MapChanged();
    void SetDestination(const std::string& folder);
    // Called by the main loop: redraws the block or writes a counters line when due.
    void Refresh(Clock::time_point now);
    // The end of a copy: the block stays on screen, or a last counters line.
    void Finish();

    // A question: the block is taken off the screen until EndQuestion.
    void BeginQuestion(const std::string& caption, const std::string& text, const std::string& buttons);
    void EndQuestion();

    // The status block is drawn only while a copy is being watched.
    void ShowBlock(bool show);
    bool Terminal() const { return terminal_; }
    bool HasCounters() const { return haveCounters_; }

private:
    std::vector<std::string> BlockLines() const;
    void EraseBlock();
    void DrawBlock();
    void WriteCounters();
    void PrintLine(const std::string& line);

    std::mutex lock_;
    FILE* err_;
    FILE* out_;
    bool terminal_;
    int columns_;
    std::vector<std::string> slots_;  // status texts 0..10
    std::string percentText_;         // slot 10 when it holds the percentage
    std::string pauseText_;           // slot 10 during a cooldown
    std::string destination_;
    bool haveCounters_ = false;
    bool countersChanged_ = false;
    bool dirty_ = false;
    bool asking_ = false;
    bool showBlock_ = false;
    bool quiet_ = false;
    bool countersLines_ = true;
    int drawnLines_ = 0;
    Clock::time_point lastDraw_{};
    Clock::time_point lastCounters_{};
    bool countersWritten_ = false;
};
