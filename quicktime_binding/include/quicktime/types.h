// QuickTime's own types, as far as this system passes them. Sizes are QuickTime for Windows'
// 32-bit ones (long is 32 bits there and in both mingw targets); references are pointers, so
// the x86_64 build holds them pointer-sized.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__i386__)
#define QUICKTIME_CALL __cdecl
#else
#define QUICKTIME_CALL
#endif

namespace quicktime {

using OSErr = std::int16_t;
using OSType = std::uint32_t;
using Boolean = std::uint8_t;
using SInt8 = std::int8_t;
using UInt8 = std::uint8_t;
using UInt32 = std::uint32_t;
using Size = long;
using TimeValue = long;
using TimeScale = long;
using ComponentResult = long;
using Ptr = char*;
using Handle = Ptr*;
using StringPtr = unsigned char*;
using CodecType = OSType;
using CFStringEncoding = UInt32;
using QTPathStyle = UInt32;

// Opaque references QuickTime hands out.
struct MovieRecord;
struct TrackRecord;
struct ComponentRecord;
struct ComponentInstanceRecord;
struct TimeBaseRecord;
struct OpaqueCFString;
struct OpaqueCFAllocator;
using Movie = MovieRecord*;
using Track = TrackRecord*;
using Component = ComponentRecord*;
using ComponentInstance = ComponentInstanceRecord*;
using CodecComponent = Component;
using TimeBase = TimeBaseRecord*;
using CFStringRef = const OpaqueCFString*;
using CFAllocatorRef = const OpaqueCFAllocator*;

// Records the digitizer's requests fill; the digitizer's QuickTime record header completes them.
struct CodecInfo;
struct TimeRecord;

// A four-character code, first character in the most significant byte.
constexpr OSType fourCharCode(const char (&code)[5]) {
    return static_cast<OSType>(static_cast<unsigned char>(code[0])) << 24 |
           static_cast<OSType>(static_cast<unsigned char>(code[1])) << 16 |
           static_cast<OSType>(static_cast<unsigned char>(code[2])) << 8 |
           static_cast<OSType>(static_cast<unsigned char>(code[3]));
}

constexpr short newMovieActive = 1;
constexpr SInt8 fsRdPerm = 1;
constexpr CFStringEncoding kCFStringEncodingUTF8 = 0x08000100;
constexpr QTPathStyle kQTNativeDefaultPathStyle = static_cast<QTPathStyle>(-1);
constexpr CFAllocatorRef kCFAllocatorDefault = nullptr;

struct Rect {
    short top, left, bottom, right;
};

// QuickTime's records keep the Macintosh 2-byte packing.
#pragma pack(push, 2)
struct FSSpec {
    short vRefNum;
    long parID;
    unsigned char name[64];  // length-prefixed
};
#pragma pack(pop)

struct ComponentDescription {
    OSType componentType;
    OSType componentSubType;
    OSType componentManufacturer;
    UInt32 componentFlags;
    UInt32 componentFlagsMask;
};

// The parameter block of a component request: flags, the size of the parameters, the
// selector, then the parameters in pointer-sized slots (32 bits in the product).
struct ComponentParameters {
    UInt8 flags;
    UInt8 paramSize;
    std::int16_t what;
    std::intptr_t params[1];
};

// The entry QuickTime calls a component through.
using ComponentRoutineUPP = ComponentResult(QUICKTIME_CALL*)(ComponentParameters* params, Handle storage);
// A component request handler: the instance storage first, then the request's parameters.
using ComponentFunctionUPP = ComponentResult(QUICKTIME_CALL*)();

// The parameter block of a movie export component's export-to-data-reference request.
struct MovieExportToDataRefParameters {
    UInt8 flags;
    UInt8 paramSize;
    std::int16_t what;
    Handle dataRef;
    OSType dataRefType;
    Movie theMovie;
    Track onlyThisTrack;
    TimeValue startTime;
    TimeValue duration;
};
constexpr std::int16_t kMovieExportToDataRefSelect = 0x88;

#if defined(__i386__)
static_assert(sizeof(FSSpec) == 70);
static_assert(sizeof(ComponentDescription) == 20);
static_assert(sizeof(MovieExportToDataRefParameters) == 28);
static_assert(offsetof(MovieExportToDataRefParameters, paramSize) == 1);
static_assert(offsetof(MovieExportToDataRefParameters, what) == 2);
static_assert(offsetof(MovieExportToDataRefParameters, dataRef) == 4);
static_assert(offsetof(MovieExportToDataRefParameters, dataRefType) == 8);
static_assert(offsetof(MovieExportToDataRefParameters, theMovie) == 12);
static_assert(offsetof(MovieExportToDataRefParameters, onlyThisTrack) == 16);
static_assert(offsetof(MovieExportToDataRefParameters, startTime) == 20);
static_assert(offsetof(MovieExportToDataRefParameters, duration) == 24);
#endif

}  // namespace quicktime
