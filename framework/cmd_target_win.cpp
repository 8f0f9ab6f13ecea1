#include "framework/cmd_target_win.h"

const CCmdTarget::CommandMap CCmdTarget::kCommandMap = {nullptr, nullptr, 0};

BOOL CCmdTarget::OnCmdMsg(UINT id, UINT code)
{
    for (const CommandMap* map = GetCommandMap(); map; map = map->base) {
        for (size_t i = 0; i < map->count; ++i) {
            const CommandEntry& entry = map->entries[i];
            if (entry.id == id && entry.code == code) {
                (this->*entry.handler)();
                return TRUE;
            }
        }
    }
    return FALSE;
}
