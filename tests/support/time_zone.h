#pragma once
#include <cstdlib>
#include <ctime>
#include <string>

// Local time of this process set to a zone for the life of the object.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) {
        const char* current = std::getenv("TZ");
        hadZone_ = current != nullptr;
        if (hadZone_) saved_ = current;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (hadZone_) setenv("TZ", saved_.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    std::string saved_;
    bool hadZone_ = false;
};
