#include "ui/logic/selectors.h"

int RaiseLogLevel(int level) { return unsigned(level) < unsigned(kMaxLogLevel) ? level + 1 : level; }

int LowerLogLevel(int level) { return level > 0 ? level - 1 : level; }

int LongerGiveUp(int level) { return level > 0 ? level - 1 : level; }

int ShorterGiveUp(int level) { return unsigned(level) < unsigned(kMaxGiveUpLevel) ? level + 1 : level; }
