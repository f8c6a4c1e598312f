// The capture graph built in Wine's real filter graph from stand-in devices, crossbars and the
// dump filter, listed by the real system device enumerator; messages are the real boxes.
#include <windows.h>
#include <dshow.h>
#include <dvdmedia.h>
#include <ks.h>
#include <ksmedia.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <tavro_test/box_dismisser.h>

#include "capture_graph.h"
#include "standins/directshow_standins.h"

namespace {

using namespace pramble_test;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using pramble::CaptureGraph;
using pramble::FrameLimits;
using pramble::OSErr;

constexpr char kInstanceName[] = "0Cam-WDM";

std::string boxText(const char* message) { return std::string(kInstanceName) + " : " + message; }

// {7E3C1A40-0B6D-4F21-A9C3-11D0E5F60001} and ...02: two capture cards.
const GUID kCardA = {0x7e3c1a40, 0x0b6d, 0x4f21, {0xa9, 0xc3, 0x11, 0xd0, 0xe5, 0xf6, 0x00, 0x01}};
const GUID kCardB = {0x7e3c1a40, 0x0b6d, 0x4f21, {0xa9, 0xc3, 0x11, 0xd0, 0xe5, 0xf6, 0x00, 0x02}};

class CaptureGraphTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
        RegisteredFilter::removeLeftovers();
    }
    void TearDown() override {
        registrations_.clear();
        RegisteredFilter::removeLeftovers();
        EXPECT_EQ(liveFilters(), 0) << "a stand-in filter was not released";
        ::CoUninitialize();
    }

    RegisteredFilter& registerFilter(const GUID& category, const std::wstring& instance, const wchar_t* name,
                                     std::function<IBaseFilter*(const CLSID&)> create) {
        registrations_.push_back(std::make_unique<RegisteredFilter>(category, instance, name, std::move(create)));
        return *registrations_.back();
    }
    std::shared_ptr<DumpRecord> dump(DumpConfig config = {}) {
        registerFilter(CLSID_LegacyAmFilterCategory, L"dump", L"QmDump",
                       [config](const CLSID& clsid) { return createDumpFilter(clsid, config); });
        return config.record;
    }
    std::shared_ptr<CaptureRecord> device(const std::wstring& instance, const wchar_t* name, CaptureConfig config = {}) {
        registerFilter(CLSID_VideoInputDeviceCategory, instance, name,
                       [config](const CLSID& clsid) { return createCaptureDevice(clsid, config); });
        return config.record;
    }
    std::shared_ptr<CrossbarRecord> crossbar(const std::wstring& instance, CrossbarConfig config) {
        registerFilter(AM_KSCATEGORY_CROSSBAR, instance, L"Crossbar",
                       [config](const CLSID& clsid) { return createCrossbar(clsid, config); });
        return config.record;
    }

    // Builds for the device, collecting the boxes shown meanwhile.
    OSErr build(CaptureGraph& graph, int deviceIndex, std::vector<tavro::test::Box>* boxes = nullptr) {
        tavro::test::BoxDismisser dismisser;
        counted_ = 0;
        const OSErr result =
            pramble::buildCaptureGraph(graph, deviceIndex, {kInstanceName, &limits_, [this] { ++counted_; }});
        if (boxes) *boxes = dismisser.boxes();
        return result;
    }
    std::vector<std::string> buildMessages(CaptureGraph& graph, int deviceIndex, OSErr expected) {
        std::vector<tavro::test::Box> boxes;
        EXPECT_EQ(build(graph, deviceIndex, &boxes), expected);
        std::vector<std::string> texts;
        for (const auto& box : boxes) {
            EXPECT_EQ(box.caption, "Error") << "the system's default caption";
            texts.push_back(box.text);
        }
        return texts;
    }

    FrameLimits limits_;
    int counted_ = 0;

private:
    std::vector<std::unique_ptr<RegisteredFilter>> registrations_;
};

const VIDEOINFOHEADER& videoInfo(const AM_MEDIA_TYPE& type) {
    return *reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
}

