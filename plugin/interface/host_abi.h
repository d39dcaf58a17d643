/*
 * host_abi.h - every record that crosses the boundary between the host
 * application and flashdecode, declared once.
 *
 * The host reads and writes these records in place, so their byte layout is
 * the contract. The offsets the host relies on hold when pointers are 32 bits
 * wide (the 32-bit host this plug-in was made for); they are checked below
 * with static_asserts on every 32-bit target. On 64-bit targets the same
 * declarations apply: pointers widen to 8 bytes and fields take their natural
 * alignment. Host-owned gaps are byte arrays exactly as large as the 32-bit
 * gaps, so a 64-bit host builds its records from this header, not from the
 * 32-bit offsets.
 *
 * Three host records (packet definition, radix counters, radix lists) embed
 * the host's own vector objects: a 4-byte word the plug-in never touches,
 * then three pointers (first element, one past the last element, one past
 * the end of the storage). On 32-bit targets that word is 4 bytes; on 64-bit
 * targets it is pointer-sized (uintptr_t) so the three pointers stay aligned,
 * and each vector object is 32 bytes. The 64-bit offsets are asserted too.
 *
 * Allocation contract for the radix lists (slot 40): the plug-in releases the
 * host's element storage with the C runtime's free() and allocates new storage
 * with malloc(). A host must fill these lists only with storage from malloc()
 * of the same C runtime (or leave them null).
 *
 * This header compiles as C and as C++. It declares data only.
 */
#ifndef FLASHDECODE_HOST_ABI_H
#define FLASHDECODE_HOST_ABI_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define FD_CALL __cdecl
#else
#define FD_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A boolean as the host sees it: one byte, 1 true, 0 false. */
typedef uint8_t FdBool;

/* ------------------------------------------------------------------------ */
/* Capture (host-owned, read in place)                                       */
/* ------------------------------------------------------------------------ */

/* A channel's level changes: ascending sample positions. */
typedef struct FdTransitionList {
    uint8_t hostArea0[4];
    uint32_t* positions;
    int32_t count;
} FdTransitionList;

typedef struct FdChannel {
    uint8_t hostArea0[8];
    const char* name;
    int32_t number;
    uint8_t hostArea16[4];
    FdTransitionList* transitions;
} FdChannel;

typedef struct FdChannelList {
    uint8_t hostArea0[4];
    FdChannel** channels;
    int32_t count;
} FdChannelList;

/* The host's string object: one pointer to NUL-terminated 8-bit text. */
typedef struct FdHostString {
    const char* text;
} FdHostString;

/* The field ids of the decoded records (the values of the field-id list):
 * the register and data kinds, and the markers. */
enum FdFieldId {
    FdFieldUnknown = 1, /* the leading record of every decode */
    FdFieldCompose = 3036,
    FdFieldReadBlock = 3100,
    FdFieldWriteBlock = 3101,
    FdFieldStart = 3306,
    FdFieldPioRead = 4002,
    FdFieldPioWrite = 4003,
    FdFieldErrorRegister = 4004,
    FdFieldFeatures = 4005,
    FdFieldSectorCount = 4006,
    FdFieldSectorNo = 4007,
    FdFieldCylinderLow = 4008,
    FdFieldCylinderHigh = 4009,
    FdFieldSelectCardHead = 4010,
    FdFieldStatus = 4011,
    FdFieldCommand = 4012,
    FdFieldAltStatusRead = 4013,
    FdFieldControlWrite = 4014,
    FdFieldDriveAddress = 4015,
    FdFieldDmaRead = 4017,
    FdFieldDmaWrite = 4018,
    FdFieldRead = 4019,
    FdFieldWrite = 4020,
    FdFieldAddress = 4025,
    FdFieldDataRead = 4026, /* DATA(R): card to host */
    FdFieldCardHead = 4031,
    FdFieldDataWrite = 4032 /* DATA(W): host to card */
};

struct FdUInt32List;
struct FdUInt64List;
struct FdUInt16List;

