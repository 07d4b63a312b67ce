// The busy wait of the host access, on a clock of the test's own: a call that the host rejects
// is repeated after short pauses for up to thirty seconds in all, and nothing else is repeated.
#include <windows.h>

#include <algorithm>
#include <numeric>

#include <gtest/gtest.h>

#include "fake_clock.h"
#include "host.h"

namespace {

TEST(HostBusyWait, RejectedCallsAreRepeatedForUpToThirtySeconds) {
    constexpr int kForever = 1000000;
    const struct {
        const char* name;
        int rejections;     // how many tries the host rejects before it answers
        HRESULT rejection;  // with what
        HRESULT answer;     // then what it answers
        DWORD callTakes;    // how long each try takes
        HRESULT want;
        size_t wantTries;  // 0: not checked
        DWORD wantWaited;
    } rows[] = {
        {"answers at once", 0, RPC_E_CALL_REJECTED, S_OK, 0, S_OK, 1, 0},
        {"rejected three times", 3, RPC_E_CALL_REJECTED, S_OK, 0, S_OK, 4, 400},
        {"asked to retry later", 3, RPC_E_SERVERCALL_RETRYLATER, S_OK, 0, S_OK, 4, 400},
        {"stays busy", kForever, RPC_E_CALL_REJECTED, S_OK, 0, RPC_E_CALL_REJECTED, 0, 30000},
        {"stays busy, slow", kForever, RPC_E_SERVERCALL_RETRYLATER, S_OK, 4000,
         RPC_E_SERVERCALL_RETRYLATER, 0, 0},
        {"other failure", 0, RPC_E_CALL_REJECTED, DISP_E_UNKNOWNNAME, 0, DISP_E_UNKNOWNNAME, 1, 0},
        {"host ended", 0, RPC_E_CALL_REJECTED, HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE), 0,
         HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE), 1, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        FakeClock clock;
        std::vector<DWORD> tries;  // when each try started
        const HRESULT got = host::CallWhileBusy(clock, [&] {
            tries.push_back(clock.now);
            clock.now += row.callTakes;
            return static_cast<int>(tries.size()) <= row.rejections ? row.rejection : row.answer;
        });
        EXPECT_EQ(got, row.want);
        if (row.wantTries) {
            EXPECT_EQ(tries.size(), row.wantTries);
        }
        const DWORD waited = std::accumulate(clock.pauses.begin(), clock.pauses.end(), DWORD{0});
        if (row.wantWaited) {
            EXPECT_EQ(waited, row.wantWaited);
        }
        if (row.want == RPC_E_CALL_REJECTED || row.want == RPC_E_SERVERCALL_RETRYLATER) {
            EXPECT_LE(tries.back(), host::kBusyLimitMs) << "the last try falls within the limit";
            EXPECT_GT(tries.back() + row.callTakes, host::kBusyLimitMs - 1000)
                << "the host was given up before the limit";
        }
        if (!clock.pauses.empty()) {
            EXPECT_LE(*std::max_element(clock.pauses.begin(), clock.pauses.end()), 1000u);
            if (row.callTakes == 0) {
                EXPECT_LE(clock.pauses.front(), 100u) << "the first pause is short";
            }
        }
    }
}

}  // namespace
