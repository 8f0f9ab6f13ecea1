#include "agent/log.h"

// The host build has no Windows directory: a CLog made without a directory
// source writes nothing there.
bool SystemWindowsDirectory(std::string&)
{
    return false;
}
