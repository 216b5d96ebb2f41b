// AES-128 ECB throughput of our cipher beside OpenSSL's, with and without the
// hardware AES instructions. Run it plainly as build/bench/cipher_bench.
// libcrypto reads its CPU capability mask once, when it initialises, so the
// program times OpenSSL with AES-NI itself and then runs itself a second time
// as `OPENSSL_ia32cap=~0x200000200000000 build/bench/cipher_bench --no-aesni
// ...` for the figures without it (the mask clears AES-NI and PCLMULQDQ).

#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "net/aes_cipher.h"

namespace {

constexpr std::size_t kBufferBytes = 64u << 20;
constexpr int kRuns = 3;
constexpr const char* kNoAesNiMask = "~0x200000200000000";

using Bytes = std::vector<std::uint8_t>;

struct Rates {
    double encrypt = 0;
    double decrypt = 0;
};

// Best of several runs, so a stray interruption does not count.
double megabytesPerSecond(const std::function<void()>& run) {
    double best = 0;
    for (int i = 0; i < kRuns; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
        best = std::max(best, static_cast<double>(kBufferBytes) / 1e6 / seconds.count());
    }
    return best;
}

Bytes testData() {
    Bytes data(kBufferBytes);
    std::mt19937 random(1809);
    for (auto& b : data) b = static_cast<std::uint8_t>(random());
    return data;
}

const Bytes kKey = {0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6, 0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f, 0x3c};

// The whole buffer through one EVP update, as a bulk caller would.
bool opensslRun(bool encrypt, const Bytes& in, Bytes& out) {
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    int written = 0;
    return ctx &&
           EVP_CipherInit_ex(ctx.get(), EVP_aes_128_ecb(), nullptr, kKey.data(), nullptr, encrypt ? 1 : 0) == 1 &&
           EVP_CIPHER_CTX_set_padding(ctx.get(), 0) == 1 &&
           EVP_CipherUpdate(ctx.get(), out.data(), &written, in.data(), static_cast<int>(in.size())) == 1 &&
           static_cast<std::size_t>(written) == in.size();
}

bool measureOpenssl(const Bytes& data, Rates& rates) {
    Bytes out(data.size());
    bool ok = true;
    rates.encrypt = megabytesPerSecond([&] { ok = opensslRun(true, data, out) && ok; });
    rates.decrypt = megabytesPerSecond([&] { ok = opensslRun(false, data, out) && ok; });
    return ok;
}

bool measureOurs(const Bytes& data, Rates& rates) {
    quelvar::AesCipher cipher;
    quelvar::makeKey(cipher, kKey.data(), 128);
    Bytes work = data;
    rates.encrypt = megabytesPerSecond([&] { quelvar::encryptBuffer(cipher, work.data(), work.size()); });
    rates.decrypt = megabytesPerSecond([&] { quelvar::decryptBuffer(cipher, work.data(), work.size()); });

    // A fast wrong cipher proves nothing: the result must be OpenSSL's.
    work = data;
    quelvar::encryptBuffer(cipher, work.data(), work.size());
    Bytes reference(data.size());
    return opensslRun(true, data, reference) && work == reference;
}

void printRow(const char* name, const Rates& r) { std::printf("%-28s %12.1f %12.1f\n", name, r.encrypt, r.decrypt); }

void printRatio(const char* name, const Rates& theirs, const Rates& ours) {
    std::printf("%-28s %11.2fx %11.2fx\n", name, theirs.encrypt / ours.encrypt, theirs.decrypt / ours.decrypt);
}

std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

}  // namespace

int main(int argc, char** argv) {
    const Bytes data = testData();

    // Second run: only OpenSSL without AES-NI, then the comparison with the
    // figures the first run handed over.
    if (argc == 6 && std::strcmp(argv[1], "--no-aesni") == 0) {
        const Rates ours{std::atof(argv[2]), std::atof(argv[3])};
        const Rates withAesNi{std::atof(argv[4]), std::atof(argv[5])};
        Rates withoutAesNi;
        if (!measureOpenssl(data, withoutAesNi)) {
            std::fprintf(stderr, "OpenSSL AES-128 ECB failed\n");
            return 1;
        }
        printRow("OpenSSL without AES-NI", withoutAesNi);
        std::printf("\nOpenSSL relative to ours\n");
        printRatio("without AES-NI", withoutAesNi, ours);
        printRatio("with AES-NI", withAesNi, ours);
        return 0;
    }

    if (std::getenv("OPENSSL_ia32cap") != nullptr) {
        std::fprintf(stderr, "note: OPENSSL_ia32cap is set; the \"with AES-NI\" row runs under it\n");
    }

    Rates ours;
    Rates withAesNi;
    if (!measureOurs(data, ours)) {
        std::fprintf(stderr, "our AES-128 ECB differs from OpenSSL's\n");
        return 1;
    }
    if (!measureOpenssl(data, withAesNi)) {
        std::fprintf(stderr, "OpenSSL AES-128 ECB failed\n");
        return 1;
    }

    std::printf("AES-128 ECB over %zu MiB, best of %d runs, MB/s (10^6 bytes)\n", kBufferBytes >> 20, kRuns);
    std::printf("%-28s %12s %12s\n", "", "encrypt", "decrypt");
    printRow("ours", ours);
    printRow("OpenSSL with AES-NI", withAesNi);
    std::fflush(stdout);

    const std::string command = std::string("OPENSSL_ia32cap=") + kNoAesNiMask + " " + shellQuoted(argv[0]) +
                                " --no-aesni " + std::to_string(ours.encrypt) + " " + std::to_string(ours.decrypt) +
                                " " + std::to_string(withAesNi.encrypt) + " " + std::to_string(withAesNi.decrypt);
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "the run without AES-NI failed: %s\n", command.c_str());
        return 1;
    }
    return 0;
}
