// Pramble.qtx as QuickTime's Component Manager drives it: this program plays QuickTime (the
// host side of the stand-in QuickTime.qts keeps the registered components and instances) and
// sends the component's requests through vdigComponentDispatch with QuickTime's parameter
// blocks. The devices are stand-in filters listed by Wine's system device enumerator.
#include <windows.h>
#include <dshow.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <tavro/win_handles.h>
#include <tavro_test/box_dismisser.h>
#include <tavro_test/scratch.h>

#include "quicktime_records.h"
#include "quicktime_test_support.h"
#include "standins/directshow_standins.h"

namespace {

using namespace pramble_test;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using quicktime::ComponentInstance;
using quicktime::ComponentResult;
namespace qs = quicktime_standin;

std::string characters(std::uint32_t code) {
    return {char(code >> 24), char(code >> 16), char(code >> 8), char(code)};
}

std::string pascalString(const unsigned char* text) { return std::string(reinterpret_cast<const char*>(text) + 1, text[0]); }

// QuickTime's request block with room for the parameters of any request.
struct Request {
    std::uint8_t flags = 0;
    std::uint8_t paramSize = 0;
    std::int16_t what = 0;
    std::intptr_t params[8] = {};
};

class ComponentTest : public quicktime::test::QuickTimeSuite {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
        RegisteredFilter::removeLeftovers();
        standIn.state().host.enabled = 1;
        quickTime_.reset(::LoadLibraryW(quicktime::test::standInBuildPath(quicktime::test::StandInVariant::version702).c_str()));
        ASSERT_TRUE(quickTime_);
        component_.reset(::LoadLibraryA(tavro::test::buildFilePath(PRAMBLE_QTX_PATH).c_str()));
        ASSERT_TRUE(component_);
        dispatch_ = reinterpret_cast<quicktime::ComponentRoutineUPP>(
            reinterpret_cast<void*>(::GetProcAddress(component_.get(), "vdigComponentDispatch")));
        ASSERT_NE(dispatch_, nullptr);
        // QuickTime registers the master from the component's resources.
        master_ = addComponent({pramble::fourCharacterCode("vdig"), pramble::fourCharacterCode("vdsn"),
                                pramble::fourCharacterCode("#@Qm"), 0, 0},
                                "Pramble", "Direct Show Proxy for QuickTime Digitizers");
    }
    void TearDown() override {
        registrations_.clear();
        RegisteredFilter::removeLeftovers();
        EXPECT_EQ(liveFilters(), 0) << "a stand-in filter was not released";
        ::CoUninitialize();
    }

    qs::Host& host() { return standIn.state().host; }

    std::uint32_t addComponent(std::array<std::uint32_t, 5> description, const std::string& name,
                               const std::string& info) {
        qs::HostComponent& c = host().components[host().componentCount];
        std::copy(description.begin(), description.end(), c.description);
        c.name[0] = std::uint8_t(name.size());
        std::memcpy(c.name + 1, name.data(), name.size());
        c.info[0] = std::uint8_t(info.size());
        std::memcpy(c.info + 1, info.data(), info.size());
        return host().componentCount++;
    }

    // Opens an instance of the component as QuickTime does: counted first, then the Open request.
    ComponentInstance open(std::uint32_t component, ComponentResult* result) {
        const std::uint32_t index = host().instanceCount++;
        host().instances[index] = {component, 1, 0};
        ++host().components[component].openInstances;
        const auto instance = reinterpret_cast<ComponentInstance>(qs::kInstanceBase + index);
        *result = send(nullptr, -1, {reinterpret_cast<std::intptr_t>(instance)});
        return instance;
    }
    ComponentResult close(ComponentInstance instance) {
        const std::uint32_t index = std::uint32_t(reinterpret_cast<std::uintptr_t>(instance) - qs::kInstanceBase);
        const ComponentResult result = send(storageOf(instance), -2, {reinterpret_cast<std::intptr_t>(instance)});
        host().instances[index].open = 0;
        --host().components[host().instances[index].component].openInstances;
        return result;
    }
    quicktime::Handle storageOf(ComponentInstance instance) {
        return reinterpret_cast<quicktime::Handle>(
            host().instances[reinterpret_cast<std::uintptr_t>(instance) - qs::kInstanceBase].storage);
    }
    ComponentResult send(quicktime::Handle storage, std::int16_t selector, std::vector<std::intptr_t> params) {
        Request request;
        request.what = selector;
        request.paramSize = std::uint8_t(params.size() * sizeof(std::intptr_t));
        std::copy(params.begin(), params.end(), request.params);
        return dispatch_(reinterpret_cast<quicktime::ComponentParameters*>(&request), storage);
    }

