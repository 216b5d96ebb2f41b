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
    int generateYear = 0, generateMonth = 0;  // --month: generated calls start in it, not now
    std::optional<unsigned long> seed;        // --seed: the same calls every run
    std::string save;                         // --save: every call sent, as --file reads them
    double rate = 0;  // datagrams per second; 0 is as fast as answers come
    bool quiet = false;
    bool help = false;
};

// The options, or the one-line reason why the arguments are wrong.
std::optional<SendOptions> parseOptions(const std::vector<std::string>& arguments, std::string& error);

extern const char* const usageText;

}  // namespace quelvar::send
