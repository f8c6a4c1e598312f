// QuickTime's settings requests through the component: rectangles, picture controls on the
// device's amplifier, inputs over crossbar routes, capabilities and the compression records.
#include <windows.h>
#include <dshow.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include <quicktime/digitizer_binding.h>
#include <tavro_test/box_dismisser.h>

#include "digitizer_session.h"
#include "digitizer_settings.h"

namespace {

using namespace pramble_test;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using quicktime::ComponentResult;
using quicktime::Rect;
using Set = std::pair<long, long>;
namespace qt = quicktime::digitizer;

enum Selector : std::int16_t {
    kGetMaxSrcRect = 1, kGetActiveSrcRect = 2, kSetDigitizerRect = 3, kGetDigitizerRect = 4,
    kSetBrightness = 12, kGetBrightness = 13, kSetHue = 15, kGetHue = 19, kGetSharpness = 20,
    kGetDigitizerInfo = 25, kGetCurrentFlags = 26, kSetBlackLevel = 55, kGetBlackLevel = 56,
    kGetVideoDefaults = 59, kGetNumberOfInputs = 60, kGetInputFormat = 61, kSetInput = 62, kGetInput = 63,
    kSetInputStandard = 64, kSetCompression = 68, kGetImageDescription = 72, kSetCompressionOnOff = 74,
    kGetCompressionTypes = 75,
};

bool operator==(const Rect& a, const Rect& b) {
    return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right;
}

class DigitizerRequestsTest : public DigitizerSession {
protected:
    void open(CaptureConfig device = {}) {
        DumpConfig dump;
        dump.outsideJob = std::make_shared<DumpOutsideJob>();
        addDump(dump);
        record = device.record;
        addDevice(L"dev0", L"Cam", device);
        ASSERT_EQ(registerDevices(), 1u);
        ComponentResult opened = 1;
        openDevice(0, &opened);
        ASSERT_EQ(opened, 0);
    }
    std::shared_ptr<CaptureRecord> record;
};

TEST_F(DigitizerRequestsTest, SourceRectanglesFollowTheConnectedFrame) {
    open();
    Rect rect{};
    EXPECT_EQ(request(kGetMaxSrcRect, {0, arg(&rect)}), 0);
    EXPECT_TRUE(rect == (Rect{0, 0, 480, 640}));
    EXPECT_EQ(request(kGetMaxSrcRect, {1, arg(&rect)}), -50);
    Rect active{};
    EXPECT_EQ(request(kGetActiveSrcRect, {1, arg(&active)}), 0) << "whatever the standard";
    EXPECT_TRUE(active == (Rect{0, 0, 480, 640}));
    const Rect outside{0, 0, 480, 641}, empty{10, 10, 10, 100}, inside{10, 10, 100, 100};
    EXPECT_EQ(request(kSetDigitizerRect, {arg(&outside)}), -50);
    EXPECT_EQ(request(kSetDigitizerRect, {arg(&empty)}), -50);
    EXPECT_EQ(request(kSetDigitizerRect, {0}), -50);
    EXPECT_EQ(request(kSetDigitizerRect, {arg(&inside)}), 0);
    EXPECT_EQ(request(kGetDigitizerRect, {arg(&rect)}), 0);
    EXPECT_TRUE(rect == inside);
    EXPECT_EQ(request(kSetInputStandard, {0}), 0);
    EXPECT_EQ(request(kSetInputStandard, {1}), -50);
}

TEST_F(DigitizerRequestsTest, PictureControlsMapOntoTheAmplifier) {
    CaptureConfig device;
    device.procAmp = true;
    device.controls = {{VideoProcAmp_Brightness, 0, 255, 1, 100, 128}, {VideoProcAmp_Hue, 0, 255, 10, 128, 0}};
    open(device);
    std::uint16_t value = 0;
    EXPECT_EQ(request(kGetBrightness, {arg(&value)}), 0);
    EXPECT_EQ(value, 32896);
    std::uint16_t mid = 32768;
    EXPECT_EQ(request(kSetHue, {arg(&mid)}), 0) << "before any get of the hue";
    EXPECT_THAT(record->procAmpSets, ElementsAre(Set(VideoProcAmp_Hue, 120))) << "the mid value, down to the step";
    EXPECT_EQ(request(kGetHue, {arg(&value)}), 0);
    EXPECT_EQ(value, 30840);  // trunc(120 * 65535 / 255)
    value = 0;
    EXPECT_EQ(request(kGetBlackLevel, {arg(&value)}), -50);
    EXPECT_EQ(value, 32767) << "written even though the control is missing";
    EXPECT_EQ(request(kSetBlackLevel, {arg(&mid)}), -50);
    value = 0;
    EXPECT_EQ(request(kGetSharpness, {arg(&value)}), -50) << "the device has no sharpness";
    EXPECT_EQ(value, 3) << "its range falls back to 0..10000 around the held 0.5";

    EXPECT_EQ(request(kGetVideoDefaults, {0, 0, 0, 0, 0, 0, 0}), 0);
    std::uint16_t defaults[7] = {};
    EXPECT_EQ(request(kGetVideoDefaults, {arg(&defaults[0]), arg(&defaults[1]), arg(&defaults[2]), arg(&defaults[3]),
                                          arg(&defaults[4]), arg(&defaults[5]), arg(&defaults[6])}), 0);
    // Black, white, brightness (100 of 255), hue (128 of 255), saturation, contrast, sharpness
    // (the fallback range's middle).
    EXPECT_THAT(defaults, ElementsAre(32767, 32767, 25700, 32896, 32767, 32767, 32767));
}

TEST_F(DigitizerRequestsTest, CapabilitiesCarryTheFrameLimits) {
    open();
    long inputFlags = 1, outputFlags = 1;
    quicktime::DigitizerInfo info{};
    std::memset(&info, 0x55, sizeof info);
    EXPECT_EQ(request(kGetDigitizerInfo, {arg(&info)}), 0);
    EXPECT_EQ(info.vdigType, 0);
    EXPECT_EQ(info.inputCapabilityFlags, 0x00001507);
    EXPECT_EQ(info.outputCapabilityFlags, 0x1A006000);
    EXPECT_EQ(std::uint32_t(info.inputCurrentFlags), 0x80001507u);
    EXPECT_EQ(info.outputCurrentFlags, 0);
    EXPECT_EQ(info.slot, 0);
    EXPECT_EQ(info.gdh, nullptr);
    EXPECT_EQ(info.maskgdh, nullptr);
    EXPECT_EQ(info.minDestWidth, 640);
    EXPECT_EQ(info.minDestHeight, 480);
    EXPECT_EQ(info.maxDestWidth, 640);
    EXPECT_EQ(info.maxDestHeight, 480);
    EXPECT_EQ(info.blendLevels, 0);
    EXPECT_EQ(info.reserved, 0);
    EXPECT_EQ(request(kGetCurrentFlags, {arg(&inputFlags), arg(&outputFlags)}), 0);
    EXPECT_EQ(std::uint32_t(inputFlags), 0x80001507u);
    EXPECT_EQ(outputFlags, 0);
}

TEST_F(DigitizerRequestsTest, CompressionRecordsAreQuickTimesOwn) {
    open();
    quicktime::Handle description = qt::NewHandle(0);
    EXPECT_EQ(request(kGetImageDescription, {arg(description)}), -2209) << "no compression set yet";
    const Rect bounds{0, 0, 240, 320};
    ASSERT_EQ(request(kSetCompression, {0, 8, arg(&bounds), 1023, 77, 5}), 0);
    ASSERT_EQ(request(kGetImageDescription, {arg(description)}), 0);
    ASSERT_EQ(qt::GetHandleSize(description), 86);
    quicktime::ImageDescription got{};
    std::memcpy(&got, *description, sizeof got);
    pramble::CompressionChoice expected{16, 512, 0, 0, 640, 480};  // the connected size, the defaults
    const quicktime::ImageDescription want = pramble::imageDescriptionFor(expected);
    EXPECT_EQ(std::memcmp(&got, &want, sizeof got), 0);
    EXPECT_EQ(got.width, 640);
    EXPECT_EQ(got.height, 480);

    EXPECT_EQ(request(kSetCompression, {std::intptr_t(pramble::fourCharacterCode("jpeg")), 16, arg(&bounds), 0, 0, 0}),
              -8961);
    ASSERT_EQ(request(kGetImageDescription, {arg(description)}), 0) << "the previous description stays";
    EXPECT_EQ(std::memcmp(*description, &want, sizeof want), 0);

    quicktime::Handle types = qt::NewHandle(0);
    ASSERT_EQ(request(kGetCompressionTypes, {arg(types)}), 0);
    ASSERT_EQ(qt::GetHandleSize(types), long(sizeof(quicktime::VDCompressionList)));  // 148 in the product
    quicktime::VDCompressionList entry{};
    std::memcpy(&entry, *types, sizeof entry);
    EXPECT_EQ(entry.cType, pramble::fourCharacterCode("L555"));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(entry.typeName) + 1, entry.typeName[0]), "RGB 555 Video VDIG");

    standIn.failRoutine(0x00030003, -8961);  // no codec information: the suffix alone
    ASSERT_EQ(request(kGetCompressionTypes, {arg(types)}), 0);
    std::memcpy(&entry, *types, sizeof entry);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(entry.typeName) + 1, entry.typeName[0]), " VDIG");
    standIn.failRoutine(0x00150033, -108);  // the list cannot grow
    EXPECT_EQ(request(kGetCompressionTypes, {arg(types)}), -108);

    standIn.failRoutine(0x00150008, -108);  // no memory for a new description
    EXPECT_EQ(request(kSetCompression, {0, 16, arg(&bounds), 0, 0, 0}), -108);
    EXPECT_EQ(request(kGetImageDescription, {arg(description)}), -2209) << "the old one is gone, no new one came";
    qt::DisposeHandle(types);
    qt::DisposeHandle(description);
}