    void dump() {
        registrations_.push_back(std::make_unique<RegisteredFilter>(
            CLSID_LegacyAmFilterCategory, L"dump", L"QmDump", [](const CLSID& clsid) { return createDumpFilter(clsid, {}); }));
    }
    void device(const std::wstring& instance, const wchar_t* name, CaptureConfig config = {}) {
        registrations_.push_back(std::make_unique<RegisteredFilter>(
            CLSID_VideoInputDeviceCategory, instance, name,
            [config](const CLSID& clsid) { return createCaptureDevice(clsid, config); }));
    }

    // Register as QuickTime sends it to the master: open, register, close.
    ComponentResult registerDevices() {
        ComponentResult opened = 0;
        const ComponentInstance master = open(master_, &opened);
        EXPECT_EQ(opened, 0);
        const ComponentResult answer = send(storageOf(master), -5, {});
        EXPECT_EQ(close(master), 0);
        return answer;
    }

    std::uint32_t master_ = 0;

private:
    tavro::UniqueModule quickTime_;
    tavro::UniqueModule component_;
    quicktime::ComponentRoutineUPP dispatch_ = nullptr;
    std::vector<std::unique_ptr<RegisteredFilter>> registrations_;
};

TEST_F(ComponentTest, SelectorsAnswerFromTheTable) {
    const std::int16_t unknown[] = {94, 256, -6};
    for (std::int16_t selector : unknown) {
        EXPECT_EQ(send(nullptr, selector, {}), ComponentResult(0x80008002)) << selector;
        EXPECT_EQ(send(nullptr, -3, {selector}), 0) << "can-do " << selector;
    }
    for (std::int16_t selector : {std::int16_t(-5), std::int16_t(1), std::int16_t(81)}) {
        EXPECT_EQ(send(nullptr, -3, {selector}), 1) << "can-do " << selector;
    }
    EXPECT_EQ(send(nullptr, -4, {}), 0x00020001);
    EXPECT_EQ(send(nullptr, 77, {0x000F0000}), -2201);
    quicktime::TimeScale preferred = 0;
    EXPECT_EQ(send(nullptr, 81, {reinterpret_cast<std::intptr_t>(&preferred)}), 0);
    EXPECT_EQ(preferred, 2997);
    EXPECT_EQ(send(nullptr, 50, {0, 0, 0, 0}), 0);
}