TEST_F(CaptureGraphTest, WithoutCrossbarTheDeviceFeedsTheDumpFilterInRgb555) {
    dump();
    const auto record = device(L"dev0", L"Cam", {});
    CaptureGraph graph;
    EXPECT_THAT(buildMessages(graph, 0, 0), IsEmpty());
    EXPECT_FALSE(graph.crossbarRouter);
    EXPECT_FALSE(graph.crossbarFilter);
    EXPECT_EQ(counted_, 1);
    EXPECT_TRUE(graph.graph && graph.mediaControl && graph.streamConfig && graph.memInputPin && graph.basicVideo);

    ASSERT_EQ(record->setFormats.size(), 1u);
    const AM_MEDIA_TYPE& asked = record->setFormats[0].type;
    EXPECT_TRUE(IsEqualGUID(asked.subtype, MEDIASUBTYPE_RGB555));
    EXPECT_EQ(videoInfo(asked).bmiHeader.biCompression, DWORD(BI_RGB));
    EXPECT_EQ(videoInfo(asked).bmiHeader.biBitCount, 16);
    EXPECT_EQ(videoInfo(asked).bmiHeader.biSizeImage, 640u * 480 * 2) << "left as the device reported it";
    EXPECT_EQ(asked.lSampleSize, 640u * 480 * 2);

    tavro::MediaType connected;
    ASSERT_EQ(graph.dumpInputPin->ConnectionMediaType(connected.get()), S_OK);
    EXPECT_TRUE(IsEqualGUID(connected->subtype, MEDIASUBTYPE_RGB555));
    EXPECT_EQ(limits_.maxWidth, 640);
    EXPECT_EQ(limits_.minWidth, 640);
    EXPECT_EQ(limits_.maxHeight, 480);
    EXPECT_EQ(limits_.minHeight, 480);
}

TEST_F(CaptureGraphTest, VideoInfo2IsConnectedAsOfferedAndItsSizeRead) {
    dump();
    CaptureConfig config;
    config.formats = {{MEDIASUBTYPE_YUY2, 352, -288, true}};  // a top-down frame
    const auto record = device(L"dev0", L"Cam", config);
    CaptureGraph graph;
    EXPECT_THAT(buildMessages(graph, 0, 0), IsEmpty());
    EXPECT_THAT(record->setFormats, IsEmpty()) << "nothing asked of a FORMAT_VideoInfo2 device";
    tavro::MediaType connected;
    ASSERT_EQ(graph.dumpInputPin->ConnectionMediaType(connected.get()), S_OK);
    EXPECT_TRUE(IsEqualGUID(connected->formattype, FORMAT_VideoInfo2));
    EXPECT_TRUE(IsEqualGUID(connected->subtype, MEDIASUBTYPE_YUY2));
    EXPECT_EQ(limits_.maxWidth, 352);
    EXPECT_EQ(limits_.maxHeight, 288);
}

TEST_F(CaptureGraphTest, FrameSizeComesFromTheDumpConnection) {
    // The device refuses RGB 555 and offers two sizes; the dump filter takes only the second.
    DumpConfig dumpConfig;
    dumpConfig.accepts = [](const AM_MEDIA_TYPE& type) {
        return type.formattype == FORMAT_VideoInfo && videoInfo(type).bmiHeader.biWidth == 176;
    };
    dump(dumpConfig);
    CaptureConfig config;
    config.refuseSetFormat = true;
    config.formats = {{MEDIASUBTYPE_YUY2, 640, 480}, {MEDIASUBTYPE_YUY2, 176, 144}};
    device(L"dev0", L"Cam", config);
    CaptureGraph graph;
    EXPECT_THAT(buildMessages(graph, 0, 0), IsEmpty()) << "a device refusing RGB 555 keeps its own format";
    EXPECT_EQ(limits_.maxWidth, 176);
    EXPECT_EQ(limits_.maxHeight, 144);
}

TEST_F(CaptureGraphTest, TheDeviceIsChosenByPositionAmongNamedDevices) {
    dump();
    CaptureConfig small;
    small.formats = {{MEDIASUBTYPE_YUY2, 160, 120}};
    CaptureConfig large;
    large.formats = {{MEDIASUBTYPE_YUY2, 800, 600}};
    device(L"dev0", L"First", small);
    device(L"dev1", nullptr, {});  // listed, but its name cannot be read: it has no component
    device(L"dev2", L"Second", large);
    CaptureGraph graph;
    EXPECT_THAT(buildMessages(graph, 1, 0), IsEmpty());
    EXPECT_EQ(limits_.maxWidth, 800) << "index 1 is the second named device, as registration numbered it";
}

struct FailureRow {
    const char* name;
    std::function<void(DumpConfig&, CaptureConfig&)> configure;
    bool registerDump;
    bool registerDevice;
    const char* message;  // none for the silent rows
};

