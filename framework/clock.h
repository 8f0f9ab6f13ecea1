// Monotonic time and sleeps for portable code.
//
// Note: <chrono> must not be included by a source compiled with code page 949
// literals: in C++20 it holds a literal (the micro sign) that code page 949
// cannot encode, and the compiler refuses it. Use these instead; clock.cpp is
// compiled with UTF-8 literals.
#pragma once

#include <cstdint>

namespace corvane {

// Milliseconds from an arbitrary start, never going back.
uint64_t MonotonicMs();
void SleepMs(uint32_t milliseconds);

}  // namespace corvane
