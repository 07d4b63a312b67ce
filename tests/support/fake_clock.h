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
