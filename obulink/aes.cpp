#include "obulink/aes.h"

#include <cstring>

namespace {

// ---- Tables, computed at compile time from the definitions of the cipher ----

constexpr uint8_t XTime(uint8_t x)
{
    return static_cast<uint8_t>((x << 1) ^ ((x & 0x80) ? 0x1B : 0x00));
}

constexpr uint8_t GfMul(uint8_t a, uint8_t b)
{
    uint8_t product = 0;
    while (b) {
        if (b & 1) product ^= a;
        a = XTime(a);
        b >>= 1;
    }
    return product;
}

constexpr uint8_t GfInverse(uint8_t x)
{
    if (x == 0) return 0;
    // x^254 is the multiplicative inverse in GF(2^8).
    uint8_t result = 1;
    uint8_t base = x;
    for (int exponent = 254; exponent; exponent >>= 1) {
        if (exponent & 1) result = GfMul(result, base);
        base = GfMul(base, base);
    }
    return result;
}

constexpr uint8_t RotateLeft8(uint8_t x, int n)
{
    return static_cast<uint8_t>((x << n) | (x >> (8 - n)));
}

constexpr uint32_t RotateRight32(uint32_t x, int n)
{
    return (x >> n) | (x << (32 - n));
}

constexpr uint32_t Word(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3)
{
    return (uint32_t(b0) << 24) | (uint32_t(b1) << 16) | (uint32_t(b2) << 8) | uint32_t(b3);
}

struct Tables {
    uint8_t sbox[256] = {};
    uint8_t inverseSbox[256] = {};
    uint32_t forward[4][256] = {};     // Te0..Te3: SubBytes, ShiftRows and MixColumns of one byte
    uint32_t inverse[4][256] = {};     // Td0..Td3: the same for the inverse cipher
    uint32_t keyMixColumn[4][256] = {};  // InvMixColumns of one byte of a round-key word
    uint32_t roundConstant[10] = {};
};

constexpr Tables BuildTables()
{
    Tables t;
    for (int x = 0; x < 256; ++x) {
        const uint8_t inv = GfInverse(static_cast<uint8_t>(x));
        const uint8_t s = static_cast<uint8_t>(inv ^ RotateLeft8(inv, 1) ^ RotateLeft8(inv, 2) ^
                                               RotateLeft8(inv, 3) ^ RotateLeft8(inv, 4) ^ 0x63);
        t.sbox[x] = s;
        t.inverseSbox[s] = static_cast<uint8_t>(x);
    }
    for (int x = 0; x < 256; ++x) {
        const uint8_t s = t.sbox[x];
        const uint8_t si = t.inverseSbox[x];
        const uint8_t b = static_cast<uint8_t>(x);
        const uint32_t te = Word(GfMul(s, 2), s, s, GfMul(s, 3));
        const uint32_t td = Word(GfMul(si, 14), GfMul(si, 9), GfMul(si, 13), GfMul(si, 11));
        const uint32_t tk = Word(GfMul(b, 14), GfMul(b, 9), GfMul(b, 13), GfMul(b, 11));
        for (int r = 0; r < 4; ++r) {
            t.forward[r][x] = r ? RotateRight32(te, 8 * r) : te;
            t.inverse[r][x] = r ? RotateRight32(td, 8 * r) : td;
            t.keyMixColumn[r][x] = r ? RotateRight32(tk, 8 * r) : tk;
        }
    }
    uint8_t rc = 1;
    for (int i = 0; i < 10; ++i) {
        t.roundConstant[i] = uint32_t(rc) << 24;
        rc = XTime(rc);
    }
    return t;
}

constexpr Tables kTables = BuildTables();
static_assert(kTables.sbox[0x00] == 0x63 && kTables.sbox[0x53] == 0xED, "S-box");
static_assert(kTables.inverseSbox[0x63] == 0x00, "inverse S-box");
static_assert(kTables.forward[0][0] == 0xC66363A5, "forward table");
static_assert(kTables.inverse[0][0] == 0x51F4A750, "inverse table");
static_assert(kTables.roundConstant[9] == 0x36000000, "round constants");

inline uint32_t LoadBigEndian(const uint8_t* p)
{
    return Word(p[0], p[1], p[2], p[3]);
}

inline void StoreBigEndian(uint32_t w, uint8_t* p)
{
    p[0] = static_cast<uint8_t>(w >> 24);
    p[1] = static_cast<uint8_t>(w >> 16);
    p[2] = static_cast<uint8_t>(w >> 8);
    p[3] = static_cast<uint8_t>(w);
}

inline uint32_t SubWord(uint32_t w)
{
    const uint8_t* s = kTables.sbox;
    return Word(s[w >> 24], s[(w >> 16) & 0xFF], s[(w >> 8) & 0xFF], s[w & 0xFF]);
}

inline uint32_t InvMixColumnOfKeyWord(uint32_t w)
{
    const auto& u = kTables.keyMixColumn;
    return u[0][w >> 24] ^ u[1][(w >> 16) & 0xFF] ^ u[2][(w >> 8) & 0xFF] ^ u[3][w & 0xFF];
}

[[noreturn]] void Raise(const char* text)
{
    throw std::runtime_error(text);
}

}  // namespace

