// A small, plain AES for the device simulators: the cipher of FIPS-197 done
// state-by-state (SubBytes, ShiftRows, MixColumns, AddRoundKey) with no
// tables beyond the S-box it derives itself, so that the simulators never
// share a table or a shortcut with the system's CAESClass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class ReferenceAes {
public:
    // key: 16 or 32 bytes.
    ReferenceAes(const uint8_t* key, size_t keyLength);

    void EncryptBlock(const uint8_t in[16], uint8_t out[16]) const;
    void DecryptBlock(const uint8_t in[16], uint8_t out[16]) const;

    // CBC from a zero chaining block; the length must be a multiple of 16.
    std::vector<uint8_t> EncryptCbc(const std::vector<uint8_t>& plain) const;
    std::vector<uint8_t> DecryptCbc(const std::vector<uint8_t>& cipher) const;

private:
    int m_rounds;
    uint8_t m_roundKeys[15][16];
};
