#pragma once
#include <ctime>
#include <string>

// Today's local date through a strftime pattern, e.g. "%Y%m%d.log".
inline std::string todayAs(const char* pattern) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[64];
    return std::string(text, std::strftime(text, sizeof text, pattern, &local));
}
