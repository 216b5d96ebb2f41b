#pragma once
#include <string>

#include "core/format.h"

namespace quelvar {

// The intake of the encrypted mode and of the service's own notices. A
// record with a MAC goes to the daily record files and the reply is its
// "ID" (empty when it could not be written); a record without a MAC goes to
// the workbook; anything else becomes an event-log line. `origin` names the
// workbook's folder; no caller passes one.
std::wstring submitMessageText(const std::wstring& message, const std::wstring& origin = {});

// The same, telling also whether the message was a record of a switch that
// could not be written, so that it must not be acknowledged.
struct IntakeOutcome {
    std::wstring reply;
    bool recordUnwritten = false;
};
IntakeOutcome submitMessageOutcome(const std::wstring& message, const std::wstring& origin = {});

template <class... Arguments>
std::wstring submitMessage(std::wstring_view format, const Arguments&... arguments) {
    return submitMessageText(formatText(format, arguments...));
}

}  // namespace quelvar
