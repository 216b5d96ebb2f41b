#include "net/aes_cipher.h"

#include <bit>
#include <string>

namespace quelvar {
namespace {

using Byte = std::uint8_t;
using Word = std::uint32_t;
using ByteTable = std::array<Byte, 256>;
using WordTable = std::array<Word, 256>;

// Multiplication by x in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1.
constexpr Byte xtime(Byte b) { return static_cast<Byte>((b << 1) ^ ((b & 0x80) != 0 ? 0x1b : 0x00)); }

constexpr Byte gfMul(Byte a, Byte b) {
    Byte product = 0;
    for (; b != 0; b = static_cast<Byte>(b >> 1), a = xtime(a)) {
        if ((b & 1) != 0) product = static_cast<Byte>(product ^ a);
    }
    return product;
}

constexpr Word packWord(Byte b0, Byte b1, Byte b2, Byte b3) {
    return (Word{b0} << 24) | (Word{b1} << 16) | (Word{b2} << 8) | Word{b3};
}

// Everything derives from the S-box, which derives from the field: so the
// tables cannot disagree with each other or with the maths.
struct Tables {
    ByteTable sbox{};
    ByteTable invSbox{};
    std::array<WordTable, 4> encrypt{};  // SubBytes + MixColumns, one table per row
    std::array<WordTable, 4> decrypt{};  // InvSubBytes + InvMixColumns
    std::array<Byte, 10> roundConstants{};
};

constexpr Tables buildTables() {
    Tables t;

    // 3 generates the multiplicative group, so inverses come from logarithms.
    ByteTable power{};
    ByteTable logarithm{};
    Byte x = 1;
    for (int i = 0; i < 255; ++i) {
        power[static_cast<std::size_t>(i)] = x;
        logarithm[x] = static_cast<Byte>(i);
        x = gfMul(x, 3);
    }

    for (int v = 0; v < 256; ++v) {
        const Byte inverse = v == 0 ? Byte{0} : power[(255 - logarithm[static_cast<std::size_t>(v)]) % 255];
        const Byte s = static_cast<Byte>(inverse ^ std::rotl(inverse, 1) ^ std::rotl(inverse, 2) ^
                                         std::rotl(inverse, 3) ^ std::rotl(inverse, 4) ^ 0x63);
        t.sbox[static_cast<std::size_t>(v)] = s;
        t.invSbox[s] = static_cast<Byte>(v);
    }

    for (std::size_t v = 0; v < 256; ++v) {
        const Byte s = t.sbox[v];
        const Byte r = t.invSbox[v];
        const Word e = packWord(gfMul(s, 2), s, s, gfMul(s, 3));
        const Word d = packWord(gfMul(r, 14), gfMul(r, 9), gfMul(r, 13), gfMul(r, 11));
        for (std::size_t row = 0; row < 4; ++row) {
            t.encrypt[row][v] = std::rotr(e, static_cast<int>(8 * row));
            t.decrypt[row][v] = std::rotr(d, static_cast<int>(8 * row));
        }
    }

    Byte rc = 1;
    for (Byte& constant : t.roundConstants) {
        constant = rc;
        rc = xtime(rc);
    }
    return t;
}

constexpr Tables kTables = buildTables();
constexpr const ByteTable& kSbox = kTables.sbox;
constexpr const ByteTable& kInvSbox = kTables.invSbox;

// Spot checks against FIPS-197 figures 7 and 14 and the round constant list.
static_assert(kSbox[0x00] == 0x63 && kSbox[0x53] == 0xed && kSbox[0xff] == 0x16);
static_assert(kInvSbox[0x00] == 0x52 && kInvSbox[0xed] == 0x53 && kInvSbox[0x16] == 0xff);
static_assert(kTables.roundConstants[9] == 0x36);

constexpr std::size_t byte0(Word w) { return w >> 24; }
constexpr std::size_t byte1(Word w) { return (w >> 16) & 0xff; }
constexpr std::size_t byte2(Word w) { return (w >> 8) & 0xff; }
constexpr std::size_t byte3(Word w) { return w & 0xff; }

// One output column of a full round; rows 0 to 3 come from input columns a
// to d, which the caller picks as (Inv)ShiftRows places them.
Word roundColumn(const std::array<WordTable, 4>& table, Word a, Word b, Word c, Word d) {
    return table[0][byte0(a)] ^ table[1][byte1(b)] ^ table[2][byte2(c)] ^ table[3][byte3(d)];
}

// The same for the last round, which has no column mixing.
Word lastRoundColumn(const ByteTable& box, Word a, Word b, Word c, Word d) {
    return packWord(box[byte0(a)], box[byte1(b)], box[byte2(c)], box[byte3(d)]);
}

Word load(const Byte* p) { return packWord(p[0], p[1], p[2], p[3]); }

void store(Word w, Byte* p) {
    p[0] = static_cast<Byte>(w >> 24);
    p[1] = static_cast<Byte>(w >> 16);
    p[2] = static_cast<Byte>(w >> 8);
    p[3] = static_cast<Byte>(w);
}

Word subWord(Word w) { return lastRoundColumn(kSbox, w, w, w, w); }

// The decryption tables hold InvMixColumns of InvSubBytes, so feeding them
// S-box values leaves InvMixColumns alone.
Word invMixColumn(Word w) {
    const Word s = subWord(w);
    return roundColumn(kTables.decrypt, s, s, s, s);
}

}  // namespace

Status makeKey(AesCipher& cipher, const std::uint8_t* key, int keyBits) {
    if (keyBits != 128 && keyBits != 192 && keyBits != 256)
        return Status::error(Status::Code::unsupported, "make key", std::to_string(keyBits) + " bits",
                             "AES takes keys of 128, 192 or 256 bits");

    const int nk = keyBits / 32;
    const int rounds = nk + 6;
    const int words = 4 * (rounds + 1);
    Word* w = cipher.encryptKeys.data();

    for (int i = 0; i < nk; ++i) w[i] = load(key + 4 * i);
    for (int i = nk; i < words; ++i) {
        Word temp = w[i - 1];
        if (i % nk == 0) {
            const Byte rcon = kTables.roundConstants[static_cast<std::size_t>(i / nk - 1)];
            temp = subWord(std::rotl(temp, 8)) ^ (Word{rcon} << 24);
        } else if (nk > 6 && i % nk == 4) {
            temp = subWord(temp);
        }
        w[i] = w[i - nk] ^ temp;
    }

    Word* d = cipher.decryptKeys.data();
    for (int round = 0; round <= rounds; ++round) {
        const Word* from = w + 4 * (rounds - round);
        Word* to = d + 4 * round;
        const bool inner = round != 0 && round != rounds;
        for (int j = 0; j < 4; ++j) to[j] = inner ? invMixColumn(from[j]) : from[j];
    }

    cipher.rounds = rounds;
    return {};
}

void encryptBlock(const AesCipher& cipher, const std::uint8_t* in, std::uint8_t* out) {
    const Word* rk = cipher.encryptKeys.data();
    Word s0 = load(in) ^ rk[0];
    Word s1 = load(in + 4) ^ rk[1];
    Word s2 = load(in + 8) ^ rk[2];
    Word s3 = load(in + 12) ^ rk[3];

    // ShiftRows moves row r left by r, so column c takes row r from c + r.
    for (int round = 1; round < cipher.rounds; ++round) {
        rk += 4;
        const Word t0 = roundColumn(kTables.encrypt, s0, s1, s2, s3) ^ rk[0];
        const Word t1 = roundColumn(kTables.encrypt, s1, s2, s3, s0) ^ rk[1];
        const Word t2 = roundColumn(kTables.encrypt, s2, s3, s0, s1) ^ rk[2];
        const Word t3 = roundColumn(kTables.encrypt, s3, s0, s1, s2) ^ rk[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }

    rk = cipher.encryptKeys.data() + 4 * cipher.rounds;
    store(lastRoundColumn(kSbox, s0, s1, s2, s3) ^ rk[0], out);
    store(lastRoundColumn(kSbox, s1, s2, s3, s0) ^ rk[1], out + 4);
    store(lastRoundColumn(kSbox, s2, s3, s0, s1) ^ rk[2], out + 8);
    store(lastRoundColumn(kSbox, s3, s0, s1, s2) ^ rk[3], out + 12);
}

void decryptBlock(const AesCipher& cipher, const std::uint8_t* in, std::uint8_t* out) {
    const Word* rk = cipher.decryptKeys.data();
    Word s0 = load(in) ^ rk[0];
    Word s1 = load(in + 4) ^ rk[1];
    Word s2 = load(in + 8) ^ rk[2];
    Word s3 = load(in + 12) ^ rk[3];

    // InvShiftRows moves row r right by r, so column c takes row r from c - r.
    for (int round = 1; round < cipher.rounds; ++round) {
        rk += 4;
        const Word t0 = roundColumn(kTables.decrypt, s0, s3, s2, s1) ^ rk[0];
        const Word t1 = roundColumn(kTables.decrypt, s1, s0, s3, s2) ^ rk[1];
        const Word t2 = roundColumn(kTables.decrypt, s2, s1, s0, s3) ^ rk[2];
        const Word t3 = roundColumn(kTables.decrypt, s3, s2, s1, s0) ^ rk[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }

    rk = cipher.decryptKeys.data() + 4 * cipher.rounds;
    store(lastRoundColumn(kInvSbox, s0, s3, s2, s1) ^ rk[0], out);
    store(lastRoundColumn(kInvSbox, s1, s0, s3, s2) ^ rk[1], out + 4);
    store(lastRoundColumn(kInvSbox, s2, s1, s0, s3) ^ rk[2], out + 8);
    store(lastRoundColumn(kInvSbox, s3, s2, s1, s0) ^ rk[3], out + 12);
}

void encryptBuffer(const AesCipher& cipher, std::uint8_t* buffer, std::size_t length) {
    for (std::size_t offset = 0; offset < length; offset += 16) {
        encryptBlock(cipher, buffer + offset, buffer + offset);
    }
}

void decryptBuffer(const AesCipher& cipher, std::uint8_t* buffer, std::size_t length) {
    for (std::size_t offset = 0; offset < length; offset += 16) {
        decryptBlock(cipher, buffer + offset, buffer + offset);
    }
}

}  // namespace quelvar
