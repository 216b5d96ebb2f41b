#pragma once
#include <ctime>
#include <string>

// Today's local date through a strftime pattern, e.g. "%Y%m%d.log".
inline std::string todayAs(const char* pattern) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char text[64];
    return std::string(text, std::strftime(text, sizeof text, pattern, &local));
}
