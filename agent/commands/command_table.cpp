// The table of command ids. Each group of commands keeps its own rows next to its
// command methods; an id that no group has a row for is not run, and the request
// answers "NOFUNC".
#include "agent/commands/obu_issue_ctrl.h"

const CommandGroup* COBUIssueCtrl::Groups(size_t& count)
{
    static const CommandGroup kGroups[] = {
        CardCommands(),  // card commands: ids 11 to 29, 50 to 52
        ObuCommands(),  // OBU commands: ids 31 to 40
        BiometricCommands(),  // biometric commands: ids 61 to 71
    };
    count = sizeof kGroups / sizeof kGroups[0];
    return kGroups;
}