void PrintTo(const FailureRow& row, std::ostream* out) { *out << row.name; }

class CaptureGraphFailureTest : public CaptureGraphTest, public ::testing::WithParamInterface<FailureRow> {};

TEST_P(CaptureGraphFailureTest, GivesItsMessageAndReleasesTheGraph) {
    const FailureRow& row = GetParam();
    DumpConfig dumpConfig;
    CaptureConfig captureConfig;
    row.configure(dumpConfig, captureConfig);
    if (row.registerDump) dump(dumpConfig);
    if (row.registerDevice) device(L"dev0", L"Cam", captureConfig);
    {
        CaptureGraph graph;
        const auto messages = buildMessages(graph, 0, -50);
        if (row.message) {
            EXPECT_THAT(messages, ElementsAre(boxText(row.message)));
        } else {
            EXPECT_THAT(messages, IsEmpty());
        }
        EXPECT_FALSE(graph.graph || graph.mediaControl || graph.streamConfig || graph.captureFilter ||
                     graph.dumpFilter || graph.dumpInputPin || graph.captureOutputPin || graph.memInputPin ||
                     graph.basicVideo);
    }
}

void noChange(DumpConfig&, CaptureConfig&) {}

INSTANTIATE_TEST_SUITE_P(
    Rows, CaptureGraphFailureTest,
    ::testing::Values(
        FailureRow{"NoDumpFilter", noChange, false, true,
                   "Problem finding Skellit Video Renderer. Did you install as administrator?"},
        FailureRow{"DumpFilterNotAdded", [](DumpConfig& d, CaptureConfig&) { d.behaviour.joinGraph = E_FAIL; }, true,
                   true, "Problem adding Video Renderer to the graph"},
        FailureRow{"NoDevice", noChange, true, false, nullptr},
        FailureRow{"DeviceNotAdded", [](DumpConfig&, CaptureConfig& c) { c.behaviour.joinGraph = E_FAIL; }, true, true,
                   nullptr},
        FailureRow{"NoDumpInputPin", [](DumpConfig& d, CaptureConfig&) { d.inputPin = false; }, true, true,
                   "Problem finding QmDump Input pin"},
        FailureRow{"NoCaptureOutputPin", [](DumpConfig&, CaptureConfig& c) { c.outputPin = false; }, true, true,
                   "Problem finding Video Capture output pin"},
        FailureRow{"NoStreamConfig", [](DumpConfig&, CaptureConfig& c) { c.streamConfig = false; }, true, true,
                   "Problem getting output pin stream config interface"},
        FailureRow{"NoMemInputPin", [](DumpConfig& d, CaptureConfig&) { d.memInputPin = false; }, true, true,
                   "Problem getting input pin stream MemInputPin interface"},
        FailureRow{"NotConnected",
                   [](DumpConfig& d, CaptureConfig&) { d.accepts = [](const AM_MEDIA_TYPE&) { return false; }; }, true,
                   true, "Problem connecting Video Output to Video Renderer"},
        FailureRow{"ConnectionFormatUnreadable", [](DumpConfig& d, CaptureConfig&) { d.failConnectionMediaType = true; },
                   true, true, "GetDumpInputFormat failed."}),
    [](const ::testing::TestParamInfo<FailureRow>& row) { return std::string(row.param.name); });

TEST_F(CaptureGraphTest, NoFilterGraphFailsWithoutMessage) {
    dump();
    device(L"dev0", L"Cam", {});
    const FailingFilterGraph noGraph;
    CaptureGraph graph;
    EXPECT_THAT(buildMessages(graph, 0, -50), IsEmpty());
}

// Wine's graph always offers IBasicVideo and lists its filters: a front around it refuses.
TEST_F(CaptureGraphTest, AGraphWithoutBasicVideoFailsTheBuild) {
    dump();
    device(L"dev0", L"Cam", {});
    const WrappedFilterGraph graphWithout(false, true);
    CaptureGraph graph;
    EXPECT_THAT(buildMessages(graph, 0, -50), ElementsAre(boxText("Cannot get Basic Video Interface")));
}

TEST_F(CaptureGraphTest, AnUnexpectedDvLookupErrorIsReportedAndTheBuildGoesOn) {
    dump();
    device(L"dev0", L"Cam", {});
    const WrappedFilterGraph unlisted(true, false);
    CaptureGraph graph;
    EXPECT_THAT(buildMessages(graph, 0, 0), ElementsAre(boxText("Some other error occured getting DV interface.")));
}

