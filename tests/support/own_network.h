#pragma once
// Puts the calling process into a network of its own with the loopback up,
// so that the collector's fixed port meets no other collector's. Must run
// before any thread starts. False where the machine does not allow it.
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>

namespace own_network_detail {

inline bool writeFile(const char* path, const std::string& text) {
    std::ofstream out(path);
    out << text;
    return static_cast<bool>(out.flush());
}

inline bool bringLoopbackUp() {
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

}  // namespace own_network_detail

inline bool enterOwnNetwork() {
    using namespace own_network_detail;
    if (unshare(CLONE_NEWNET) == 0) return bringLoopbackUp();
    const uid_t user = getuid();
    const gid_t group = getgid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) return false;
    writeFile("/proc/self/setgroups", "deny");
    writeFile("/proc/self/uid_map", std::to_string(user) + " " + std::to_string(user) + " 1\n");
    writeFile("/proc/self/gid_map", std::to_string(group) + " " + std::to_string(group) + " 1\n");
    return bringLoopbackUp();
}