typedef struct FdCapture {
    uint8_t hostArea0[8];
    FdChannelList* channelList;
    int32_t channelCount;
    FdHostString busName;
    /* Written by Decode: position, value, field-id and colour lists. */
    struct FdUInt32List* positionList;
    struct FdUInt64List* valueList;
    struct FdUInt16List* fieldIdList;
    struct FdUInt32List* colourList;
    uint32_t endPosition;
    uint8_t hostArea40[8];
    uint8_t hasStartPosition;
    uint8_t hostArea49[3];
    uint32_t startPosition;
    int32_t language;
    uint8_t hostArea60[4];
    uint8_t hasRange;
    uint8_t hostArea65[3];
    uint32_t rangeStart;
    uint32_t rangeEnd;
} FdCapture;

enum FdLanguage { FdLanguageEnglish = 0, FdLanguageSimplified = 1, FdLanguageTraditional = 2 };

/* ------------------------------------------------------------------------ */
/* Result lists (plug-in-owned, read in place by the host)                   */
/* ------------------------------------------------------------------------ */

/*
 * The archive the lists' transfer operation writes to or reads from. The
 * host's class library is not available, so this is our own small stream:
 * `write` and `read` move raw bytes and return how many were moved (fewer
 * than asked means the stream failed); `storing` is nonzero when the list is
 * written out, zero when it is read back. Counts are encoded as in the host
 * class library: a little-endian 16-bit count, or 0xFFFF followed by a
 * little-endian 32-bit count.
 */
typedef struct FdArchive {
    uint8_t storing;
    void* context;
    size_t(FD_CALL* write)(void* context, const void* data, size_t size);
    size_t(FD_CALL* read)(void* context, void* data, size_t size);
} FdArchive;

/* The run-time class descriptor that the class query returns. */
typedef struct FdRuntimeClass {
    const char* className;
    int32_t objectSize;
} FdRuntimeClass;

/*
 * Virtual operations of every list, in slot order. `self` is the list.
 * `serialize` returns 1 when the whole transfer succeeded; on failure a
 * loading list keeps its previous contents. Neither call lets anything
 * thrown reach the caller.
 */
typedef struct FdListOperations {
    const FdRuntimeClass*(FD_CALL* getRuntimeClass)(const void* self);
    void(FD_CALL* destroy)(void* self, uint32_t flags); /* bit 0: release the object too */
    FdBool(FD_CALL* serialize)(void* self, FdArchive* archive);
} FdListOperations;

#define FD_DECLARE_LIST(Name, Element)                \
    typedef struct Name {                             \
        const FdListOperations* operations;           \
        Element* elements; /* null while empty */     \
        int32_t count;                                \
        int32_t capacity;                             \
        int32_t growthStep; /* 0: automatic growth */ \
    } Name

FD_DECLARE_LIST(FdUInt32List, uint32_t);
FD_DECLARE_LIST(FdUInt64List, uint64_t);
FD_DECLARE_LIST(FdUInt16List, uint16_t);

/* ------------------------------------------------------------------------ */
/* Decoder settings (440 bytes, stored by the host as an opaque block)       */
/* ------------------------------------------------------------------------ */

enum FdChannelField {
    FdChannelDmarq,
    FdChannelDmack,
    FdChannelCs1,
    FdChannelCs0,
    FdChannelA0,
    FdChannelA1,
    FdChannelA2,
    FdChannelIord,
    FdChannelIowr,
    FdChannelIordy,
    FdChannelD0,
    FdChannelFieldCount /* 11 */
};

/* The thirteen colours, in the order of the setup page's colour labels. */
enum FdColourIndex {
    FdColourRead,
    FdColourWrite,
    FdColourErrorRegister,
    FdColourFeatures,
    FdColourStatus,
    FdColourCommand,
    FdColourAddress,
    FdColourData,
    FdColourSectorCount,
    FdColourSectorNo,
    FdColourCylinderLow,
    FdColourCylinderHigh,
    FdColourCardHead,
    FdColourCount /* 13 */
};

enum FdRadix { FdRadixBinary = 0, FdRadixDecimal = 1, FdRadixHexadecimal = 2, FdRadixAscii = 3 };

typedef struct FdDecoderSettings {
    int32_t mode;
    uint8_t reservedFlag;
    uint8_t reserved5[3];
    int32_t channel[FdChannelFieldCount]; /* DMARQ .. IORDY, then D0 */
    uint32_t colour[FdColourCount];
    uint8_t reserved104[20];
    int32_t customRadixDisplay;
    uint8_t reserved128[304];
    int16_t taskFileRadix;
    int16_t reserved434;
    int16_t dataRadix;
    int16_t reserved438;
} FdDecoderSettings;