CAESClass::CAESClass() = default;
CAESClass::~CAESClass() = default;

void CAESClass::MakeKey(const uint8_t* key, const uint8_t* chain, int keyLength, int /*blockSize*/)
{
    if (!key) Raise(kEmptyKey);
    if (keyLength != 16 && keyLength != 32) Raise(kIncorrectKeyLength);

    m_nKeyLength = keyLength;
    m_nBlockSize = kBlockSize;
    std::memcpy(m_InitialChain, chain, kBlockSize);
    std::memcpy(m_WorkChain, chain, kBlockSize);
    m_nRounds = keyLength == 16 ? 10 : 14;
    std::memset(m_EncryptKeys, 0, sizeof m_EncryptKeys);
    std::memset(m_DecryptKeys, 0, sizeof m_DecryptKeys);

    const int keyWords = keyLength / 4;
    for (int i = 0; i < keyWords; ++i) m_KeyWords[i] = LoadBigEndian(key + 4 * i);

    // The FIPS-197 key expansion; the last Nk words are kept in a ring.
    uint32_t expanded[4 * (kMaxRounds + 1)] = {};
    const int totalWords = 4 * (m_nRounds + 1);
    for (int i = 0; i < totalWords; ++i) {
        uint32_t w;
        if (i < keyWords) {
            w = m_KeyWords[i];
        } else {
            uint32_t temp = expanded[i - 1];
            if (i % keyWords == 0)
                temp = SubWord((temp << 8) | (temp >> 24)) ^ kTables.roundConstant[i / keyWords - 1];
            else if (keyWords > 6 && i % keyWords == 4)
                temp = SubWord(temp);
            w = expanded[i - keyWords] ^ temp;
        }
        expanded[i] = w;
        m_EncryptKeys[i / 4][i % 4] = w;
        m_DecryptKeys[m_nRounds - i / 4][i % 4] = w;
    }
    // The equivalent inverse cipher: InvMixColumns on the inner round keys.
    for (int r = 1; r < m_nRounds; ++r)
        for (int c = 0; c < 4; ++c) m_DecryptKeys[r][c] = InvMixColumnOfKeyWord(m_DecryptKeys[r][c]);

    m_bKeyed = true;
}

void CAESClass::RequireKey() const
{
    if (!m_bKeyed) Raise(kNotInitialized);
}

void CAESClass::EncryptBlock(const uint8_t* in, uint8_t* out)
{
    DefEncryptBlock(in, out);
}

void CAESClass::DecryptBlock(const uint8_t* in, uint8_t* out)
{
    DefDecryptBlock(in, out);
}

void CAESClass::DefEncryptBlock(const uint8_t* in, uint8_t* out)
{
    RequireKey();
    const auto& te = kTables.forward;
    const uint8_t* s = kTables.sbox;
    uint32_t s0 = LoadBigEndian(in) ^ m_EncryptKeys[0][0];
    uint32_t s1 = LoadBigEndian(in + 4) ^ m_EncryptKeys[0][1];
    uint32_t s2 = LoadBigEndian(in + 8) ^ m_EncryptKeys[0][2];
    uint32_t s3 = LoadBigEndian(in + 12) ^ m_EncryptKeys[0][3];
    for (int r = 1; r < m_nRounds; ++r) {
        const uint32_t* k = m_EncryptKeys[r];
        const uint32_t t0 = te[0][s0 >> 24] ^ te[1][(s1 >> 16) & 0xFF] ^ te[2][(s2 >> 8) & 0xFF] ^ te[3][s3 & 0xFF] ^ k[0];
        const uint32_t t1 = te[0][s1 >> 24] ^ te[1][(s2 >> 16) & 0xFF] ^ te[2][(s3 >> 8) & 0xFF] ^ te[3][s0 & 0xFF] ^ k[1];
        const uint32_t t2 = te[0][s2 >> 24] ^ te[1][(s3 >> 16) & 0xFF] ^ te[2][(s0 >> 8) & 0xFF] ^ te[3][s1 & 0xFF] ^ k[2];
        const uint32_t t3 = te[0][s3 >> 24] ^ te[1][(s0 >> 16) & 0xFF] ^ te[2][(s1 >> 8) & 0xFF] ^ te[3][s2 & 0xFF] ^ k[3];
        s0 = t0; s1 = t1; s2 = t2; s3 = t3;
    }
    const uint32_t* k = m_EncryptKeys[m_nRounds];
    StoreBigEndian(Word(s[s0 >> 24], s[(s1 >> 16) & 0xFF], s[(s2 >> 8) & 0xFF], s[s3 & 0xFF]) ^ k[0], out);
    StoreBigEndian(Word(s[s1 >> 24], s[(s2 >> 16) & 0xFF], s[(s3 >> 8) & 0xFF], s[s0 & 0xFF]) ^ k[1], out + 4);
    StoreBigEndian(Word(s[s2 >> 24], s[(s3 >> 16) & 0xFF], s[(s0 >> 8) & 0xFF], s[s1 & 0xFF]) ^ k[2], out + 8);
    StoreBigEndian(Word(s[s3 >> 24], s[(s0 >> 16) & 0xFF], s[(s1 >> 8) & 0xFF], s[s2 & 0xFF]) ^ k[3], out + 12);
}

