// Stand-in for the pin assignment dialog until it is built: the "Custom
// Settings" button opens nothing and the working copy keeps its channels.
#include "plugin/ui/pin_assign.h"

namespace fd::ui {

void RunPinAssignment(int) {}

}  // namespace fd::ui
