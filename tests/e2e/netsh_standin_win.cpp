// A stand-in for netsh.exe: records its command line, byte for byte, in a new
// file "netsh-call-<n>.txt" in the directory that CORVANE_NETSH_RECORD names (the
// agent passes its environment on), else next to itself, and ends with 0.
#include <windows.h>

#include <cstring>
#include <string>

// The directory the records go to, with a closing backslash.
static std::string RecordDirectory()
{
    char path[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("CORVANE_NETSH_RECORD", path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        std::string directory(path, length);
        if (directory.back() != '\\') directory += '\\';
        return directory;
    }
    length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string directory(path, length);
    return directory.substr(0, directory.find_last_of('\\') + 1);
}

int main()
{
    const std::string directory = RecordDirectory();
    const char* commandLine = GetCommandLineA();
    for (int n = 1; n < 1000; ++n) {
        std::string name = directory + "netsh-call-" + std::to_string(n) + ".txt";
        HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) continue;
        DWORD written = 0;
        WriteFile(file, commandLine, static_cast<DWORD>(std::strlen(commandLine)), &written, nullptr);
        CloseHandle(file);
        return 0;
    }
    return 1;
}
