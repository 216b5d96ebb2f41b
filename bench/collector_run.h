#pragma once
// A collector started for a benchmark: a temporary program folder with a
// copy of build/quelvar, in the network of the calling process.
#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

class CollectorRun {
public:
    // `wrapper` runs the collector under another program (e.g. strace);
    // `prepare` lays further files into its folder before it starts;
    // `executable` is another build of it than build/quelvar.
    explicit CollectorRun(const std::string& configuration, const std::vector<std::string>& wrapper = {},
                          const std::function<void(const std::filesystem::path&)>& prepare = {},
                          const std::string& executable = {});
    ~CollectorRun();
    CollectorRun(const CollectorRun&) = delete;
    CollectorRun& operator=(const CollectorRun&) = delete;

    const std::filesystem::path& folder() const { return folder_; }
    // The collector's own process (under a wrapper, the wrapper's child).
    pid_t process() const;
    long residentKilobytes(bool peak) const;
    long openDescriptors() const;
    // Data lines (no headers) in the switches' files of one kind, e.g.
    // ("old", ".txt").
    long filedLines(const std::string& subFolder, const std::string& extension) const;

private:
    std::filesystem::path folder_;
    pid_t spawned_ = -1;
};

// A UDP socket of the benchmark, connected to 127.0.0.1:port.
int connectedSocket(int port);

// AES-128 ECB under the collector's key, by OpenSSL.
std::string encipher(const std::string& gbkText);
std::string decipher(const std::string& datagram);

double percentile(std::vector<double> values, double share);