#define FD_SETTINGS_SIZE 440

/* ------------------------------------------------------------------------ */
/* Host records filled by the presentation slots                             */
/* ------------------------------------------------------------------------ */

/* The host's vector object (see the header comment for the 64-bit form). */
#define FD_DECLARE_HOST_VECTOR(Name, Element) \
    typedef struct Name {                     \
        uintptr_t hostWord;                   \
        Element* first;                       \
        Element* last;                        \
        Element* end;                         \
    } Name

FD_DECLARE_HOST_VECTOR(FdHostInt32Vector, int32_t);
FD_DECLARE_HOST_VECTOR(FdHostInt16Vector, int16_t);

/* Slot 36. The five arrays are host-allocated with at least the sizes the
   plug-in writes: 2, 5, 1, 1 and 2 elements. */
typedef struct FdPacketDefinition {
    uint8_t hostArea0[8];
    FdHostInt32Vector blockDelimiters;  /* 4010, 3036 */
    FdHostInt32Vector addressFields;    /* 4010, 4009, 4008, 4007, 3036 */
    FdHostInt32Vector readBlockMarker;  /* 3100 */
    FdHostInt32Vector writeBlockMarker; /* 3101 */
    FdHostInt32Vector dataFields;       /* 4026, 4032 */
    uint8_t hostArea[56];
    int32_t itemCount; /* 43 */
} FdPacketDefinition;

/* Slot 39. */
typedef struct FdRadixCounters {
    uint8_t hostArea0[8];
    uint8_t customRadixDisplay;
    uint8_t hostArea9[3];
    int32_t count[4]; /* per radix 0..3; increased, never cleared */
} FdRadixCounters;

/* Slot 40. Elements are 16-bit signed field ids; storage from malloc(). */
typedef struct FdRadixLists {
    uint8_t hostArea0[12];
    FdHostInt16Vector list[4]; /* per radix 0..3 */
} FdRadixLists;

/* ------------------------------------------------------------------------ */
/* Module descriptor and entry table                                         */
/* ------------------------------------------------------------------------ */

typedef struct FdEntryTable FdEntryTable;

typedef struct FdModuleDescriptor {
    int32_t moduleVersion;
    const char* title;
    const char* busName;
    const char* busKey;
    const void* reserved4;
    const void* reserved5;
    const void* reserved6;
    const char* reservedText7;
    const char* reservedText8;
    const FdEntryTable*(FD_CALL* getEntryTable)(void);
} FdModuleDescriptor;

typedef int32_t(FD_CALL* FdInt32Fn)(void);
typedef FdBool(FD_CALL* FdBoolFn)(void);

