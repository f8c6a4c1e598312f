#include "digitizer_settings.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstring>

namespace pramble {

namespace qt = quicktime;

// QuickTime reads these records as they lie in memory: pin the layout the 32-bit product hands
// over, field by field where QuickTime's packing moves a field off its natural place.
static_assert(offsetof(qt::ImageDescription, cType) == 4);
static_assert(offsetof(qt::ImageDescription, dataRefIndex) == 14);
static_assert(offsetof(qt::ImageDescription, vendor) == 20);
static_assert(offsetof(qt::ImageDescription, width) == 32);
static_assert(offsetof(qt::ImageDescription, hRes) == 36);
static_assert(offsetof(qt::ImageDescription, frameCount) == 48);
static_assert(offsetof(qt::ImageDescription, name) == 50);
static_assert(offsetof(qt::ImageDescription, depth) == 82);
static_assert(offsetof(qt::ImageDescription, clutID) == 84);
static_assert(sizeof(qt::ImageDescription) == 86);
#if defined(__i386__)
static_assert(offsetof(qt::DigitizerInfo, inputCapabilityFlags) == 2);
static_assert(offsetof(qt::DigitizerInfo, slot) == 18);
static_assert(offsetof(qt::DigitizerInfo, gdh) == 20);
static_assert(offsetof(qt::DigitizerInfo, minDestHeight) == 28);
static_assert(offsetof(qt::DigitizerInfo, reserved) == 38);
static_assert(sizeof(qt::DigitizerInfo) == 42);
#endif

namespace {

constexpr long kFallbackMin = 0;
constexpr long kFallbackMax = 10000;
constexpr double kQuickTimeTop = 65535.0;

constexpr char kDescriptionName[] = "Skellit Video";
constexpr char kTypeNameSuffix[] = " VDIG";
constexpr qt::Fixed kSeventyTwoDpi = 0x00480000;

std::int16_t clampedSize(std::int32_t size, std::int32_t minimum, std::int32_t maximum) {
    size = std::max(size, minimum);
    size = std::min(size, maximum);
    return std::int16_t(std::clamp<std::int32_t>(size, SHRT_MIN, SHRT_MAX));
}

}  // namespace

ControlRange usableRange(bool rangeRead, long min, long max, long step, long defaultValue) {
    if (!rangeRead) return {kFallbackMin, kFallbackMax, 1, (kFallbackMin + kFallbackMax) / 2};
    return {min, max, std::max(step, 1L), defaultValue};
}

std::uint16_t toQuickTimeValue(double value, double min, double range) {
    if (!(range > 0.0)) return 0;  // no width (or no number): the bottom of QuickTime's scale
    const double scaled = std::trunc((value - min) * kQuickTimeTop / range);
    if (!(scaled > 0.0)) return 0;
    return scaled >= kQuickTimeTop ? std::uint16_t(65535) : std::uint16_t(scaled);
}

double fromQuickTimeValue(std::uint16_t quickTimeValue, double min, double range) {
    return double(quickTimeValue) * range / kQuickTimeTop + min;
}

long toDeviceValue(double x, long step) {
    step = std::max(step, 1L);
    const double truncated = std::trunc(x);
    long whole = 0;  // NaN stays 0
    // LONG_MAX need not be a double: compare against the power of two above it.
    if (truncated >= -double(LONG_MIN)) {
        whole = LONG_MAX;
    } else if (truncated <= double(LONG_MIN)) {
        whole = LONG_MIN;
    } else if (truncated == truncated) {
        whole = long(truncated);
    }
    return step * (whole / step);
}

std::int16_t inputFormatOf(long physicalType, bool& known) {
    known = true;
    switch (physicalType) {
        case 1: return kTvTunerIn;       // PhysConn_Video_Tuner
        case 2: return kCompositeIn;     // PhysConn_Video_Composite
        case 3: return kSVideoIn;        // PhysConn_Video_SVideo
        case 4: return kRgbComponentIn;  // PhysConn_Video_RGB
        case 5: return kYuvComponentIn;  // PhysConn_Video_YRYBY
        default: break;
    }
    // Serial and parallel digital, SCSI, AUX, 1394, USB, decoder, encoder, SCART.
    if (physicalType >= 6 && physicalType <= 14) return kSdiIn;
    known = false;
    return kCompositeIn;
}

qt::DigitizerInfo digitizerInfo(std::int32_t minWidth, std::int32_t minHeight, std::int32_t maxWidth,
                                std::int32_t maxHeight) {
    qt::DigitizerInfo info{};
    info.vdigType = 0;
    info.inputCapabilityFlags = kInputCapabilityFlags;
    info.outputCapabilityFlags = kOutputCapabilityFlags;
    info.inputCurrentFlags = kInputCurrentFlags;
    info.outputCurrentFlags = kOutputCurrentFlags;
    info.slot = 0;
    info.gdh = nullptr;
    info.maskgdh = nullptr;
    info.minDestHeight = std::int16_t(minHeight);
    info.minDestWidth = std::int16_t(minWidth);
    info.maxDestHeight = std::int16_t(maxHeight);
    info.maxDestWidth = std::int16_t(maxWidth);
    info.blendLevels = 0;
    info.reserved = 0;
    return info;
}

bool chooseCompression(OSType type, std::int16_t depth, const Rect& bounds, qt::CodecQ spatialQuality,
                       qt::CodecQ temporalQuality, std::int32_t keyFrameRate, std::int32_t minWidth,
                       std::int32_t minHeight, std::int32_t maxWidth, std::int32_t maxHeight, CompressionChoice& choice) {
    if (type == 0) {
        choice.depth = 16;
        choice.spatialQuality = kCodecNormalQuality;
        choice.temporalQuality = 0;
        choice.keyFrameRate = 0;
    } else if (type == kL555) {
        choice.depth = depth;
        choice.spatialQuality = spatialQuality;
        choice.temporalQuality = temporalQuality;
        choice.keyFrameRate = keyFrameRate;
    } else {
        return false;
    }
    choice.width = clampedSize(std::int32_t(bounds.right) - bounds.left, minWidth, maxWidth);
    choice.height = clampedSize(std::int32_t(bounds.bottom) - bounds.top, minHeight, maxHeight);
    return true;
}

qt::ImageDescription imageDescriptionFor(const CompressionChoice& choice) {
    qt::ImageDescription description{};
    description.idSize = std::int32_t(sizeof(qt::ImageDescription));
    description.cType = kL555;
    description.resvd1 = 0;
    description.resvd2 = 0;
    description.dataRefIndex = 0;
    description.version = 1;
    description.revisionLevel = 1;
    description.vendor = fourCharacterCode("appl");
    description.temporalQuality = choice.temporalQuality;
    description.spatialQuality = choice.spatialQuality;
    description.width = choice.width;
    description.height = choice.height;
    description.hRes = kSeventyTwoDpi;
    description.vRes = kSeventyTwoDpi;
    description.dataSize = 0;
    description.frameCount = 1;
    description.name[0] = std::uint8_t(sizeof kDescriptionName - 1);
    std::memcpy(description.name + 1, kDescriptionName, sizeof kDescriptionName - 1);
    description.depth = choice.depth;
    description.clutID = -1;
    return description;
}

qt::VDCompressionList compressionEntryFor(const qt::CodecInfo& codec) {
    qt::VDCompressionList entry{};
    entry.codec = nullptr;
    entry.cType = kL555;
    const std::size_t length = std::min<std::size_t>(codec.typeName[0], sizeof codec.typeName - 1);
    std::memcpy(entry.typeName + 1, codec.typeName + 1, length);
    std::memcpy(entry.typeName + 1 + length, kTypeNameSuffix, sizeof kTypeNameSuffix - 1);
    entry.typeName[0] = std::uint8_t(length + sizeof kTypeNameSuffix - 1);
    std::memcpy(entry.name, entry.typeName, sizeof entry.name);
    entry.formatFlags = codec.formatFlags;
    entry.compressFlags = codec.compressFlags;
    return entry;
}

std::uint32_t frameBytesInView(std::uint32_t writtenCount, std::size_t viewSize) {
    if (viewSize <= kFrameHeaderSize) return 0;
    const std::size_t room = viewSize - kFrameHeaderSize;
    return writtenCount > room ? std::uint32_t(std::min<std::size_t>(room, UINT32_MAX)) : writtenCount;
}

}  // namespace pramble
