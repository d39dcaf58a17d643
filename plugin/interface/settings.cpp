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

}  // namespace

FdDecoderSettings& LiveSettings() { return liveSettings; }
FdDecoderSettings& WorkingSettings() { return workingSettings; }

void ApplySettingsColors() {
    for (const FieldPresentation& field : kFieldPresentation) {
        if (field.item >= 0 && field.item < FdColourCount)
            SetFieldTypeColour(field.id, liveSettings.colour[field.item]);
    }
}

}  // namespace fd