/* 42 pointer-sized slots; the host finds each operation by its index. */
struct FdEntryTable {
    const char* label;                                                      /* 0 */
    const void* none1;                                                      /* 1 */
    const void* none2;                                                      /* 2 */
    FdBool(FD_CALL* SetHostInfo)(uint16_t hostValueA, uint16_t hostValueB); /* 3 */
    FdBool(FD_CALL* ResetSettings)(void);                                   /* 4 */
    void(FD_CALL* ShowSettingsDialog)(void);                                /* 5 */
    int32_t(FD_CALL* SetCapture)(int32_t ignored, FdCapture* capture);      /* 6 */
    FdBool(FD_CALL* Decode)(void);                                          /* 7 */
    FdBool(FD_CALL* ClearResults)(void);                                    /* 8 */
    void(FD_CALL* reserved9)(void);                                         /* 9 */
    void(FD_CALL* CopySettings)(void* destination, int32_t size);           /* 10 */
    FdDecoderSettings*(FD_CALL* GetSettings)(int32_t* size);                /* 11 */
    void(FD_CALL* CopySettings12)(void* destination, int32_t size);         /* 12 */
    FdDecoderSettings*(FD_CALL* GetSettings13)(int32_t* size);              /* 13 */
    FdInt32Fn GetFieldTypeCount;                                            /* 14 */
    void(FD_CALL* GetFieldType)(int32_t index, int32_t* id, uint32_t* colour, char* name,
                                int32_t* width);                                        /* 15 */
    FdBool(FD_CALL* reserved16)(int32_t ignored);                                       /* 16 */
    FdBoolFn reserved17;                                                                /* 17 */
    FdInt32Fn GetSignalCount;                                                           /* 18 */
    FdBool(FD_CALL* IsPacketItemShown)(int32_t id);                                     /* 19 */
    FdBool(FD_CALL* GetFieldName)(int32_t id, char* buffer);                            /* 20 */
    FdBool(FD_CALL* GetPacketItemColour)(int32_t id, int32_t* colour);                  /* 21 */
    FdBool(FD_CALL* IsDelimiterField)(int32_t id);                                      /* 22 */
    FdBool(FD_CALL* IsUnknownField)(int32_t id);                                        /* 23 */
    FdBoolFn IsWriteItemShown;                                                          /* 24 */
    FdBoolFn constantFalse25;                                                           /* 25 */
    FdInt32Fn constantTwo26;                                                            /* 26 */
    FdInt32Fn constantFive27;                                                           /* 27 */
    FdInt32Fn constantOne28;                                                            /* 28 */
    FdInt32Fn constantOne29;                                                            /* 29 */
    FdInt32Fn constantTwo30;                                                            /* 30 */
    FdInt32Fn constant31;                                                               /* 31 */
    int32_t(FD_CALL* IsDataField)(int32_t id);                                          /* 32 */
    FdInt32Fn constantZero33;                                                           /* 33 */
    FdBoolFn constantTrue34;                                                            /* 34 */
    FdBoolFn constantTrue35;                                                            /* 35 */
    FdPacketDefinition*(FD_CALL* FillPacketDefinition)(FdPacketDefinition* definition); /* 36 */
    int32_t(FD_CALL* identity37)(int32_t value);                                        /* 37 */
    const char*(FD_CALL* GetModuleIdentifier)(void);                                    /* 38 */
    FdRadixCounters*(FD_CALL* CountRadixFields)(FdRadixCounters* counters);             /* 39 */
    FdRadixLists*(FD_CALL* FillRadixLists)(FdRadixLists* lists);                        /* 40 */
    const void* end;                                                                    /* 41 */
};

#define FD_ENTRY_SLOT_COUNT 42

typedef const FdModuleDescriptor*(FD_CALL* FdGetBusModuleFn)(void);

#define FD_ENTRY_POINT_NAME "QMLAGetBusModule"

/* ------------------------------------------------------------------------ */
/* Layout checks                                                             */
/* ------------------------------------------------------------------------ */

#ifdef __cplusplus
#define FD_STATIC_ASSERT static_assert
#else
#define FD_STATIC_ASSERT _Static_assert
#endif

#define FD_AT(Type, member, offset) FD_STATIC_ASSERT(offsetof(Type, member) == (offset), #Type "." #member)

FD_STATIC_ASSERT(sizeof(FdDecoderSettings) == FD_SETTINGS_SIZE, "settings record is 440 bytes");
FD_AT(FdDecoderSettings, mode, 0);
FD_AT(FdDecoderSettings, reservedFlag, 4);
FD_AT(FdDecoderSettings, reserved5, 5);
FD_AT(FdDecoderSettings, channel, 8);
FD_AT(FdDecoderSettings, colour, 52);
FD_AT(FdDecoderSettings, reserved104, 104);
FD_AT(FdDecoderSettings, customRadixDisplay, 124);
FD_AT(FdDecoderSettings, reserved128, 128);
FD_AT(FdDecoderSettings, taskFileRadix, 432);
FD_AT(FdDecoderSettings, reserved434, 434);
FD_AT(FdDecoderSettings, dataRadix, 436);
FD_AT(FdDecoderSettings, reserved438, 438);

FD_AT(FdRadixCounters, customRadixDisplay, 8);
FD_AT(FdRadixCounters, count, 12);
FD_STATIC_ASSERT(sizeof(FdRadixCounters) == 28, "radix counters");

