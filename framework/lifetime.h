// The process's long-lived objects (the application object and the three
// controllers, agent/globals_win.cpp) say when they are built and destroyed.
// Nobody listens in the agent; a test that links the agent's own definitions
// listens from before the first of them is built, to see their order.
#pragma once

namespace corvane {

// `object` is the object's address, `what` its class.
using LifetimeListener = void (*)(const void* object, const char* what, bool built);

void SetLifetimeListener(LifetimeListener listener);
void NoteLifetime(const void* object, const char* what, bool built);

}  // namespace corvane