// Composite, S-Video and a connector of an unknown type 15, each a route of the card's crossbar.
TEST_F(DigitizerRequestsTest, InputsAreCrossbarRoutes) {
    const GUID card = {0x7e3c1a40, 0x0b6d, 0x4f21, {0xa9, 0xc3, 0x11, 0xd0, 0xe5, 0xf6, 0x00, 0x14}};
    CrossbarConfig crossbar;
    crossbar.card = card;
    crossbar.inputs = {{PhysConn_Video_Composite}, {PhysConn_Video_SVideo}, {15}};
    crossbar.outputs = {{PhysConn_Video_VideoDecoder, 0}};
    const auto routes = crossbar.record;
    addCrossbar(L"xbar0", crossbar);
    CaptureConfig device;
    device.inputPin = true;
    device.card = card;
    open(device);

    short inputs = 0;
    EXPECT_EQ(request(kGetNumberOfInputs, {arg(&inputs)}), 0);
    EXPECT_EQ(inputs, 2);
    tavro::test::BoxDismisser boxes;
    const std::pair<short, short> formats[] = {{0, pramble::kCompositeIn}, {1, pramble::kSVideoIn}, {2, pramble::kCompositeIn}};
    for (const auto& [input, format] : formats) {
        short answer = -1;
        EXPECT_EQ(request(kGetInputFormat, {input, arg(&answer)}), 0) << input;
        EXPECT_EQ(answer, format) << input;
    }
    EXPECT_THAT(boxes.texts(), ElementsAre("0Cam-WDM : Unknown analog video format\n"));
    short answer = 0;
    EXPECT_EQ(request(kGetInputFormat, {3, arg(&answer)}), -50);
    EXPECT_EQ(request(kGetInputFormat, {-1, arg(&answer)}), -50) << "a negative input names none";
    EXPECT_EQ(request(kSetInput, {-1}), -50);
    EXPECT_EQ(request(kSetInput, {3}), -50);

    routes->routes.clear();
    EXPECT_EQ(request(kSetInput, {1}), 0);
    EXPECT_THAT(routes->routes, ElementsAre(std::pair<LONG, LONG>(0, 1)));
    short current = -1;
    EXPECT_EQ(request(kGetInput, {arg(&current)}), 0);
    EXPECT_EQ(current, 1);

    // During capture the input changes with compression switched off and on again; the image
    // description goes with the switch, so QuickTime sets the compression again.
    const Rect bounds{0, 0, 480, 640};
    ASSERT_EQ(request(kSetCompression, {0, 16, arg(&bounds), 0, 0, 0}), 0);
    ASSERT_EQ(request(kSetCompressionOnOff, {1}), 0);
    EXPECT_EQ(request(kSetInput, {0}), 0);
    EXPECT_EQ(request(kGetInput, {arg(&current)}), 0);
    EXPECT_EQ(current, 0);
    EXPECT_EQ(request(kSetCompressionOnOff, {1}), -2209) << "on again after the switch";
    quicktime::Handle description = qt::NewHandle(0);
    EXPECT_EQ(request(kGetImageDescription, {arg(description)}), -2209);
    qt::DisposeHandle(description);
    EXPECT_EQ(request(kSetCompressionOnOff, {0}), 0);
}

}  // namespace
