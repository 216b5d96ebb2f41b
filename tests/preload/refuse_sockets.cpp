// Loaded into the collector by a test: no socket can be made, as on a
// machine out of descriptors or without a network stack.
#include <sys/socket.h>

#include <cerrno>

extern "C" int socket(int, int, int) {
    errno = EMFILE;
    return -1;
}
