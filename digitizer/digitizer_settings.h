// The arithmetic and records behind the digitizer's settings requests: picture controls between
// QuickTime's 0..65535 and a device's range, the input formats of crossbar connectors, the
// capability report, the compression choice and its image description, and the frame slot's
// byte count. Portable: the requests and the frame channel call these, the native suite tests them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "quicktime_records.h"

namespace pramble {

// --- picture controls ---------------------------------------------------------------------

// A device control's range as the digitizer uses it.
struct ControlRange {
    long min;
    long max;
    long step;
    long defaultValue;
};

// What GetRange gave, made usable: a failed read takes 0..10000 with its middle as default; a
// stepping delta below 1 becomes 1, so no value is ever divided by zero.
ControlRange usableRange(bool rangeRead, long min, long max, long step, long defaultValue);

// A held value as QuickTime sees it: trunc((value - min) * 65535 / range), kept within 0..65535
// (a device value outside its own range, or a range of no width, gives an end, never garbage).
std::uint16_t toQuickTimeValue(double value, double min, double range);

// Where QuickTime's value lands in the held range: value * range / 65535 + min.
double fromQuickTimeValue(std::uint16_t quickTimeValue, double min, double range);

// The device value for x: step * (trunc(x) / step), x kept within what a long holds.
long toDeviceValue(double x, long step);

// --- inputs -------------------------------------------------------------------------------

constexpr std::int16_t kCompositeIn = 0;
constexpr std::int16_t kSVideoIn = 1;
constexpr std::int16_t kRgbComponentIn = 2;
constexpr std::int16_t kYuvComponentIn = 4;
constexpr std::int16_t kTvTunerIn = 6;
constexpr std::int16_t kSdiIn = 7;

// QuickTime's input format for a crossbar connector's physical type; known is false (and the
// format composite) for a type outside the video connectors 1..14.
std::int16_t inputFormatOf(long physicalType, bool& known);

// --- capabilities -------------------------------------------------------------------------

constexpr std::int32_t kInputCapabilityFlags = 0x00001507;
constexpr std::int32_t kOutputCapabilityFlags = 0x1A006000;
constexpr std::int32_t kInputCurrentFlags = std::int32_t(0x80001507u);
constexpr std::int32_t kOutputCurrentFlags = 0;

// The capability report for a digitizer of these frame limits.
quicktime::DigitizerInfo digitizerInfo(std::int32_t minWidth, std::int32_t minHeight, std::int32_t maxWidth,
                                       std::int32_t maxHeight);

// --- compression --------------------------------------------------------------------------

constexpr OSType kL555 = fourCharacterCode("L555");
constexpr OSErr kNoCodecErr = -8961;
constexpr quicktime::CodecQ kCodecNormalQuality = 512;

// What VDSetCompression settles: the type 'L555', its depth, qualities and key frame rate, and
// the frame size within the limits.
struct CompressionChoice {
    std::int16_t depth;
    quicktime::CodecQ spatialQuality;
    quicktime::CodecQ temporalQuality;
    std::int32_t keyFrameRate;
    std::int16_t width;
    std::int16_t height;
};

// Type 0 takes the defaults (16 bits, normal spatial quality, none temporal, no key frames),
// 'L555' the values given; anything else answers false. The bounds' size is raised to the
// minimum and lowered to the maximum.
bool chooseCompression(OSType type, std::int16_t depth, const Rect& bounds, quicktime::CodecQ spatialQuality,
                       quicktime::CodecQ temporalQuality, std::int32_t keyFrameRate, std::int32_t minWidth,
                       std::int32_t minHeight, std::int32_t maxWidth, std::int32_t maxHeight, CompressionChoice& choice);

// The image description of a chosen compression: 'L555' frames, raw, at 72 dpi.
quicktime::ImageDescription imageDescriptionFor(const CompressionChoice& choice);

// The one entry of the compression types list: the codec's type name (at most 31 characters,
// whatever its length byte claims) with " VDIG", the same as its name, and the codec's flags.
quicktime::VDCompressionList compressionEntryFor(const quicktime::CodecInfo& codec);

// --- the frame slot -----------------------------------------------------------------------

// The slot's header before the frame data: the byte count and two words of the dump filter.
constexpr std::size_t kFrameHeaderSize = 12;

// The frame's byte count as it may be handed on: the count the dump filter wrote, no larger
// than the view holds after the header (0 when the view holds no more than the header).
std::uint32_t frameBytesInView(std::uint32_t writtenCount, std::size_t viewSize);

}  // namespace pramble
