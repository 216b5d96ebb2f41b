// Every end-to-end test process gets a network of its own, so that the
// collector's fixed port never meets another collector's, and tests may run
// side by side. Where that is not allowed, they share the machine's.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "e2e/watchdog.h"
#include "support/own_network.h"

namespace {

// A fatal failure or a skip ends the test wherever it happens, in a function
// the test calls as in its body: GoogleTest's own ASSERT and GTEST_SKIP return
// only from the function they are in. Destructors must not ASSERT, then.
class EndTestOnFatalFailure : public testing::EmptyTestEventListener {
    // GoogleTest holds its lock while it reports: whether a test runs is
    // kept here rather than asked of it.
    void OnTestStart(const testing::TestInfo&) override { inTest_ = true; }
    void OnTestEnd(const testing::TestInfo&) override { inTest_ = false; }
    void OnTestPartResult(const testing::TestPartResult& result) override {
        if (inTest_ && (result.fatally_failed() || result.skipped())) throw testing::AssertionException(result);
    }

    bool inTest_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // Under Wine the sockets are made by the Wine server, which stays for
    // the whole run: the caller gives the run a network of its own.
    if (std::getenv("QUELVAR_WINDOWS_BUILD") == nullptr && !enterOwnNetwork())
        std::fprintf(stderr, "note: no network namespace here; the tests share the machine's port 1809\n");
    testing::TestEventListeners& listeners = testing::UnitTest::GetInstance()->listeners();
    // The slowest test takes about 5 s, under Wine as on Linux; a failing one
    // ends by the harness's own limits within about a minute. Two minutes
    // leave room for a slow machine and still end a hung run soon.
    Watchdog watchdog(std::chrono::minutes(2));
    listeners.Append(&watchdog);
    // Last, so that the printer has reported the failure before it throws.
    EndTestOnFatalFailure endTest;
    listeners.Append(&endTest);
    const int status = RUN_ALL_TESTS();
    listeners.Release(&endTest);
    listeners.Release(&watchdog);
    return status;
}
