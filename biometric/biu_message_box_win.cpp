// The Windows builds show the boxes with MessageBoxA.
#include <windows.h>

#include "biometric/biu_message_box.h"

namespace {

class WindowsMessageBoxes : public BiuMessageBoxes {
public:
    int Show(BiuOwnerWindow owner, const char* text, const char* caption, unsigned type) override
    {
        return MessageBoxA(static_cast<HWND>(owner), text, caption, type);
    }
};

}  // namespace

BiuMessageBoxes& SystemBiuMessageBoxes()
{
    static WindowsMessageBoxes boxes;
    return boxes;
}
