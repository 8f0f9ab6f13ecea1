#include "obulink/session_key.h"

#include <cstring>
#include <ctime>
#include <mutex>
#include <random>

#include "framework/clock.h"

void AssembleSessionKey(uint8_t key[kSessionKeySize], const uint8_t product[kProductKeySize],
                        const uint8_t* appRandom, const uint8_t* deviceRandom)
{
    std::memset(key, 0, kSessionKeySize);
    for (size_t i = 0; i < kProductKeySize; ++i) key[2 * i] = product[i];
    for (size_t j = 0; j < kRandomValueSize; ++j) key[4 * j + 1] = appRandom ? appRandom[j] : 0;
    for (size_t j = 0; j < 4; ++j) {
        key[4 * j + 3] = deviceRandom ? deviceRandom[j] : kSessionKeyFiller1;
        key[4 * j + 19] = deviceRandom ? deviceRandom[4 + j] : kSessionKeyFiller2;
    }
}

namespace {

class SystemRandomAppRandom : public AppRandomSource {
public:
    void Draw(uint8_t out[kRandomValueSize]) override
    {
        // Random bytes with 255 passed over: each of 0 to 254 equally likely.
        size_t filled = 0;
        while (filled < kRandomValueSize) {
            uint8_t pool[32];
            if (!SystemRandomBytes(pool, sizeof pool)) FallbackBytes(pool, sizeof pool);
            for (size_t i = 0; i < sizeof pool && filled < kRandomValueSize; ++i)
                if (pool[i] != 255) out[filled++] = pool[i];
        }
    }

private:
    // Should the system's source ever fail: a generator seeded once, never
    // again per draw, so that its values still differ from draw to draw.
    void FallbackBytes(uint8_t* out, size_t count)
    {
        std::lock_guard<std::mutex> hold(m_lock);
        if (!m_seeded) {
            std::seed_seq seed{static_cast<uint64_t>(std::time(nullptr)), corvane::MonotonicMs(),
                               static_cast<uint64_t>(reinterpret_cast<uintptr_t>(this))};
            m_fallback.seed(seed);
            m_seeded = true;
        }
        for (size_t i = 0; i < count; ++i) out[i] = static_cast<uint8_t>(m_fallback());
    }

    std::mutex m_lock;
    std::mt19937 m_fallback;
    bool m_seeded = false;
};

}  // namespace

AppRandomSource& SystemAppRandom()
{
    static SystemRandomAppRandom source;
    return source;
}
