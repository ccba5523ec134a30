// The two selectors of the main dialog: the log level ("+" 1037 / "-" 1038)
// and the give-up time ("+" 1040 / "-" 1041). Each press moves one step and
// stops at the ends; the name shown afterwards is that of the level in force.
#pragma once

constexpr int kMaxLogLevel = 4;     // "Debug"
constexpr int kMaxGiveUpLevel = 4;  // "Try 1 Minute"

// Log level: "+" raises toward Debug, "-" lowers toward Normal. The bound
// tests are unsigned, so a level outside 0..4 is not moved further out.
int RaiseLogLevel(int level);
int LowerLogLevel(int level);

// Give-up level: "+" means a longer time, i.e. a lower index (0 "Never Give Up");
// "-" a shorter one, a higher index (4 "Try 1 Minute").
int LongerGiveUp(int level);
int ShorterGiveUp(int level);
