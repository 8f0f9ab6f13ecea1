// Calls a 32-bit stdcall function with any number of 4-byte arguments and
// records what it left behind: the stack pointer after its return and the
// callee-saved registers. The callee must pop its own arguments (stdcall) and
// hand back ebx, esi, edi and ebp as it found them; the probe loads them with
// the caller's values before the call, so a change shows as a difference.
#pragma once

#include <cstdint>

extern "C" {

struct StdcallProbeState {
    uint32_t espBefore;  // esp just before the arguments were pushed
    uint32_t espAfter;   // esp once the callee returned
    uint32_t ebx, esi, edi, ebp;  // in: loaded before the call; out: as the callee left them
};

// Pushes args[count - 1] .. args[0], calls `function`, and returns its eax.
// The probe's own frame is restored whatever the callee popped.
int StdcallProbeCall(const void* function, const uint32_t* args, int count, StdcallProbeState* state);

}
