// Module-level state of the entry table: the capture the host handed over
// last and the two host values.
#pragma once

#include <cstdint>

#include "plugin/interface/host_abi.h"

namespace fd {

FdCapture* CurrentCapture();  // null until the first SetCapture
void SetCurrentCapture(FdCapture* capture);

struct HostInfo {
    uint16_t hostValueA;
    uint16_t hostValueB;  // stored; nothing reads it
};
HostInfo& HostValues();

}  // namespace fd
