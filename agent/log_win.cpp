#include <windows.h>

#include "agent/log.h"

bool SystemWindowsDirectory(std::string& directory)
{
    char buffer[MAX_PATH + 1] = {};
    UINT length = GetWindowsDirectoryA(buffer, MAX_PATH);
    if (length == 0 || length > MAX_PATH) return false;
    directory.assign(buffer, length);
    return true;
}
