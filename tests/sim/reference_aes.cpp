#include "tests/sim/reference_aes.h"

#include <cstring>
#include <stdexcept>

namespace {

uint8_t Multiply(uint8_t a, uint8_t b)
{
    uint8_t result = 0;
    for (int bit = 0; bit < 8; ++bit) {
        if (b & 1) result ^= a;
        const bool carry = a & 0x80;
        a = static_cast<uint8_t>(a << 1);
        if (carry) a ^= 0x1B;
        b >>= 1;
    }
    return result;
}

struct Boxes {
    uint8_t forward[256];
    uint8_t inverse[256];
    Boxes()
    {
        for (int x = 0; x < 256; ++x) {
            uint8_t inv = 0;
            for (int y = 1; y < 256 && x; ++y)
                if (Multiply(static_cast<uint8_t>(x), static_cast<uint8_t>(y)) == 1) { inv = static_cast<uint8_t>(y); break; }
            uint8_t s = 0x63;
            for (int bit = 0; bit < 8; ++bit) {
                const int v = ((inv >> bit) ^ (inv >> ((bit + 4) % 8)) ^ (inv >> ((bit + 5) % 8)) ^
                               (inv >> ((bit + 6) % 8)) ^ (inv >> ((bit + 7) % 8))) & 1;
                s ^= static_cast<uint8_t>(v << bit);
            }
            forward[x] = s;
            inverse[s] = static_cast<uint8_t>(x);
        }
    }
};

const Boxes& Box()
{
    static const Boxes boxes;
    return boxes;
}

// State byte (row r, column c) is block byte 4c + r.
void ShiftRows(uint8_t s[16], bool inverse)
{
    uint8_t t[16];
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r) {
            const int from = inverse ? (c - r + 4) % 4 : (c + r) % 4;
            t[4 * c + r] = s[4 * from + r];
        }
    std::memcpy(s, t, 16);
}

void MixColumns(uint8_t s[16], bool inverse)
{
    const uint8_t m[4] = {static_cast<uint8_t>(inverse ? 14 : 2), static_cast<uint8_t>(inverse ? 11 : 3),
                          static_cast<uint8_t>(inverse ? 13 : 1), static_cast<uint8_t>(inverse ? 9 : 1)};
    for (int c = 0; c < 4; ++c) {
        uint8_t col[4];
        std::memcpy(col, s + 4 * c, 4);
        for (int r = 0; r < 4; ++r)
            s[4 * c + r] = Multiply(col[r], m[0]) ^ Multiply(col[(r + 1) % 4], m[1]) ^
                           Multiply(col[(r + 2) % 4], m[2]) ^ Multiply(col[(r + 3) % 4], m[3]);
    }
}

}  // namespace

ReferenceAes::ReferenceAes(const uint8_t* key, size_t keyLength)
{
    if (keyLength != 16 && keyLength != 32) throw std::invalid_argument("key length");
    const int nk = static_cast<int>(keyLength / 4);
    m_rounds = nk + 6;
    const int words = 4 * (m_rounds + 1);
    std::vector<uint8_t> w(4 * words);
    std::memcpy(w.data(), key, keyLength);
    uint8_t rcon = 1;
    for (int i = nk; i < words; ++i) {
        uint8_t t[4];
        std::memcpy(t, &w[4 * (i - 1)], 4);
        if (i % nk == 0) {
            const uint8_t first = t[0];
            t[0] = Box().forward[t[1]] ^ rcon;
            t[1] = Box().forward[t[2]];
            t[2] = Box().forward[t[3]];
            t[3] = Box().forward[first];
            rcon = Multiply(rcon, 2);
        } else if (nk == 8 && i % nk == 4) {
            for (auto& b : t) b = Box().forward[b];
        }
        for (int k = 0; k < 4; ++k) w[4 * i + k] = w[4 * (i - nk) + k] ^ t[k];
    }
    for (int r = 0; r <= m_rounds; ++r) std::memcpy(m_roundKeys[r], &w[16 * r], 16);
}

void ReferenceAes::EncryptBlock(const uint8_t in[16], uint8_t out[16]) const
{
    uint8_t s[16];
    for (int i = 0; i < 16; ++i) s[i] = in[i] ^ m_roundKeys[0][i];
    for (int round = 1; round <= m_rounds; ++round) {
        for (auto& b : s) b = Box().forward[b];
        ShiftRows(s, false);
        if (round != m_rounds) MixColumns(s, false);
        for (int i = 0; i < 16; ++i) s[i] ^= m_roundKeys[round][i];
    }
    std::memcpy(out, s, 16);
}

void ReferenceAes::DecryptBlock(const uint8_t in[16], uint8_t out[16]) const
{
    uint8_t s[16];
    for (int i = 0; i < 16; ++i) s[i] = in[i] ^ m_roundKeys[m_rounds][i];
    for (int round = m_rounds - 1; round >= 0; --round) {
        ShiftRows(s, true);
        for (auto& b : s) b = Box().inverse[b];
        for (int i = 0; i < 16; ++i) s[i] ^= m_roundKeys[round][i];
        if (round != 0) MixColumns(s, true);
    }
    std::memcpy(out, s, 16);
}

std::vector<uint8_t> ReferenceAes::EncryptCbc(const std::vector<uint8_t>& plain) const
{
    if (plain.size() % 16) throw std::invalid_argument("length");
    std::vector<uint8_t> out(plain.size());
    uint8_t chain[16] = {};
    for (size_t off = 0; off < plain.size(); off += 16) {
        uint8_t block[16];
        for (int i = 0; i < 16; ++i) block[i] = plain[off + i] ^ chain[i];
        EncryptBlock(block, chain);
        std::memcpy(&out[off], chain, 16);
    }
    return out;
}

std::vector<uint8_t> ReferenceAes::DecryptCbc(const std::vector<uint8_t>& cipher) const
{
    if (cipher.size() % 16) throw std::invalid_argument("length");
    std::vector<uint8_t> out(cipher.size());
    uint8_t chain[16] = {};
    for (size_t off = 0; off < cipher.size(); off += 16) {
        DecryptBlock(&cipher[off], &out[off]);
        for (int i = 0; i < 16; ++i) out[off + i] ^= chain[i];
        std::memcpy(chain, &cipher[off], 16);
    }
    return out;
}