TEST_F(ComponentTest, RegisterAddsOneComponentPerNamedDevice) {
    device(L"dev0", L"Alpha Cam");
    device(L"dev1", nullptr);  // listed, without a name: no component, no number
    device(L"dev2", L"Beta Cam");
    device(L"dev3", L"Gamma Cam");
    const std::wstring longName(90, L'L');
    device(L"dev4", longName.c_str());
    tavro::test::BoxDismisser boxes;
    ComponentResult opened = 1;
    const ComponentInstance master = open(master_, &opened);
    ASSERT_EQ(opened, 0);
    const LONG handlesBefore = host().liveHandles;
    EXPECT_EQ(send(storageOf(master), -5, {}), 1);
    EXPECT_EQ(host().liveHandles, handlesBefore) << "every name handle is disposed after registering";
    EXPECT_EQ(close(master), 0);
    EXPECT_THAT(boxes.texts(), IsEmpty()) << "the master builds no graph";
    ASSERT_EQ(host().componentCount, 5u);
    const std::string names[] = {"Alpha Cam-WDM", "Beta Cam-WDM", "Gamma Cam-WDM", std::string(79, 'L') + "-WDM"};
    for (std::uint32_t n = 0; n < 4; ++n) {
        const qs::HostComponent& c = host().components[1 + n];
        SCOPED_TRACE(n);
        EXPECT_EQ(characters(c.description[0]), "vdig");
        EXPECT_EQ(characters(c.description[1]), "vd0" + std::to_string(n));
        EXPECT_EQ(characters(c.description[2]), "#@Qm");
        EXPECT_EQ(pascalString(c.name), names[n]);
        EXPECT_EQ(pascalString(c.info), "Direct Show Proxy for QuickTime Digitizers");
        EXPECT_EQ(c.refcon, std::int32_t(n));
        EXPECT_EQ(c.global, 1);
        EXPECT_NE(c.entry, 0u);
    }
}

TEST_F(ComponentTest, RegisterWithoutDevicesRegistersNothing) {
    EXPECT_EQ(registerDevices(), 1);
    EXPECT_EQ(host().componentCount, 1u);
}

TEST_F(ComponentTest, TheMasterHasTheDefaultFrameAndNoDevice) {
    ComponentResult opened = 1;
    const ComponentInstance master = open(master_, &opened);
    ASSERT_EQ(opened, 0);
    quicktime::Rect rect{};
    EXPECT_EQ(send(storageOf(master), 1, {0, reinterpret_cast<std::intptr_t>(&rect)}), 0);
    EXPECT_EQ(rect.right, 320);
    EXPECT_EQ(rect.bottom, 240);
    short inputs = -1;
    EXPECT_EQ(send(storageOf(master), 60, {reinterpret_cast<std::intptr_t>(&inputs)}), -200);
    EXPECT_EQ(inputs, -1) << "nothing written without a capture device";
    EXPECT_EQ(close(master), 0);
}

