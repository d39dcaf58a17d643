// The host boundary: the exported QMLAGetBusModule, the module descriptor and
// the 42-slot entry table. Every entry is a C-linkage function that lets no
// exception out: a failure inside becomes the entry's fixed refusal value.
#include <cstring>
#include <new>
#include <string>

#include "plugin/capture/capture_access.h"
#include "plugin/decoder/decode_driver.h"
#include "plugin/decoder/record_store.h"
#include "plugin/interface/bus_roles.h"
#include "plugin/interface/host_abi.h"
#include "plugin/interface/module_state.h"
#include "plugin/interface/settings.h"
#include "plugin/interface/strings.h"
#include "plugin/presentation/display_queries.h"
#include "plugin/presentation/field_types.h"
#include "plugin/ui/settings_ui.h"

#if defined(_WIN32)
#define FD_EXPORT
#else
#define FD_EXPORT __attribute__((visibility("default")))
#endif

namespace {

using namespace fd;

// Runs an entry's body; anything thrown (memory exhaustion included) turns
// into `refusal` instead of reaching the host.
template <typename Result, typename Body>
Result Guarded(Result refusal, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return refusal;
    }
}

template <typename Body>
void Guarded(Body&& body) noexcept {
    try {
        body();
    } catch (...) {
    }
}

int16_t FieldId(int32_t argument) { return static_cast<int16_t>(argument & 0xFFFF); }

FdBool FD_CALL SetHostInfoEntry(uint16_t hostValueA, uint16_t hostValueB) {
    HostValues() = {hostValueA, hostValueB};
    return 1;
}

FdBool FD_CALL ResetSettingsEntry(void) {
    if (HostValues().hostValueA == 0) return 0;
    SetDefaults(LiveSettings());
    return 1;
}

void FD_CALL ShowSettingsDialogEntry(void) {
    Guarded([] {
        const FdCapture* capture = CurrentCapture();
        if (capture == nullptr) return;
        if (capture->channelCount < kBusRoleCount) {
            ShowRefusal(LoadLocalizedString(kStrTooFewChannels));
            return;
        }
        std::string caption = LoadLocalizedString(kStrSheetCaption);
        if (capture->busName.text != nullptr) caption += capture->busName.text;
        if (RunConfigurationSheet(caption)) ApplySettingsColors();
    });
}

int32_t FD_CALL SetCaptureEntry(int32_t /*ignored*/, FdCapture* capture) {
    ApplySettingsColors();
    SetCurrentCapture(capture);
    return 0;
}

// True also when the capture has too few channels (the lists then hold the
// leading record only); false when the decode could not finish because
// memory ran out, the lists holding the records decoded until then.
FdBool FD_CALL DecodeEntry(void) {
    FdCapture* capture = CurrentCapture();
    if (capture == nullptr) return 0;
    return DecodeAndPublish(*capture) ? 1 : 0;
}

FdBool FD_CALL ClearResultsEntry(void) { return ClearRecords() ? 1 : 0; }

void FD_CALL Reserved9Entry(void) {}

void FD_CALL CopySettingsEntry(void* destination, int32_t size) {
    if (size != FD_SETTINGS_SIZE || destination == nullptr) return;
    std::memcpy(destination, &LiveSettings(), FD_SETTINGS_SIZE);
}

FdDecoderSettings* FD_CALL GetSettingsEntry(int32_t* size) {
    if (size != nullptr) *size = FD_SETTINGS_SIZE;
    return &LiveSettings();
}

int32_t FD_CALL GetFieldTypeCountEntry(void) { return kFieldTypeCount; }

void FD_CALL GetFieldTypeEntry(int32_t index, int32_t* id, uint32_t* colour, char* name, int32_t* width) {
    if (index < 0 || index >= kFieldTypeEntries) return;
    const FieldTypeEntry& entry = FieldType(index);
    if (id != nullptr) *id = entry.id;
    if (colour != nullptr) *colour = entry.colour;
    if (name != nullptr) std::strcpy(name, entry.name);
    if (width != nullptr) *width = entry.width;
}

FdBool FD_CALL Reserved16Entry(int32_t) { return 1; }
FdBool FD_CALL Reserved17Entry(void) { return 1; }
int32_t FD_CALL GetSignalCountEntry(void) { return kBusRoleCount; }

