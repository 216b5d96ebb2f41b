#pragma once
#include <array>
#include <string>
#include <string_view>

#include "core/time.h"
#include "message/datagram.h"
#include "message/record.h"

namespace quelvar {

// The call that the lines of one datagram report, merged: the common fields
// from the first line that has each, COUNT the number of lines, and the legs
// of the first five lines, each with its end time. It views the lines.
struct MergedCall {
    static constexpr std::size_t legCount = 5;
    struct Leg {
        std::wstring_view start;  // TIME-S as it came
        std::wstring end;         // worked out: YYMMDDhhmmss, empty where the calendar cannot show it
        std::wstring_view duration;
        std::wstring_view trunk;
    };

    std::wstring_view rid, account, cpn, cdpn, type, route, mac;
    std::wstring count;
    std::array<Leg, legCount> legs;

    // The merged call as the record files take it: a record whose COUNT is
    // set, with the first leg's times, duration and trunk. It views this call.
    Record record() const;
};

// Merges the lines of a datagram. An empty line repeats the leg of the line
// before it; a leg's date is `today`'s where its TIME-S names no valid one.
void mergeCall(const std::vector<DatagramLine>& lines, const CalendarTime& today, MergedCall& call);

}  // namespace quelvar
