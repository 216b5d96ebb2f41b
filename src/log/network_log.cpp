#include "log/network_log.h"

#include <type_traits>

#include "core/format.h"
#include "core/text.h"

namespace quelvar {

NetworkLog::NetworkLog(const EventLog& log)
    : log_(log),
      unknown_(L"WARNING   %d more unknown messages from %s suppressed\r\n", perSenderPerMinute, sendersPerMinute),
      refused_(L"WARNING   %d more datagrams from %s refused\r\n", perSenderPerMinute, sendersPerMinute),
      notWritten_(L"WARNING   %d more records from %s not written\r\n", perSenderPerMinute, sendersPerMinute),
      other_(L"WARNING   %d more lines about datagrams from %s suppressed\r\n", perSenderPerMinute, sendersPerMinute) {}

void NetworkLog::from(std::string address, int port, TimeValue now) {
    address_ = std::move(address);
    port_ = port;
    now_ = now;
}

LineCap& NetworkLog::capOf(NetworkLine kind) {
    switch (kind) {
        case NetworkLine::unknown:
            return unknown_;
        case NetworkLine::refused:
            return refused_;
        case NetworkLine::notWritten:
            return notWritten_;
        case NetworkLine::other:
            break;
    }
    return other_;
}

bool NetworkLog::admit(NetworkLine kind) {
    if (now_ - minuteStart_ >= LineCap::minute || now_ < minuteStart_) {
        minuteStart_ = now_;
        written_ = 0;
    }
    const bool admitted = capOf(kind).admit(address_, now_, written_ < allSendersPerMinute);
    if (admitted) ++written_;
    return admitted;
}

void NetworkLog::write(NetworkLine kind, std::wstring_view line) {
    if (admit(kind)) log_.writeEventLine(line);
}

void NetworkLog::writePlain(NetworkLine kind, std::string_view line) {
    if (admit(kind)) log_.writePlainEventLine(line);
}

void NetworkLog::tick(TimeValue now) {
    for (LineCap* cap : {&unknown_, &refused_, &notWritten_, &other_}) cap->tell(log_, now);
}

void NetworkLog::close() {
    for (LineCap* cap : {&unknown_, &refused_, &notWritten_, &other_}) cap->tellAll(log_);
}

namespace {

// One character as the log shows it.
template <class Text>
Text shownCharacter(typename Text::value_type c) {
    using Char = typename Text::value_type;
    const Text one(1, c);
    if (static_cast<std::make_unsigned_t<Char>>(c) >= 0x20) return one;
    return escapeControlCharacters(std::basic_string_view<Char>(one));
}

template <class Text>
Text shown(std::basic_string_view<typename Text::value_type> text, std::size_t& leftOut) {
    Text out;
    std::size_t index = 0;
    for (; index < text.size(); ++index) {
        const Text piece = shownCharacter<Text>(text[index]);
        if (out.size() + piece.size() > longestShownPayload) break;
        out += piece;
    }
    leftOut = index;
    return out;
}

}  // namespace

std::wstring shownPayload(std::wstring_view text) {
    std::size_t taken = 0;
    std::wstring out = shown<std::wstring>(text, taken);
    if (taken < text.size())
        out += formatText(L"... (%d more bytes)", static_cast<long long>(toGbk(text.substr(taken)).size()));
    return out;
}

std::string shownPayload(std::string_view bytes) {
    std::size_t taken = 0;
    std::string out = shown<std::string>(bytes, taken);
    if (taken < bytes.size()) out += formatBytes("... (%d more bytes)", static_cast<long long>(bytes.size() - taken));
    return out;
}

}  // namespace quelvar
