#include "obulink/aes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "tests/sim/reference_aes.h"

namespace {

std::vector<uint8_t> Hex(const std::string& text)
{
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < text.size(); i += 2) bytes.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return bytes;
}

const uint8_t kZero[16] = {};

std::string ThrownText(const std::function<void()>& action)
{
    try {
        action();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(nothing raised)";
}

TEST(Aes, Fips197ExampleVectors)
{
    const auto plain = Hex("00112233445566778899aabbccddeeff");
    struct Case { const char* key; const char* cipher; } cases[] = {
        {"000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a"},
        {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", "8ea2b7ca516745bfeafc49904b496089"},
    };
    for (const auto& c : cases) {
        const auto key = Hex(c.key);
        CAESClass aes;
        aes.MakeKey(key.data(), kZero, static_cast<int>(key.size()), 16);
        uint8_t out[16], back[16];
        aes.EncryptBlock(plain.data(), out);
        EXPECT_EQ(std::vector<uint8_t>(out, out + 16), Hex(c.cipher)) << c.key;
        aes.DecryptBlock(out, back);
        EXPECT_EQ(std::vector<uint8_t>(back, back + 16), plain);
        // With the zero chaining block one CBC block is the plain block cipher.
        uint8_t cbc[16];
        aes.Encrypt(plain.data(), cbc, 16);
        EXPECT_EQ(0, std::memcmp(cbc, out, 16));
    }
}

TEST(Aes, Sp80038aCbcVectors)
{
    const auto iv = Hex("000102030405060708090a0b0c0d0e0f");
    const auto plain = Hex("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
                           "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
    struct Case { const char* key; const char* cipher; } cases[] = {
        {"2b7e151628aed2a6abf7158809cf4f3c",
         "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
         "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7"},
        {"603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
         "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
         "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b"},
    };
    for (const auto& c : cases) {
        const auto key = Hex(c.key);
        CAESClass aes;
        aes.MakeKey(key.data(), iv.data(), static_cast<int>(key.size()), 16);
        std::vector<uint8_t> out(plain.size()), back(plain.size());
        aes.Encrypt(plain.data(), out.data(), plain.size(), 1);
        EXPECT_EQ(out, Hex(c.cipher)) << c.key;
        aes.Decrypt(out.data(), back.data(), out.size(), 1);
        EXPECT_EQ(back, plain);
        // Each call starts again from the initial chaining block.
        std::vector<uint8_t> again(plain.size());
        aes.Encrypt(plain.data(), again.data(), plain.size());
        EXPECT_EQ(again, out);
    }
}

TEST(Aes, AgreesWithTheSimulatorsPlainCipherOnRandomData)
{
    std::mt19937 gen(7);
    for (int keyLength : {16, 32}) {
        for (int run = 0; run < 20; ++run) {
            std::vector<uint8_t> key(keyLength), plain(16 * (1 + run % 6));
            for (auto& b : key) b = static_cast<uint8_t>(gen());
            for (auto& b : plain) b = static_cast<uint8_t>(gen());
            CAESClass aes;
            aes.MakeKey(key.data(), kZero, keyLength);
            std::vector<uint8_t> out(plain.size());
            aes.Encrypt(plain.data(), out.data(), plain.size());
            EXPECT_EQ(out, ReferenceAes(key.data(), key.size()).EncryptCbc(plain));
        }
    }
}

TEST(Aes, RefusesBadKeysWithItsTexts)
{
    const uint8_t key[32] = {1};
    CAESClass aes;
    EXPECT_EQ(ThrownText([&] { aes.MakeKey(nullptr, kZero, 24); }), "Empty key");  // before the length
    EXPECT_EQ(ThrownText([&] { aes.MakeKey(key, kZero, 24); }), "Incorrect key length");
    EXPECT_EQ(ThrownText([&] { aes.MakeKey(key, kZero, 0); }), "Incorrect key length");
    // A failed MakeKey leaves the object unkeyed...
    uint8_t block[16] = {}, out[16];
    EXPECT_EQ(ThrownText([&] { aes.EncryptBlock(block, out); }), "Object not Initialized");
    // ...and a keyed one keyed, with its schedule.
    aes.MakeKey(key, kZero, 16);
    uint8_t before[16];
    aes.EncryptBlock(block, before);
    EXPECT_EQ(ThrownText([&] { aes.MakeKey(key, kZero, 20); }), "Incorrect key length");
    aes.EncryptBlock(block, out);
    EXPECT_EQ(0, std::memcmp(before, out, 16));
}

TEST(Aes, EveryOperationNeedsAKey)
{
    CAESClass aes;
    uint8_t a[32] = {}, b[32] = {};
    EXPECT_EQ(ThrownText([&] { aes.EncryptBlock(a, b); }), "Object not Initialized");
    EXPECT_EQ(ThrownText([&] { aes.DecryptBlock(a, b); }), "Object not Initialized");
    EXPECT_EQ(ThrownText([&] { aes.Xor(a, b); }), "Object not Initialized");
    EXPECT_EQ(ThrownText([&] { aes.Encrypt(a, b, 16); }), "Object not Initialized");
    EXPECT_EQ(ThrownText([&] { aes.Decrypt(a, b, 16); }), "Object not Initialized");
    EXPECT_EQ(ThrownText([&] { aes.Encrypt(a, b, 0); }), "Object not Initialized");
}

TEST(Aes, LengthRules)
{
    const uint8_t key[32] = {9};
    CAESClass aes;
    aes.MakeKey(key, kZero, 32, 16);
    uint8_t in[128] = {}, out[128];
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(ThrownText([&] { aes.Encrypt(in, out, 15); }), "Data not multiple of Block Size");
    EXPECT_EQ(ThrownText([&] { aes.Decrypt(in, out, 0); }), "Data not multiple of Block Size");
    EXPECT_EQ(ThrownText([&] { aes.Decrypt(in, out, 33); }), "Data not multiple of Block Size");
    aes.Encrypt(in, out, 0);  // nothing raised, nothing written
    EXPECT_EQ(out[0], 0xEE);
    aes.Encrypt(in, out, 80);
    for (int i = 80; i < 96; ++i) EXPECT_EQ(out[i], 0xEE) << i;
}

TEST(Aes, ReadsNoInputPastTheLength)
{
    // 80 bytes at the very end of a heap block: a read past them is a
    // sanitizer finding in the host build.
    const uint8_t key[32] = {3};
    CAESClass aes;
    aes.MakeKey(key, kZero, 32);
    std::vector<uint8_t> in(80, 0x42), out(80), back(80);
    aes.Encrypt(in.data(), out.data(), 80);
    aes.Decrypt(out.data(), back.data(), 80);
    EXPECT_EQ(back, in);
}

TEST(Aes, BlockSizeArgumentIsNotRead)
{
    const uint8_t key[16] = {5};
    const uint8_t plain[32] = {1, 2, 3};
    uint8_t expected[32], out[32];
    CAESClass reference;
    reference.MakeKey(key, kZero, 16, 16);
    reference.Encrypt(plain, expected, 32);
    for (int blockSize : {24, 32}) {
        CAESClass aes;
        aes.MakeKey(key, kZero, 16, blockSize);
        aes.Encrypt(plain, out, 32);
        EXPECT_EQ(0, std::memcmp(expected, out, 32)) << blockSize;
    }
}

}  // namespace
