#pragma once
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>

// A fresh folder for one test, removed again with everything in it.
class TempFolder {
public:
    TempFolder() {
        static std::mt19937_64 random{std::random_device{}()};
        // A name nobody else has, taken only if it did not exist.
        do path_ = std::filesystem::temp_directory_path() / ("quelvar-test-" + std::to_string(random() % 1000000000));
        while (!std::filesystem::create_directory(path_));
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

inline void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// The whole file at once (a missing one is empty): tests read workbooks of megabytes.
inline std::string readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    if (in) bytes << in.rdbuf();
    return std::move(bytes).str();
}
