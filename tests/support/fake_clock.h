// A clock for the busy wait that moves only when it pauses, and records its pauses.
#pragma once

#include <vector>

#include "host.h"

struct FakeClock final : host::Clock {
    DWORD now = 0;
    std::vector<DWORD> pauses;
    DWORD Now() override { return now; }
    void Pause(DWORD milliseconds) override {
        pauses.push_back(milliseconds);
        now += milliseconds;
    }
};

// A clock that runs thirty times as fast as the real one: a bound of a minute passes in two
// seconds.
struct FastClock final : host::Clock {
    DWORD Now() override { return GetTickCount() * 30; }
    void Pause(DWORD milliseconds) override { Sleep(milliseconds / 30); }
};
