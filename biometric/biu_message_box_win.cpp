// The Windows builds show the boxes through the framework's message boxes, so
// that the program's one test hook sees them as well.
#include <windows.h>

#include "biometric/biu_message_box.h"
#include "framework/message_box_win.h"

namespace {

class WindowsMessageBoxes : public BiuMessageBoxes {
public:
    int Show(BiuOwnerWindow owner, const char* text, const char* caption, unsigned type) override
    {
        return corvane::ShowMessageBox(static_cast<HWND>(owner), text, caption, type);
    }
};

}  // namespace

BiuMessageBoxes& SystemBiuMessageBoxes()
{
    static WindowsMessageBoxes boxes;
    return boxes;
}
