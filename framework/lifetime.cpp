#include "framework/lifetime.h"

namespace corvane {
namespace {

// Constant-initialised: valid before any object of the process is built.
LifetimeListener g_listener = nullptr;

}  // namespace

void SetLifetimeListener(LifetimeListener listener)
{
    g_listener = listener;
}

void NoteLifetime(const void* object, const char* what, bool built)
{
    if (g_listener) g_listener(object, what, built);
}

}  // namespace corvane