void CAESClass::DefDecryptBlock(const uint8_t* in, uint8_t* out)
{
    RequireKey();
    const auto& td = kTables.inverse;
    const uint8_t* si = kTables.inverseSbox;
    uint32_t s0 = LoadBigEndian(in) ^ m_DecryptKeys[0][0];
    uint32_t s1 = LoadBigEndian(in + 4) ^ m_DecryptKeys[0][1];
    uint32_t s2 = LoadBigEndian(in + 8) ^ m_DecryptKeys[0][2];
    uint32_t s3 = LoadBigEndian(in + 12) ^ m_DecryptKeys[0][3];
    for (int r = 1; r < m_nRounds; ++r) {
        const uint32_t* k = m_DecryptKeys[r];
        const uint32_t t0 = td[0][s0 >> 24] ^ td[1][(s3 >> 16) & 0xFF] ^ td[2][(s2 >> 8) & 0xFF] ^ td[3][s1 & 0xFF] ^ k[0];
        const uint32_t t1 = td[0][s1 >> 24] ^ td[1][(s0 >> 16) & 0xFF] ^ td[2][(s3 >> 8) & 0xFF] ^ td[3][s2 & 0xFF] ^ k[1];
        const uint32_t t2 = td[0][s2 >> 24] ^ td[1][(s1 >> 16) & 0xFF] ^ td[2][(s0 >> 8) & 0xFF] ^ td[3][s3 & 0xFF] ^ k[2];
        const uint32_t t3 = td[0][s3 >> 24] ^ td[1][(s2 >> 16) & 0xFF] ^ td[2][(s1 >> 8) & 0xFF] ^ td[3][s0 & 0xFF] ^ k[3];
        s0 = t0; s1 = t1; s2 = t2; s3 = t3;
    }
    const uint32_t* k = m_DecryptKeys[m_nRounds];
    StoreBigEndian(Word(si[s0 >> 24], si[(s3 >> 16) & 0xFF], si[(s2 >> 8) & 0xFF], si[s1 & 0xFF]) ^ k[0], out);
    StoreBigEndian(Word(si[s1 >> 24], si[(s0 >> 16) & 0xFF], si[(s3 >> 8) & 0xFF], si[s2 & 0xFF]) ^ k[1], out + 4);
    StoreBigEndian(Word(si[s2 >> 24], si[(s1 >> 16) & 0xFF], si[(s0 >> 8) & 0xFF], si[s3 & 0xFF]) ^ k[2], out + 8);
    StoreBigEndian(Word(si[s3 >> 24], si[(s2 >> 16) & 0xFF], si[(s1 >> 8) & 0xFF], si[s0 & 0xFF]) ^ k[3], out + 12);
}

void CAESClass::Xor(uint8_t* buffer, const uint8_t* chain)
{
    RequireKey();
    for (int i = 0; i < kBlockSize; ++i) buffer[i] ^= chain[i];
}

void CAESClass::Encrypt(const uint8_t* in, uint8_t* out, size_t length, int /*mode*/)
{
    RequireKey();
    if (length % kBlockSize != 0) Raise(kNotBlockMultiple);
    std::memcpy(m_WorkChain, m_InitialChain, kBlockSize);
    uint8_t block[kBlockSize];
    for (size_t offset = 0; offset < length; offset += kBlockSize) {
        std::memcpy(block, in + offset, kBlockSize);
        Xor(block, m_WorkChain);
        EncryptBlock(block, out + offset);
        std::memcpy(m_WorkChain, out + offset, kBlockSize);
    }
}

void CAESClass::Decrypt(const uint8_t* in, uint8_t* out, size_t length, int /*mode*/)
{
    RequireKey();
    if (length == 0 || length % kBlockSize != 0) Raise(kNotBlockMultiple);
    std::memcpy(m_WorkChain, m_InitialChain, kBlockSize);
    for (size_t offset = 0; offset < length; offset += kBlockSize) {
        DecryptBlock(in + offset, out + offset);
        Xor(out + offset, m_WorkChain);
        std::memcpy(m_WorkChain, in + offset, kBlockSize);
    }
}
