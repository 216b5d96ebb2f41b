#pragma once
#include <optional>
#include <string>
#include <vector>

namespace quelvar::send {

struct SendOptions {
    bool plain = false;
    std::string host = "127.0.0.1";
    int port = 1809;
    int timeoutMilliseconds = 2000;
    std::string file;                // "-" is standard input
    std::vector<std::string> calls;  // from the command line
    long generate = 0;
    double rate = 0;  // datagrams per second; 0 is as fast as answers come
    bool quiet = false;
    bool help = false;
};

// The options, or the one-line reason why the arguments are wrong.
std::optional<SendOptions> parseOptions(const std::vector<std::string>& arguments, std::string& error);

extern const char* const usageText;

}  // namespace quelvar::send
