#pragma once
#include <cstdlib>
#include <ctime>
#include <string>

// Local time of this process, and of the collectors it starts, set to a zone
// for the life of the object. A zone like "CST-8" (China, UTC+8) reads the
// same to glibc and to Windows' C library; zone names work on POSIX only.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) {
        const char* current = std::getenv("TZ");
        hadZone_ = current != nullptr;
        if (hadZone_) saved_ = current;
        set(zone);
    }
    ~ScopedTimeZone() { set(hadZone_ ? saved_.c_str() : nullptr); }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    static void set(const char* zone) {
#ifdef _WIN32
        _putenv_s("TZ", zone != nullptr ? zone : "");
        _tzset();
#else
        if (zone != nullptr) setenv("TZ", zone, 1);
        else unsetenv("TZ");
        tzset();
#endif
    }

    std::string saved_;
    bool hadZone_ = false;
};
