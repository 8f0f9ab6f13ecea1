// Ends a running agent from outside, for the ending's end-to-end test:
//   ending_probe close HWND   posts WM_CLOSE to the window (as the test panel closes the agent)
//   ending_probe quit HWND    posts WM_QUIT to the thread that owns the window
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: ending_probe close|quit HWND\n");
        return 2;
    }
    HWND window = reinterpret_cast<HWND>(static_cast<uintptr_t>(std::strtoull(argv[2], nullptr, 0)));
    if (std::strcmp(argv[1], "close") == 0) return PostMessageA(window, WM_CLOSE, 0, 0) ? 0 : 1;
    if (std::strcmp(argv[1], "quit") == 0) {
        const DWORD thread = GetWindowThreadProcessId(window, nullptr);
        return thread && PostThreadMessageA(thread, WM_QUIT, 0, 0) ? 0 : 1;
    }
    std::fprintf(stderr, "usage: ending_probe close|quit HWND\n");
    return 2;
}
