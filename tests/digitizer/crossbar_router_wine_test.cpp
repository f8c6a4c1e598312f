// The route search and route selection over stand-in crossbars connected pin to pin.
#include <windows.h>
#include <dshow.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "crossbar_router.h"
#include "filter_pins.h"
#include "standins/directshow_standins.h"

namespace {

using namespace pramble_test;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Call = std::pair<LONG, LONG>;

// {9B1D7C20-4E5A-4B3F-8C21-6A0F3E7D0001}
const GUID kCard = {0x9b1d7c20, 0x4e5a, 0x4b3f, {0x8c, 0x21, 0x6a, 0x0f, 0x3e, 0x7d, 0x00, 0x01}};

class CrossbarRouterTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr))); }
    void TearDown() override {
        for (auto& [output, input] : connections_) {
            output->Disconnect();
            input->Disconnect();
        }
        connections_.clear();
        filters_.clear();
        EXPECT_EQ(liveFilters(), 0);
        ::CoUninitialize();
    }

    IBaseFilter* crossbar(std::vector<CrossbarPinConfig> inputs, std::vector<CrossbarPinConfig> outputs,
                          std::shared_ptr<CrossbarRecord>* record = nullptr) {
        CrossbarConfig config;
        config.card = kCard;
        config.inputs = std::move(inputs);
        config.outputs = std::move(outputs);
        if (record) *record = config.record;
        return keep(createCrossbar(CLSID_NULL, config));
    }
    // A capture filter whose analog input is the pin the routes end at.
    IPin* captureInput() {
        CaptureConfig config;
        config.inputPin = true;
        config.card = kCard;
        IBaseFilter* device = keep(createCaptureDevice(CLSID_NULL, config));
        return pin(device, PINDIR_INPUT, 0);
    }
    IPin* pin(IBaseFilter* filter, PIN_DIRECTION direction, int index) {
        tavro::ComPtr<IPin> found;
        tavro::adopt(found, pramble::pinOfDirection(filter, direction, index));
        return found.Get();  // the filter keeps it alive
    }
    void connect(IPin* output, IPin* input) {
        ASSERT_EQ(output->Connect(input, nullptr), S_OK);
        connections_.emplace_back(output, input);
    }

private:
    IBaseFilter* keep(IBaseFilter* filter) {
        filters_.emplace_back();
        tavro::adopt(filters_.back(), filter);
        return filter;
    }
    std::vector<tavro::ComPtr<IBaseFilter>> filters_;
    std::vector<std::pair<IPin*, IPin*>> connections_;
};

TEST_F(CrossbarRouterTest, ChainedCrossbarsAreSearchedDepthFirst) {
    std::shared_ptr<CrossbarRecord> upstreamCalls;
    std::shared_ptr<CrossbarRecord> downstreamCalls;
    IBaseFilter* upstream = crossbar({{PhysConn_Video_Tuner}, {PhysConn_Video_Composite}},
                                     {{PhysConn_Video_VideoDecoder}}, &upstreamCalls);
    IBaseFilter* downstream = crossbar({{PhysConn_Video_Composite}, {PhysConn_Video_SVideo}},
                                       {{PhysConn_Video_VideoDecoder}}, &downstreamCalls);
    IPin* input = captureInput();
    connect(pin(upstream, PINDIR_OUTPUT, 0), pin(downstream, PINDIR_INPUT, 0));
    connect(pin(downstream, PINDIR_OUTPUT, 0), input);

    pramble::CrossbarRouter router(input);
    ASSERT_EQ(router.inputCount(), 3);
    const std::vector<std::vector<std::pair<LONG, LONG>>> expected = {
        {{0, 1}, {0, 0}},  // (input, depth) of each entry, farthest upstream first
        {{1, 1}, {0, 0}},
        {{1, 0}},
    };
    for (int r = 0; r < 3; ++r) {
        std::vector<std::pair<LONG, LONG>> entries;
        for (const auto& entry : router.routes()[std::size_t(r)]) entries.emplace_back(entry.videoInputIndex, entry.depth);
        EXPECT_EQ(entries, expected[std::size_t(r)]) << "route " << r;
    }
    LONG type = 0;
    const LONG origins[] = {PhysConn_Video_Tuner, PhysConn_Video_Composite, PhysConn_Video_SVideo};
    for (int r = 0; r < 3; ++r) {
        EXPECT_EQ(router.inputType(r, &type), S_OK);
        EXPECT_EQ(type, origins[r]) << "route " << r;
    }

    EXPECT_EQ(router.selectRoute(1), S_OK);
    EXPECT_THAT(upstreamCalls->routes, ElementsAre(Call(0, 1)));
    EXPECT_THAT(downstreamCalls->routes, ElementsAre(Call(0, 0)));
    EXPECT_EQ(router.currentRoute(), 1);
}

