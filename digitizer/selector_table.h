// The component's selector table: which requests have a handler, and the bytes each handler
// takes after the instance. The entry point dispatches from it and can-do answers from it.
// Portable: no handler code here, only the request each selector names.
#pragma once

#include <cstdint>

namespace pramble {

// Every request the component answers; X(selector, name, parameters after the instance).
#define PRAMBLE_REQUESTS(X)                \
    X(-5, Register, 0)                     \
    X(-4, Version, 0)                      \
    X(-3, CanDo, 1)                        \
    X(-2, Close, 1)                        \
    X(-1, Open, 1)                         \
    X(1, GetMaxSrcRect, 2)                 \
    X(2, GetActiveSrcRect, 2)              \
    X(3, SetDigitizerRect, 1)              \
    X(4, GetDigitizerRect, 1)              \
    X(12, SetBrightness, 1)                \
    X(13, GetBrightness, 1)                \
    X(14, SetContrast, 1)                  \
    X(15, SetHue, 1)                       \
    X(16, SetSharpness, 1)                 \
    X(17, SetSaturation, 1)                \
    X(18, GetContrast, 1)                  \
    X(19, GetHue, 1)                       \
    X(20, GetSharpness, 1)                 \
    X(21, GetSaturation, 1)                \
    X(25, GetDigitizerInfo, 1)             \
    X(26, GetCurrentFlags, 2)              \
    X(50, PreflightDestination, 4)         \
    X(55, SetBlackLevelValue, 1)           \
    X(56, GetBlackLevelValue, 1)           \
    X(57, SetWhiteLevelValue, 1)           \
    X(58, GetWhiteLevelValue, 1)           \
    X(59, GetVideoDefaults, 7)             \
    X(60, GetNumberOfInputs, 1)            \
    X(61, GetInputFormat, 2)               \
    X(62, SetInput, 1)                     \
    X(63, GetInput, 1)                     \
    X(64, SetInputStandard, 1)             \
    X(68, SetCompression, 6)               \
    X(69, CompressOneFrameAsync, 0)        \
    X(70, CompressDone, 5)                 \
    X(71, ReleaseCompressBuffer, 1)        \
    X(72, GetImageDescription, 1)          \
    X(73, ResetCompressSequence, 0)        \
    X(74, SetCompressionOnOff, 1)          \
    X(75, GetCompressionTypes, 1)          \
    X(76, SetTimeBase, 1)                  \
    X(77, SetFrameRate, 1)                 \
    X(81, GetPreferredTimeScale, 1)

enum class Request : std::uint8_t {
    None,  // the table's marker for a selector without handler
#define PRAMBLE_REQUEST_NAME(selector, name, parameters) name,
    PRAMBLE_REQUESTS(PRAMBLE_REQUEST_NAME)
#undef PRAMBLE_REQUEST_NAME
};

struct SelectorEntry {
    Request request;
    // Bytes the handler takes on the 32-bit stack: the instance, then one slot per parameter.
    // Zero only in the no-handler marker.
    std::uint8_t descriptor;
};

constexpr int kComponentSelectors = 5;  // -5 to -1
constexpr int kRangeZeroSelectors = 94;  // 0 to 93

// The entry for a selector: the no-handler marker for negatives below -5, for 94 and above in
// range 0, and for every other range.
SelectorEntry lookUpSelector(std::int16_t selector);

// Whether a request with this selector has a handler (the component-level ones count).
bool canDo(std::int16_t selector);

}  // namespace pramble
