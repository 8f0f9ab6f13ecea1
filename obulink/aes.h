// CAESClass: the system's one block cipher. AES (Rijndael with a 16-byte
// block) with 16- or 32-byte keys, in CBC mode without padding, table-driven.
//
// Use: key a fresh object with MakeKey (key length 16 or 32, a 16-byte
// chaining block, normally all zero), then run one Encrypt or Decrypt (or one
// block operation). Every Encrypt and Decrypt starts again from the initial
// chaining block given to MakeKey, so two calls are two independent CBC runs.
//
// Failures are raised as std::runtime_error carrying one of the four texts
// below; a failed call leaves the object as it was. Callers of the secure
// exchange check lengths before they call, so that a device can never make the
// cipher raise (see secure_exchange.h).
#pragma once

#include <cstdint>
#include <stdexcept>

class CAESClass {
public:
    static constexpr int kBlockSize = 16;
    static constexpr const char* kEmptyKey = "Empty key";
    static constexpr const char* kIncorrectKeyLength = "Incorrect key length";
    static constexpr const char* kNotInitialized = "Object not Initialized";
    static constexpr const char* kNotBlockMultiple = "Data not multiple of Block Size";

    CAESClass();
    virtual ~CAESClass();

    // Builds both round-key schedules from `key` (`keyLength` 16 or 32 bytes)
    // and takes the first 16 bytes of `chain` as the initial chaining block.
    // The block size argument is not read: the block is always 16 bytes.
    void MakeKey(const uint8_t* key, const uint8_t* chain, int keyLength, int blockSize = kBlockSize);

    // One block (16 bytes) under the schedule; `in` and `out` must not overlap.
    void EncryptBlock(const uint8_t* in, uint8_t* out);
    void DecryptBlock(const uint8_t* in, uint8_t* out);
    void DefEncryptBlock(const uint8_t* in, uint8_t* out);
    void DefDecryptBlock(const uint8_t* in, uint8_t* out);

    // buffer[i] ^= chain[i] for the 16 bytes of a block.
    void Xor(uint8_t* buffer, const uint8_t* chain);

    // CBC over `length` bytes from the initial chaining block. `mode` is
    // accepted and not read. Encrypt takes any multiple of 16 (0 writes
    // nothing); Decrypt refuses 0. Exactly `length` bytes are read and written.
    void Encrypt(const uint8_t* in, uint8_t* out, size_t length, int mode = 0);
    void Decrypt(const uint8_t* in, uint8_t* out, size_t length, int mode = 0);

private:
    static constexpr int kMaxRounds = 14;
    static constexpr int kMaxKeyWords = 8;

    void RequireKey() const;

    bool m_bKeyed = false;
    uint32_t m_EncryptKeys[kMaxRounds + 1][kMaxKeyWords] = {};
    uint32_t m_DecryptKeys[kMaxRounds + 1][kMaxKeyWords] = {};
    int m_nKeyLength = 0;
    int m_nBlockSize = kBlockSize;
    int m_nRounds = 0;
    uint8_t m_InitialChain[32] = {};
    uint8_t m_WorkChain[32] = {};
    uint32_t m_KeyWords[kMaxKeyWords] = {};
};
