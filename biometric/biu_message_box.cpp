#include "biometric/biu_message_box.h"

#include <atomic>

namespace {

std::atomic<BiuMessageBoxes*> g_activeBoxes{nullptr};

}  // namespace

BiuMessageBoxes& ActiveBiuMessageBoxes()
{
    BiuMessageBoxes* boxes = g_activeBoxes.load();
    return boxes ? *boxes : SystemBiuMessageBoxes();
}

ScopedBiuMessageBoxes::ScopedBiuMessageBoxes(BiuMessageBoxes& boxes) : m_previous(g_activeBoxes.exchange(&boxes)) {}

ScopedBiuMessageBoxes::~ScopedBiuMessageBoxes()
{
    g_activeBoxes = m_previous;
}

int ShowBiuMessageBox(BiuOwnerWindow owner, const char* text, const char* caption, unsigned type)
{
    return ActiveBiuMessageBoxes().Show(owner, text, caption, type);
}
