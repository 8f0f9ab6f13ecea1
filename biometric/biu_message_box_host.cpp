// The host build has no display: every box is answered OK at once.
#include "biometric/biu_message_box.h"

namespace {

class NoDisplayBoxes : public BiuMessageBoxes {
public:
    int Show(BiuOwnerWindow, const char*, const char*, unsigned) override { return kBiuBoxResultOk; }
};

}  // namespace

BiuMessageBoxes& SystemBiuMessageBoxes()
{
    static NoDisplayBoxes boxes;
    return boxes;
}
