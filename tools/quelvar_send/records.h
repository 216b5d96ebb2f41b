#pragma once
#include <cstdint>
#include <istream>
#include <random>
#include <string>
#include <vector>

namespace quelvar::send {

// The record lines of one datagram, UTF-8; several are the legs of a call.
using Call = std::vector<std::string>;

// Legs separated by line feeds; in plain mode each line is a datagram.
std::vector<Call> callsFromArguments(const std::vector<std::string>& arguments, bool plain);

// One leg a line, an empty line ends a call; in plain mode each line is a
// datagram. CR LF line ends are taken as LF.
std::vector<Call> readCalls(std::istream& input, bool plain);

// Distinct, realistic calls: a few switches, extensions, local, long
// distance, international and special-service numbers, now and then a call
// of several legs (never in plain mode, where a datagram is one record).
class CallGenerator {
public:
    CallGenerator(bool plain, std::uint32_t seed);
    // Calls start at moments of this month, mostly in working hours, rather
    // than now.
    void startInMonth(int year, int month);
    Call next();

private:
    int year_ = 0, month_ = 0;
    bool plain_;
    std::mt19937 random_;
    long serial_ = 0;
    long runId_;
};

}  // namespace quelvar::send
