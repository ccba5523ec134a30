// Which controls of the main dialog are usable, by engine state.
//
// The worker reports its state changes; the dialog turns each into enable or
// disable calls. Kept apart from the window so the table can be checked without one.
#pragma once

enum class Enable : unsigned char { Unchanged, On, Off };

struct EnablingChange {
    Enable start = Enable::Unchanged;      // "Start" 1017
    Enable forceSize = Enable::Unchanged;  // "Force Size" 1055
    Enable pause = Enable::Unchanged;      // "Pause" 1015
    // "Exit", "Change", "Import File", "Ej", "Ld" and the Source list: the
    // configuration, usable only while no copy runs.
    Enable configuration = Enable::Unchanged;
};

// The change for engine state `state` (ENGINE_*). ENGINE_SHUTDOWN and unknown
// states change nothing here (the dialog handles shutdown separately).
EnablingChange EnablingForState(unsigned state, bool sourceReady);

// The state before the first report: Start, Force Size and Pause disabled,
// the configuration enabled.
EnablingChange InitialEnabling();
