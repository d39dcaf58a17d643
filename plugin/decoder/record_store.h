// The decoded record store: four parallel lists the host reads in place.
// (Placeholder until the decoder lands: the lists stay empty.)
#pragma once

#include "plugin/interface/host_abi.h"

namespace fd {

struct RecordStore {
    FdUInt32List positions;
    FdUInt64List values;
    FdUInt16List fieldIds;
    FdUInt32List colours;
};

RecordStore& Records();
bool ClearRecords();

}  // namespace fd
