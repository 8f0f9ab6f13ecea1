// The probe itself, in i386 assembly: no compiler may move the registers or the
// stack around the call it measures.
#include "tests/readerlink/stdcall_probe_i386.h"

#include <cstddef>

static_assert(offsetof(StdcallProbeState, espBefore) == 0 && offsetof(StdcallProbeState, espAfter) == 4 &&
                  offsetof(StdcallProbeState, ebx) == 8 && offsetof(StdcallProbeState, esi) == 12 &&
                  offsetof(StdcallProbeState, edi) == 16 && offsetof(StdcallProbeState, ebp) == 20,
              "the assembly below reads the state at these offsets");

// The probe's frame pointer and the callee's ebp, kept outside the stack and
// the registers while the callee runs (the tests call the probe from one thread).
extern "C" {
uint32_t g_stdcallProbeFrame;
uint32_t g_stdcallProbeCalleeEbp;
}

asm(R"(
    .text
    .globl _StdcallProbeCall
    .def   _StdcallProbeCall; .scl 2; .type 32; .endef
_StdcallProbeCall:
    pushl %ebp
    movl  %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl  %ebp, _g_stdcallProbeFrame
    movl  20(%ebp), %eax          # state
    movl  12(%ebp), %edx          # args
    movl  16(%ebp), %ecx          # count
    movl  %esp, 0(%eax)           # espBefore
1:  testl %ecx, %ecx
    jz    2f
    decl  %ecx
    pushl (%edx,%ecx,4)
    jmp   1b
2:  movl  %eax, %edx
    movl  8(%ebp), %eax           # function
    movl  8(%edx), %ebx           # the values the callee must hand back
    movl  12(%edx), %esi
    movl  16(%edx), %edi
    movl  20(%edx), %ebp
    call  *%eax
    movl  %ebp, _g_stdcallProbeCalleeEbp
    movl  _g_stdcallProbeFrame, %ebp
    movl  20(%ebp), %edx          # state
    movl  %esp, 4(%edx)           # espAfter
    movl  %ebx, 8(%edx)
    movl  %esi, 12(%edx)
    movl  %edi, 16(%edx)
    movl  _g_stdcallProbeCalleeEbp, %ecx
    movl  %ecx, 20(%edx)
    leal  -12(%ebp), %esp         # the probe's frame, whatever the callee popped
    popl  %edi
    popl  %esi
    popl  %ebx
    popl  %ebp
    ret
)");
