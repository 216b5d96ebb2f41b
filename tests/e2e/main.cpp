// Every end-to-end test process gets a network of its own, so that the
// collector's fixed port never meets another collector's, and tests may run
// side by side. Where that is not allowed, they share the machine's.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "support/own_network.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // Under Wine the sockets are made by the Wine server, which stays for
    // the whole run: the caller gives the run a network of its own.
    if (std::getenv("QUELVAR_WINDOWS_BUILD") == nullptr && !enterOwnNetwork())
        std::fprintf(stderr, "note: no network namespace here; the tests share the machine's port 1809\n");
    return RUN_ALL_TESTS();
}