FD_STATIC_ASSERT(sizeof(FdEntryTable) == FD_ENTRY_SLOT_COUNT * sizeof(void*), "42 slots");
FD_AT(FdEntryTable, SetHostInfo, 3 * sizeof(void*));
FD_AT(FdEntryTable, CopySettings, 10 * sizeof(void*));
FD_AT(FdEntryTable, GetFieldTypeCount, 14 * sizeof(void*));
FD_AT(FdEntryTable, IsPacketItemShown, 19 * sizeof(void*));
FD_AT(FdEntryTable, IsDataField, 32 * sizeof(void*));
FD_AT(FdEntryTable, FillRadixLists, 40 * sizeof(void*));
FD_AT(FdEntryTable, end, 41 * sizeof(void*));

#if UINTPTR_MAX == 0xFFFFFFFFu
/* 32-bit: the host's own offsets. */
FD_STATIC_ASSERT(sizeof(FdModuleDescriptor) == 40, "descriptor is ten 32-bit fields");
FD_AT(FdModuleDescriptor, title, 4);
FD_AT(FdModuleDescriptor, busKey, 12);
FD_AT(FdModuleDescriptor, reservedText7, 28);
FD_AT(FdModuleDescriptor, getEntryTable, 36);

FD_AT(FdCapture, channelList, 8);
FD_AT(FdCapture, channelCount, 12);
FD_AT(FdCapture, busName, 16);
FD_AT(FdCapture, positionList, 20);
FD_AT(FdCapture, valueList, 24);
FD_AT(FdCapture, fieldIdList, 28);
FD_AT(FdCapture, colourList, 32);
FD_AT(FdCapture, endPosition, 36);
FD_AT(FdCapture, hasStartPosition, 48);
FD_AT(FdCapture, startPosition, 52);
FD_AT(FdCapture, language, 56);
FD_AT(FdCapture, hasRange, 64);
FD_AT(FdCapture, rangeStart, 68);
FD_AT(FdCapture, rangeEnd, 72);

FD_AT(FdChannelList, channels, 4);
FD_AT(FdChannelList, count, 8);
FD_AT(FdChannel, name, 8);
FD_AT(FdChannel, number, 12);
FD_AT(FdChannel, transitions, 20);
FD_AT(FdTransitionList, positions, 4);
FD_AT(FdTransitionList, count, 8);

FD_AT(FdUInt32List, operations, 0);
FD_AT(FdUInt32List, elements, 4);
FD_AT(FdUInt32List, count, 8);
FD_AT(FdUInt32List, capacity, 12);
FD_AT(FdUInt32List, growthStep, 16);
FD_STATIC_ASSERT(sizeof(FdUInt64List) == 20 && sizeof(FdUInt16List) == 20, "list objects");

FD_STATIC_ASSERT(sizeof(FdHostInt32Vector) == 16, "host vector is 16 bytes");
FD_AT(FdPacketDefinition, blockDelimiters.first, 12);
FD_AT(FdPacketDefinition, addressFields.first, 28);
FD_AT(FdPacketDefinition, readBlockMarker.first, 44);
FD_AT(FdPacketDefinition, writeBlockMarker.first, 60);
FD_AT(FdPacketDefinition, dataFields.first, 76);
FD_AT(FdPacketDefinition, itemCount, 144);

FD_AT(FdRadixLists, list[0], 12);
FD_AT(FdRadixLists, list[1], 28);
FD_AT(FdRadixLists, list[2], 44);
FD_AT(FdRadixLists, list[3], 60);
FD_AT(FdRadixLists, list[0].first, 16);
#elif UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
/* 64-bit: the layout a 64-bit host builds from this header. */
FD_STATIC_ASSERT(sizeof(FdHostInt32Vector) == 32, "host vector is 32 bytes");
FD_AT(FdPacketDefinition, blockDelimiters.first, 16);
FD_AT(FdPacketDefinition, addressFields.first, 48);
FD_AT(FdPacketDefinition, readBlockMarker.first, 80);
FD_AT(FdPacketDefinition, writeBlockMarker.first, 112);
FD_AT(FdPacketDefinition, dataFields.first, 144);
FD_AT(FdPacketDefinition, itemCount, 224);
FD_AT(FdRadixLists, list[0], 16);
FD_AT(FdRadixLists, list[3], 112);
FD_AT(FdCapture, channelList, 8);
FD_AT(FdCapture, endPosition, 64);
#endif

#undef FD_AT

#ifdef __cplusplus
}
#endif

#endif /* FLASHDECODE_HOST_ABI_H */