// The rule matches the upper-case spelling only, as the component always has: this case runs
// itself again as copies named in both spellings and checks what each registered.
TEST_F(ComponentTest, InsideQuickTimePlayerRegisterRegistersNothing) {
    char self[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::string path = self;
    const std::pair<const char*, std::uint32_t> spellings[] = {{"QUICKTIMEPLAYER.EXE", 1}, {"QuickTimePlayer.exe", 2}};
    for (const auto& [name, components] : spellings) {
        if (path.find(name) == std::string::npos) continue;
        device(L"dev0", L"Cam");
        EXPECT_EQ(registerDevices(), 1);
        EXPECT_EQ(host().componentCount, components) << path;
        return;
    }
    for (const auto& [name, components] : spellings) {
        const tavro::test::ScratchFolder folder(L"player");
        const std::wstring copy = folder.file(std::wstring(name, name + std::strlen(name)));
        ASSERT_TRUE(::CopyFileW(std::wstring(path.begin(), path.end()).c_str(), copy.c_str(), FALSE));
        std::wstring command = L"\"" + copy + L"\" --gtest_filter=ComponentTest.InsideQuickTimePlayerRegisterRegistersNothing";
        STARTUPINFOW startup{sizeof(startup)};
        PROCESS_INFORMATION process{};
        ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
        const tavro::UniqueHandle processHandle(process.hProcess);
        const tavro::UniqueHandle threadHandle(process.hThread);
        ASSERT_EQ(::WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
        DWORD exitCode = 99;
        ::GetExitCodeProcess(process.hProcess, &exitCode);
        EXPECT_EQ(exitCode, 0u) << name << " registered other than " << components - 1 << " devices";
    }
}

TEST_F(ComponentTest, ADeviceComponentOpensOnceAtATime) {
    dump();
    device(L"dev0", L"Cam");
    ASSERT_EQ(registerDevices(), 1);
    ASSERT_EQ(host().componentCount, 2u);
    ComponentResult first = 1;
    const ComponentInstance instance = open(1, &first);
    EXPECT_EQ(first, 0);
    ComponentResult second = 0;
    open(1, &second);
    EXPECT_EQ(second, -1);
    quicktime::Rect rect{};
    EXPECT_EQ(send(storageOf(instance), 1, {0, reinterpret_cast<std::intptr_t>(&rect)}), 0);
    EXPECT_EQ(rect.right, 640);
    EXPECT_EQ(rect.bottom, 480);
    EXPECT_EQ(send(storageOf(instance), 1, {1, reinterpret_cast<std::intptr_t>(&rect)}), -50) << "input standard 1";
    short inputs = -1;
    EXPECT_EQ(send(storageOf(instance), 60, {reinterpret_cast<std::intptr_t>(&inputs)}), 0);
    EXPECT_EQ(inputs, 0) << "without a crossbar, one input";
    {
        const tavro::UniqueHandle start(::OpenEventA(SYNCHRONIZE, FALSE, "Qm_StartxOx0"));
        EXPECT_TRUE(start) << "the channel's events exist while the instance is open";
    }
    EXPECT_EQ(close(instance), 0);
    EXPECT_EQ(liveFilters(), 0);
    const tavro::UniqueHandle start(::OpenEventA(SYNCHRONIZE, FALSE, "Qm_StartxOx0"));
    const tavro::UniqueHandle ready(::OpenEventA(SYNCHRONIZE, FALSE, "Qm_ReadyxOx0"));
    EXPECT_FALSE(start || ready) << "close gives the events back";
}

TEST_F(ComponentTest, OpenWithoutTheDumpFilterReportsAndStillStoresTheInstance) {
    device(L"dev0", L"Cam %s%n");  // the box shows the text as it is, never as a format
    ASSERT_EQ(registerDevices(), 1);
    tavro::test::BoxDismisser boxes;
    ComponentResult result = 0;
    const ComponentInstance instance = open(1, &result);
    EXPECT_EQ(result, -50);
    ASSERT_THAT(boxes.boxes(), ::testing::SizeIs(1));
    EXPECT_EQ(boxes.boxes()[0].text,
              "0Cam %s%n-WDM : Problem finding Skellit Video Renderer. Did you install as administrator?");
    EXPECT_EQ(boxes.boxes()[0].caption, "Error");
    EXPECT_NE(storageOf(instance), nullptr);
    EXPECT_EQ(close(instance), 0);
}

TEST_F(ComponentTest, AFailingGetComponentInfoIsTheOpenAnswer) {
    standIn.failRoutine(0x00010005, -3000);
    tavro::test::BoxDismisser boxes;
    ComponentResult result = 0;
    const ComponentInstance instance = open(master_, &result);
    EXPECT_EQ(result, -3000);
    EXPECT_THAT(boxes.texts(), IsEmpty());
    const tavro::UniqueHandle start(::OpenEventA(SYNCHRONIZE, FALSE, "Qm_StartxOx0"));
    EXPECT_FALSE(start) << "no events without the component's identity";
    EXPECT_NE(storageOf(instance), nullptr);
    EXPECT_EQ(close(instance), 0);
}

TEST_F(ComponentTest, AnEventThatCannotBeCreatedFailsTheOpenWith108) {
    const tavro::UniqueHandle squatter(::CreateMutexA(nullptr, FALSE, "Qm_StartxOx0"));
    ASSERT_TRUE(squatter);
    tavro::test::BoxDismisser boxes;
    ComponentResult result = 0;
    const ComponentInstance instance = open(master_, &result);
    EXPECT_EQ(result, -108);
    EXPECT_THAT(boxes.texts(), ElementsAre("0Pramble : Failed to create start capture event"));
    EXPECT_EQ(close(instance), 0);
}

}  // namespace
