// Every end-to-end test process gets a network of its own, so that the
// collector's fixed port never meets another collector's, and tests may run
// side by side. Where that is not allowed, they share the machine's.
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>

namespace {

bool writeFile(const char* path, const std::string& text) {
    std::ofstream out(path);
    out << text;
    return static_cast<bool>(out.flush());
}

bool bringLoopbackUp() {
    const int handle = socket(AF_INET, SOCK_DGRAM, 0);
    if (handle < 0) return false;
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ioctl(handle, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP | IFF_RUNNING);
    up = up && ioctl(handle, SIOCSIFFLAGS, &request) == 0;
    close(handle);
    return up;
}

bool enterOwnNetwork() {
    if (unshare(CLONE_NEWNET) == 0) return bringLoopbackUp();
    const uid_t user = getuid();
    const gid_t group = getgid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) return false;
    writeFile("/proc/self/setgroups", "deny");
    writeFile("/proc/self/uid_map", std::to_string(user) + " " + std::to_string(user) + " 1\n");
    writeFile("/proc/self/gid_map", std::to_string(group) + " " + std::to_string(group) + " 1\n");
    return bringLoopbackUp();
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (!enterOwnNetwork())
        std::fprintf(stderr, "note: no network namespace here; the tests share the machine's port 1809\n");
    return RUN_ALL_TESTS();
}
