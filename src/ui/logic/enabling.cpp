#include "ui/logic/enabling.h"

#include "channel/channel.h"

namespace {
Enable OnIf(bool on) { return on ? Enable::On : Enable::Off; }
}  // namespace

EnablingChange EnablingForState(unsigned state, bool sourceReady)
{
    EnablingChange c;
    switch (state) {
    case ENGINE_COPYING:
        c = {Enable::Off, Enable::Off, Enable::On, Enable::Off};
        break;
    case ENGINE_IDLE:
        c = {OnIf(sourceReady), OnIf(sourceReady), Enable::Off, Enable::On};
        break;
    case ENGINE_SOURCE_READY:
        c.start = c.forceSize = Enable::On;
        break;
    case ENGINE_SOURCE_NOT_READY:
        c.start = c.forceSize = Enable::Off;
        break;
    default:
        break;
    }
    return c;
}

EnablingChange InitialEnabling() { return {Enable::Off, Enable::Off, Enable::Off, Enable::On}; }