TEST_F(CaptureGraphTest, ADvDecoderInTheGraphIsSetToFullResolution) {
    dump();
    CaptureConfig config;
    config.dvDecoder = true;
    const auto record = device(L"dev0", L"Cam", config);
    CaptureGraph graph;
    EXPECT_THAT(buildMessages(graph, 0, 0), IsEmpty());
    EXPECT_THAT(record->dvDisplays, ElementsAre(DVRESOLUTION_FULL));
}

TEST_F(CaptureGraphTest, ACrossbarThatCannotJoinTheGraphFailsTheBuild) {
    dump();
    device(L"dev0", L"Cam", {});
    CrossbarConfig config;
    config.inputs = {{PhysConn_Video_Composite}};
    config.outputs = {{PhysConn_Video_VideoDecoder}};
    config.behaviour.joinGraph = E_FAIL;
    crossbar(L"xbar0", config);
    CaptureGraph graph;
    EXPECT_THAT(buildMessages(graph, 0, -50), ElementsAre(boxText("Problem adding Crossbar to the graph")));
}

// Composite and S-Video with the tuner's audio beside them; output 0 feeds the capture card.
CrossbarConfig cardCrossbar(const GUID& card, LONG videoOutputRelated = 1) {
    CrossbarConfig config;
    config.card = card;
    config.inputs = {{PhysConn_Video_Composite, 2}, {PhysConn_Video_SVideo, 2}, {PhysConn_Audio_Tuner, 0}};
    config.outputs = {{PhysConn_Video_VideoDecoder, videoOutputRelated}, {PhysConn_Audio_AudioDecoder, 0}};
    return config;
}

CaptureConfig cardDevice(const GUID& card) {
    CaptureConfig config;
    config.inputPin = true;
    config.card = card;
    return config;
}

TEST_F(CaptureGraphTest, ACrossbarGivesOneRoutePerVideoInputAndSelectsTheInitialOne) {
    dump();
    device(L"dev0", L"Cam", cardDevice(kCardA));
    const auto routes = crossbar(L"xbar0", cardCrossbar(kCardA));
    CaptureGraph graph;
    EXPECT_THAT(buildMessages(graph, 0, 0), IsEmpty());
    ASSERT_TRUE(graph.crossbarRouter);
    const auto& router = *graph.crossbarRouter;
    ASSERT_EQ(router.inputCount(), 2) << "the audio tuner pin gives no route";
    LONG type = 0;
    EXPECT_EQ(router.inputType(0, &type), S_OK);
    EXPECT_EQ(type, PhysConn_Video_Composite);
    EXPECT_EQ(router.inputType(1, &type), S_OK);
    EXPECT_EQ(type, PhysConn_Video_SVideo);
    const pramble::RoutingEntry& entry = router.routes()[1].front();
    EXPECT_EQ(entry.videoInputIndex, 1);
    EXPECT_EQ(entry.videoOutputIndex, 0);
    EXPECT_EQ(entry.audioInputIndex, 2);
    EXPECT_EQ(entry.audioOutputIndex, 1);
    EXPECT_EQ(entry.outputPhysicalType, PhysConn_Video_VideoDecoder);
    EXPECT_EQ(entry.depth, 0);
    // Output 0's related pin is 1: route 1, its video then its audio.
    EXPECT_THAT(routes->routes, ElementsAre(std::pair<LONG, LONG>(0, 1), std::pair<LONG, LONG>(1, 2)));
    EXPECT_EQ(router.currentRoute(), 1);
    EXPECT_EQ(counted_, 1);
}

TEST_F(CaptureGraphTest, AnInitialRouteOfMinusOneSelectsNothing) {
    dump();
    device(L"dev0", L"Cam", cardDevice(kCardA));
    const auto routes = crossbar(L"xbar0", cardCrossbar(kCardA, -1));
    CaptureGraph graph;
    EXPECT_THAT(buildMessages(graph, 0, 0), IsEmpty());
    ASSERT_TRUE(graph.crossbarRouter);
    EXPECT_THAT(routes->routes, IsEmpty());
    EXPECT_EQ(graph.crossbarRouter->currentRoute(), 0);
}

