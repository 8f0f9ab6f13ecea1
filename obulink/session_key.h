// Session keys of the secure exchange and the AppRandom values they are built
// from. Shared by the OBU and the biometric unit (both use the same filler
// bytes in the same places).
//
// A session key is 32 bytes K[0..31], cleared and then assembled from the
// product key P (16 bytes), an AppRandom A and the DeviceRandom D (8 bytes
// each):
//   K[2i]   = P[i]                          (i = 0..15)
//   K[4j+1] = A[j] or 0                      (j = 0..7)
//   K[3], K[7], K[11], K[15]   = filler 1, or D[0..3] once D is known
//   K[19], K[23], K[27], K[31] = filler 2, or D[4..7] once D is known
#pragma once

#include <cstddef>
#include <cstdint>

// The two fixed filler bytes of the handshake keys, built into the device too.
inline constexpr uint8_t kSessionKeyFiller1 = 0x5A;
inline constexpr uint8_t kSessionKeyFiller2 = 0xC3;

inline constexpr size_t kSessionKeySize = 32;
inline constexpr size_t kProductKeySize = 16;
inline constexpr size_t kRandomValueSize = 8;

// Clears `key` and assembles it. `appRandom` null: zeros at the AppRandom
// positions; `deviceRandom` null: the filler bytes at the DeviceRandom positions.
void AssembleSessionKey(uint8_t key[kSessionKeySize], const uint8_t product[kProductKeySize],
                        const uint8_t* appRandom, const uint8_t* deviceRandom);

// The four keys of one transaction.
inline void HandshakeSendKey(uint8_t key[32], const uint8_t product[16])
{
    AssembleSessionKey(key, product, nullptr, nullptr);
}
inline void HandshakeReceiveKey(uint8_t key[32], const uint8_t product[16], const uint8_t appRandom[8])
{
    AssembleSessionKey(key, product, appRandom, nullptr);
}
inline void CommandSendKey(uint8_t key[32], const uint8_t product[16], const uint8_t deviceRandom[8])
{
    AssembleSessionKey(key, product, nullptr, deviceRandom);
}
inline void CommandReceiveKey(uint8_t key[32], const uint8_t product[16], const uint8_t appRandom[8],
                              const uint8_t deviceRandom[8])
{
    AssembleSessionKey(key, product, appRandom, deviceRandom);
}

// Where AppRandom values come from: eight bytes, each 0 to 254. The system's
// source draws them from the operating system's random source, every draw
// afresh (so the handshake and the command never share a value); tests give
// their own.
class AppRandomSource {
public:
    virtual ~AppRandomSource() = default;
    virtual void Draw(uint8_t out[kRandomValueSize]) = 0;
};

AppRandomSource& SystemAppRandom();

// Fills `out` from the operating system's random source (RtlGenRandom on
// Windows, /dev/urandom elsewhere); false when it could not. Defined per
// platform.
bool SystemRandomBytes(uint8_t* out, size_t count);
