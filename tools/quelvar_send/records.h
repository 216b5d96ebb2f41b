#pragma once
#include <cstdint>
#include <istream>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "core/time.h"

namespace quelvar::send {

// The record lines of one datagram, UTF-8; several are the legs of a call.
using Call = std::vector<std::string>;

// Legs separated by line feeds; in plain mode each line is a datagram.
std::vector<Call> callsFromArguments(const std::vector<std::string>& arguments, bool plain);

// One leg a line, an empty line ends a call; in plain mode each line is a
// datagram. CR LF line ends are taken as LF.
std::vector<Call> readCalls(std::istream& input, bool plain);

// Distinct calls shaped like a month of a real site (the mix is in the
// usage text and the README): mostly short calls with a long tail, busy in
// working hours on weekdays, quiet at night and at weekends, a few calls
// abroad and to premium-rate lines, emergency numbers rare; now and then a
// call of several legs that follow each other (never in plain mode, where a
// datagram is one record). Every draw is made here from the generator's raw
// output, which the standard fixes, so a seed gives the same calls with any
// standard library.
class CallGenerator {
public:
    // The run number starts every RID: a seeded run passes one made from its
    // seed, so that the same seed gives the same bytes.
    CallGenerator(bool plain, std::uint32_t seed, long runId);
    // Calls start at moments of this month, weighted by weekday and hour,
    // rather than now.
    void startInMonth(int year, int month);
    Call next();

private:
    std::uint32_t below(std::uint32_t bound);
    // An index drawn with the weights' shares.
    std::size_t weighted(std::span<const int> weights);
    std::string digits(int count);
    std::string extension();
    CalendarTime startTime();

    int year_ = 0, month_ = 0;
    bool plain_;
    std::mt19937 random_;
    long serial_ = 0;
    long runId_;
};

}  // namespace quelvar::send
