// Decoder settings defaults and the colour propagation into the field-type
// table.
#include "plugin/interface/settings.h"

#include "plugin/presentation/field_types.h"

namespace fd {
namespace {

constexpr FdDecoderSettings MakeDefaults() {
    FdDecoderSettings s{};
    SetDefaults(s);
    return s;
}

constinit FdDecoderSettings liveSettings = MakeDefaults();
constinit FdDecoderSettings workingSettings = MakeDefaults();

// Which field-type entries (by id) each settings colour paints. Only the
// first 23 entries are touched, so the second READ and WRITE entries keep
// their fixed colour.
struct ColourTarget {
    FdColourIndex colour;
    int32_t ids[4];
};
constexpr ColourTarget kColourTargets[] = {
    {FdColourRead, {4002, 4013, 4017, 4019}},
    {FdColourWrite, {4003, 4014, 4018, 4020}},
    {FdColourErrorRegister, {4004}},
    {FdColourFeatures, {4005}},
    {FdColourStatus, {4011}},
    {FdColourCommand, {4012}},
    {FdColourAddress, {4015, 4025}},
    {FdColourData, {4026, 4032}},
    {FdColourSectorCount, {4006}},
    {FdColourSectorNo, {4007}},
    {FdColourCylinderLow, {4008}},
    {FdColourCylinderHigh, {4009}},
    {FdColourCardHead, {4010, 4031}},
};

}  // namespace

FdDecoderSettings& LiveSettings() { return liveSettings; }
FdDecoderSettings& WorkingSettings() { return workingSettings; }

void ApplySettingsColors() {
    for (const ColourTarget& target : kColourTargets) {
        for (int32_t id : target.ids) {
            if (id != 0) SetFieldTypeColour(id, liveSettings.colour[target.colour]);
        }
    }
}

}  // namespace fd