TEST_F(CrossbarRouterTest, RoutesOutOfRangeAreRefusedAndChangeNothing) {
    std::shared_ptr<CrossbarRecord> calls;
    IBaseFilter* only = crossbar({{PhysConn_Video_Composite}, {PhysConn_Video_SVideo}}, {{PhysConn_Video_VideoDecoder}},
                                 &calls);
    IPin* input = captureInput();
    connect(pin(only, PINDIR_OUTPUT, 0), input);
    pramble::CrossbarRouter router(input);
    ASSERT_EQ(router.inputCount(), 2);
    ASSERT_EQ(router.selectRoute(1), S_OK);
    calls->routes.clear();
    for (int route : {2, 3, -1, -2}) {
        EXPECT_EQ(router.selectRoute(route), E_FAIL) << route;
        LONG type = 0;
        EXPECT_EQ(router.inputType(route, &type), E_FAIL) << route;
    }
    EXPECT_THAT(calls->routes, IsEmpty());
    EXPECT_EQ(router.currentRoute(), 1);
}

TEST_F(CrossbarRouterTest, SelectingRoutesTheAudioOnlyWhenBothRelatedPinsExist) {
    std::shared_ptr<CrossbarRecord> calls;
    // Input 0's audio is input 2; input 1 has none. Output 0's audio is output 1.
    IBaseFilter* only = crossbar({{PhysConn_Video_Composite, 2}, {PhysConn_Video_SVideo, -1}, {PhysConn_Audio_Line, 0}},
                                 {{PhysConn_Video_VideoDecoder, 1}, {PhysConn_Audio_AudioDecoder, 0}}, &calls);
    IPin* input = captureInput();
    connect(pin(only, PINDIR_OUTPUT, 0), input);
    pramble::CrossbarRouter router(input);
    ASSERT_EQ(router.inputCount(), 2);
    EXPECT_EQ(router.selectRoute(0), S_OK);
    EXPECT_EQ(router.selectRoute(1), S_OK);
    EXPECT_THAT(calls->routes, ElementsAre(Call(0, 0), Call(1, 2), Call(0, 1)));
}

TEST_F(CrossbarRouterTest, NoCrossbarUpstreamGivesNoRoutes) {
    IPin* input = captureInput();
    pramble::CrossbarRouter unconnected(input);
    EXPECT_EQ(unconnected.inputCount(), 0);
}

TEST_F(CrossbarRouterTest, ACrossbarLoopEndsTheSearch) {
    // Output 1 feeds the crossbar's own input 0: every step upstream finds the same crossbar.
    IBaseFilter* looped = crossbar({{PhysConn_Video_Composite}, {PhysConn_Video_SVideo}},
                                   {{PhysConn_Video_VideoDecoder}, {PhysConn_Video_Composite}});
    IPin* input = captureInput();
    connect(pin(looped, PINDIR_OUTPUT, 1), pin(looped, PINDIR_INPUT, 0));
    connect(pin(looped, PINDIR_OUTPUT, 0), input);
    pramble::CrossbarRouter router(input);
    EXPECT_GT(router.inputCount(), 0);
    EXPECT_LE(router.inputCount(), 16);
    bool direct = false;
    for (const auto& route : router.routes()) direct = direct || (route.size() == 1 && route[0].videoInputIndex == 1);
    EXPECT_TRUE(direct) << "the S-Video input straight to the capture filter";
}

}  // namespace
