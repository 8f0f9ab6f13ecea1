#include "obulink/session_key.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

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

class StandardAppRandom : public AppRandomSource {
public:
    void Draw(uint8_t out[kRandomValueSize]) override
    {
        // srand/rand hold one state for the process; two transactions must not
        // interleave their seeding and drawing.
        std::lock_guard<std::mutex> hold(m_lock);
        std::srand(static_cast<unsigned>(std::time(nullptr)));
        for (size_t i = 0; i < kRandomValueSize; ++i) out[i] = static_cast<uint8_t>(std::rand() % 255);
    }

private:
    std::mutex m_lock;
};

}  // namespace

AppRandomSource& SystemAppRandom()
{
    static StandardAppRandom source;
    return source;
}
