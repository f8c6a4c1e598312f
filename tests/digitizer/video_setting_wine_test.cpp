// The picture controls over a stand-in device's video processing amplifier.
#include <windows.h>
#include <dshow.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "standins/directshow_standins.h"
#include "video_setting.h"

namespace {

using namespace pramble_test;
using ::testing::ElementsAre;
using Set = std::pair<long, long>;

class VideoSettingTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr))); }
    void TearDown() override {
        device_.Reset();
        EXPECT_EQ(liveFilters(), 0);
        ::CoUninitialize();
    }
    IBaseFilter* device(std::vector<ProcAmpControl> controls, bool procAmp = true) {
        CaptureConfig config;
        config.procAmp = procAmp;
        config.controls = std::move(controls);
        record_ = config.record;
        tavro::adopt(device_, createCaptureDevice(CLSID_NULL, config));
        return device_.Get();
    }
    std::shared_ptr<CaptureRecord> record_;

private:
    tavro::ComPtr<IBaseFilter> device_;
};

TEST_F(VideoSettingTest, RefreshReadsTheDevicesRangeDefaultAndValue) {
    pramble::ProcAmpSetting brightness(VideoProcAmp_Brightness, device({{VideoProcAmp_Brightness, 0, 255, 1, 100, 128}}));
    EXPECT_EQ(brightness.refresh(), 0);
    EXPECT_EQ(brightness.min, 0.0);
    EXPECT_EQ(brightness.max, 255.0);
    EXPECT_EQ(brightness.range, 255.0);
    EXPECT_EQ(brightness.defaultValue, 100.0);
    EXPECT_EQ(brightness.value, 128.0);
}

TEST_F(VideoSettingTest, SetMapsFromTheRangeHeldAtTheLastRefresh) {
    pramble::ProcAmpSetting hue(VideoProcAmp_Hue, device({{VideoProcAmp_Hue, 0, 255, 10, 128, 128}}));
    EXPECT_EQ(hue.set(32768), 0) << "before any refresh the range the set reads is used";
    ASSERT_EQ(hue.refresh(), 0);
    EXPECT_EQ(hue.set(32768), 0);  // 127.5: truncated to 127, then down to the step
    EXPECT_EQ(hue.set(65535), 0);
    EXPECT_THAT(record_->procAmpSets, ElementsAre(Set(VideoProcAmp_Hue, 120), Set(VideoProcAmp_Hue, 120),
                                                  Set(VideoProcAmp_Hue, 250)));
}

TEST_F(VideoSettingTest, ARangeTheDeviceCannotGiveFallsBackToTenThousand) {
    pramble::ProcAmpSetting contrast(VideoProcAmp_Contrast,
                                     device({{VideoProcAmp_Contrast, 0, 0, 0, 0, 4000, /*rangeFails=*/true}}));
    EXPECT_EQ(contrast.refresh(), 0);
    EXPECT_EQ(contrast.min, 0.0);
    EXPECT_EQ(contrast.max, 10000.0);
    EXPECT_EQ(contrast.value, 4000.0);
    EXPECT_EQ(contrast.set(65535), 0) << "a device without a stepping delta takes the value itself";
    EXPECT_THAT(record_->procAmpSets, ElementsAre(Set(VideoProcAmp_Contrast, 10000)));
}

TEST_F(VideoSettingTest, ControlsTheDeviceLacksAnswerMinus50) {
    IBaseFilter* withControls = device({{VideoProcAmp_Brightness, 0, 255, 1, 128, 128}});
    pramble::ProcAmpSetting blackLevel(-1, withControls);
    EXPECT_EQ(blackLevel.refresh(), -50);
    EXPECT_EQ(blackLevel.set(1), -50);
    pramble::ProcAmpSetting sharpness(VideoProcAmp_Sharpness, withControls);
    EXPECT_EQ(sharpness.refresh(), -50) << "the device has no sharpness";
    pramble::ProcAmpSetting noDevice(VideoProcAmp_Brightness, nullptr);
    EXPECT_EQ(noDevice.refresh(), -50);
    EXPECT_EQ(noDevice.set(1), -50);
    pramble::ProcAmpSetting noAmplifier(VideoProcAmp_Brightness, device({}, false));
    EXPECT_EQ(noAmplifier.refresh(), -50);
    pramble::VideoSetting plain;
    EXPECT_EQ(plain.refresh(), -50);
    EXPECT_EQ(plain.set(1), -50);
    EXPECT_EQ(plain.value, 0.5);
    EXPECT_EQ(plain.defaultValue, 0.5);
}

}  // namespace