FdBool FD_CALL IsPacketItemShownEntry(int32_t id) { return IsPacketItemShown(FieldId(id)); }
FdBool FD_CALL GetFieldNameEntry(int32_t id, char* buffer) { return GetFieldName(FieldId(id), buffer); }
FdBool FD_CALL GetPacketItemColourEntry(int32_t id, int32_t* colour) {
    return GetPacketItemColour(FieldId(id), colour);
}
FdBool FD_CALL IsDelimiterFieldEntry(int32_t id) { return IsDelimiterField(FieldId(id)); }
FdBool FD_CALL IsUnknownFieldEntry(int32_t id) { return IsUnknownField(FieldId(id)); }
FdBool FD_CALL IsWriteItemShownEntry(void) { return IsWriteItemShown(); }
FdBool FD_CALL ConstantFalseEntry(void) { return 0; }
FdBool FD_CALL ConstantTrueEntry(void) { return 1; }
int32_t FD_CALL ConstantZeroEntry(void) { return 0; }
int32_t FD_CALL ConstantOneEntry(void) { return 1; }
int32_t FD_CALL ConstantTwoEntry(void) { return 2; }
int32_t FD_CALL ConstantFiveEntry(void) { return 5; }
int32_t FD_CALL Constant31Entry(void) { return 0x7FFF0010; }
int32_t FD_CALL IsDataFieldEntry(int32_t id) { return IsDataField(id); }
int32_t FD_CALL IdentityEntry(int32_t value) { return value; }

FdPacketDefinition* FD_CALL FillPacketDefinitionEntry(FdPacketDefinition* definition) {
    return FillPacketDefinition(definition);
}

const char* FD_CALL GetModuleIdentifierEntry(void) { return GetModuleIdentifier(); }

FdRadixCounters* FD_CALL CountRadixFieldsEntry(FdRadixCounters* counters) {
    return CountRadixFields(counters, LiveSettings());
}

FdRadixLists* FD_CALL FillRadixListsEntry(FdRadixLists* lists) {
    return Guarded(lists, [lists] { return FillRadixLists(lists, LiveSettings()); });
}

const FdEntryTable kEntryTable = {
    "THIS IS MODULE V1.0",
    nullptr,
    nullptr,
    SetHostInfoEntry,
    ResetSettingsEntry,
    ShowSettingsDialogEntry,
    SetCaptureEntry,
    DecodeEntry,
    ClearResultsEntry,
    Reserved9Entry,
    CopySettingsEntry,
    GetSettingsEntry,
    CopySettingsEntry,
    GetSettingsEntry,
    GetFieldTypeCountEntry,
    GetFieldTypeEntry,
    Reserved16Entry,
    Reserved17Entry,
    GetSignalCountEntry,
    IsPacketItemShownEntry,
    GetFieldNameEntry,
    GetPacketItemColourEntry,
    IsDelimiterFieldEntry,
    IsUnknownFieldEntry,
    IsWriteItemShownEntry,
    ConstantFalseEntry,
    ConstantTwoEntry,
    ConstantFiveEntry,
    ConstantOneEntry,
    ConstantOneEntry,
    ConstantTwoEntry,
    Constant31Entry,
    IsDataFieldEntry,
    ConstantZeroEntry,
    ConstantTrueEntry,
    ConstantTrueEntry,
    FillPacketDefinitionEntry,
    IdentityEntry,
    GetModuleIdentifierEntry,
    CountRadixFieldsEntry,
    FillRadixListsEntry,
    nullptr,
};

const FdEntryTable* FD_CALL GetEntryTable(void) { return &kEntryTable; }

constexpr char kEmptyText[] = "";

const FdModuleDescriptor kDescriptor = {
    10000,      "QUELMARS LA CF4.1 MODULE V1.00.00",
    "CF4.1",    "CF4.1v10000",
    nullptr,    nullptr,
    nullptr,    kEmptyText,
    kEmptyText, GetEntryTable,
};

}  // namespace

extern "C" FD_EXPORT const FdModuleDescriptor* FD_CALL QMLAGetBusModule(void) { return &kDescriptor; }