TEST_F(CaptureGraphTest, TheFirstCrossbarOfAnotherCardLeavesTheDeviceWithoutRouter) {
    dump();
    device(L"dev0", L"Card A", cardDevice(kCardA));
    device(L"dev1", L"Card B", cardDevice(kCardB));
    crossbar(L"xbar0", cardCrossbar(kCardA));
    crossbar(L"xbar1", cardCrossbar(kCardB));
    {
        CaptureGraph graph;
        EXPECT_THAT(buildMessages(graph, 1, 0), IsEmpty());
        EXPECT_FALSE(graph.crossbarRouter) << "card A's crossbar does not connect to card B";
        EXPECT_TRUE(graph.crossbarFilter) << "it is added all the same";
    }
    CaptureGraph graph;
    EXPECT_THAT(buildMessages(graph, 0, 0), IsEmpty());
    ASSERT_TRUE(graph.crossbarRouter);
    EXPECT_EQ(graph.crossbarRouter->inputCount(), 2);
}

// Runs and stops a built graph whose dump filter behaves so; the boxes shown meanwhile.
std::vector<std::string> runAndStop(CaptureGraph& graph, OSErr expectedRun, OSErr expectedStop) {
    tavro::test::BoxDismisser dismisser;
    EXPECT_EQ(pramble::runCaptureGraph(graph, kInstanceName), expectedRun);
    EXPECT_EQ(pramble::stopCaptureGraph(graph, kInstanceName), expectedStop);
    return dismisser.texts();
}

// A device feeding a dump filter that answers the graph so.
class RunningGraphTest : public CaptureGraphTest {
protected:
    void build(FilterBehaviour behaviour) {
        DumpConfig config;
        config.behaviour = behaviour;
        dump(config);
        device(L"dev0", L"Cam", {});
        ASSERT_EQ(CaptureGraphTest::build(graph, 0), 0);
    }
    void TearDown() override {
        graph = CaptureGraph{};
        CaptureGraphTest::TearDown();
    }
    CaptureGraph graph;
};

TEST_F(RunningGraphTest, RunAndStopCountATransitionAsSuccess) {
    build({S_OK, S_OK, S_OK, VFW_S_STATE_INTERMEDIATE});
    EXPECT_THAT(runAndStop(graph, 0, 0), IsEmpty());
}

// Wine's StopWhenReady cues the filters first, which such a filter refuses too.
TEST_F(RunningGraphTest, AGraphThatDoesNotRunOrStopIsReported) {
    build({S_OK, E_FAIL, S_OK, S_OK});
    EXPECT_THAT(runAndStop(graph, -50, -50),
                ElementsAre(boxText("Problem starting streaming"), boxText("Problem stopping streaming")));
}

TEST_F(RunningGraphTest, FailedStateQueriesAreReported) {
    build({S_OK, S_OK, S_OK, E_FAIL});
    EXPECT_THAT(runAndStop(graph, -50, -50), ElementsAre(boxText("Timeout transitioning into running state"),
                                                          boxText("Timeout transitioning into stopped state")));
}

TEST_F(CaptureGraphTest, StopWithoutAGraphAnswersZero) {
    CaptureGraph graph;
    EXPECT_EQ(pramble::stopCaptureGraph(graph, kInstanceName), 0);
}

TEST_F(CaptureGraphTest, ReleaseKeepsTheCrossbarTheCaptureInputAndTheRouter) {
    dump();
    device(L"dev0", L"Cam", cardDevice(kCardA));
    crossbar(L"xbar0", cardCrossbar(kCardA));
    CaptureGraph graph;
    ASSERT_EQ(build(graph, 0), 0);
    pramble::releaseCaptureGraph(graph);
    EXPECT_FALSE(graph.graph || graph.captureFilter || graph.dumpFilter || graph.dumpInputPin ||
                 graph.captureOutputPin || graph.memInputPin || graph.basicVideo || graph.streamConfig ||
                 graph.mediaControl);
    EXPECT_TRUE(graph.crossbarFilter && graph.captureInputPin && graph.crossbarRouter);
    EXPECT_GT(liveFilters(), 0);
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
// An object released once too often: its count goes below zero.
class OverReleased final : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(++count_); }
    STDMETHODIMP_(ULONG) Release() override { return ULONG(--count_); }

private:
    LONG count_ = 0;
};
#pragma GCC diagnostic pop

TEST(AutoReleaser, AReleaseBelowZeroIsReported) {
    OverReleased object;
    tavro::test::BoxDismisser dismisser;
    { pramble::AutoReleaser<IUnknown> held(&object); }
    const auto boxes = dismisser.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_THAT(boxes[0].text, ::testing::StartsWith("auto_releaser failed"));
}

}  // namespace
