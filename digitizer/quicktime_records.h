// The records of the digitizer's requests, completing QuickTime's types of the binding: declared
// once, with QuickTime's 2-byte packing, so their layouts are QuickTime's own byte for byte in
// the 32-bit product. No windows.h: the portable code and its native tests use them too.
#pragma once

#include <cstdint>

#include <quicktime/types.h>

namespace quicktime {

using Fixed = std::int32_t;
using CodecQ = std::uint32_t;

#pragma pack(push, 2)

struct ImageDescription {
    std::int32_t idSize;
    OSType cType;
    std::int32_t resvd1;
    std::int16_t resvd2;
    std::int16_t dataRefIndex;
    std::int16_t version;
    std::int16_t revisionLevel;
    OSType vendor;
    CodecQ temporalQuality;
    CodecQ spatialQuality;
    std::int16_t width;
    std::int16_t height;
    Fixed hRes;
    Fixed vRes;
    std::int32_t dataSize;
    std::int16_t frameCount;
    std::uint8_t name[32];  // Str31
    std::int16_t depth;
    std::int16_t clutID;
};

struct DigitizerInfo {
    std::int16_t vdigType;
    std::int32_t inputCapabilityFlags;
    std::int32_t outputCapabilityFlags;
    std::int32_t inputCurrentFlags;
    std::int32_t outputCurrentFlags;
    std::int16_t slot;
    void* gdh;
    void* maskgdh;
    std::int16_t minDestHeight;
    std::int16_t minDestWidth;
    std::int16_t maxDestHeight;
    std::int16_t maxDestWidth;
    std::int16_t blendLevels;
    std::int32_t reserved;
};

struct VDCompressionList {
    Component codec;
    OSType cType;
    std::uint8_t typeName[64];  // Str63
    std::uint8_t name[64];      // Str63
    std::int32_t formatFlags;
    std::int32_t compressFlags;
    std::int32_t reserved;
};

struct CodecInfo {
    std::uint8_t typeName[32];  // Str31
    std::int16_t version;
    std::int16_t revisionLevel;
    std::int32_t vendor;
    std::int32_t decompressFlags;
    std::int32_t compressFlags;
    std::int32_t formatFlags;
    std::uint8_t compressionAccuracy;
    std::uint8_t decompressionAccuracy;
    std::uint16_t compressionSpeed;
    std::uint16_t decompressionSpeed;
    std::uint8_t compressionLevel;
    std::uint8_t resvd;
    std::int16_t minimumHeight;
    std::int16_t minimumWidth;
    std::int16_t decompressPipelineLatency;
    std::int16_t compressPipelineLatency;
    std::int32_t privateData;
};

struct TimeRecord {
    std::int64_t value;  // CompTimeValue: QuickTime's wide, low word first on Windows
    std::int32_t scale;
    TimeBase base;
};

#pragma pack(pop)

#if defined(__i386__)
static_assert(sizeof(Rect) == 8);
static_assert(sizeof(ComponentParameters) == 8);
static_assert(sizeof(ImageDescription) == 86);
static_assert(sizeof(DigitizerInfo) == 42);
static_assert(sizeof(VDCompressionList) == 148);
static_assert(sizeof(CodecInfo) == 72);
static_assert(sizeof(TimeRecord) == 16);
#endif

}  // namespace quicktime

namespace pramble {

using quicktime::ComponentDescription;
using quicktime::ComponentParameters;
using quicktime::Handle;
using quicktime::OSErr;
using quicktime::OSType;
using quicktime::Rect;

// Component results are 32-bit on Windows; written so here, the native build keeps that width.
using ComponentResult32 = std::int32_t;

// Answers QuickTime gives and expects.
constexpr ComponentResult32 kBadComponentSelector = ComponentResult32(0x80008002u);
constexpr OSErr kParamErr = -50;
constexpr OSErr kMemFullErr = -108;

constexpr OSType fourCharacterCode(const char (&code)[5]) { return quicktime::fourCharCode(code); }

}  // namespace pramble
