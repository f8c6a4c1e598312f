#include "digitizer_session.h"

#include <dshow.h>
#include <ks.h>
#include <ksmedia.h>

#include <algorithm>
#include <cstring>

#include <tavro_test/scratch.h>

namespace pramble_test {

namespace qs = quicktime_standin;
using quicktime::ComponentInstance;
using quicktime::ComponentResult;

namespace {

// QuickTime's request block with room for the parameters of any request.
struct Block {
    std::uint8_t flags = 0;
    std::uint8_t paramSize = 0;
    std::int16_t what = 0;
    std::intptr_t params[8] = {};
};

void setPascal(unsigned char* field, const std::string& text) {
    field[0] = std::uint8_t(text.size());
    std::memcpy(field + 1, text.data(), text.size());
}

}  // namespace

void DigitizerSession::SetUp() {
    ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
    RegisteredFilter::removeLeftovers();
    host().enabled = 1;
    quickTime_.reset(::LoadLibraryW(quicktime::test::standInBuildPath(quicktime::test::StandInVariant::version702).c_str()));
    ASSERT_TRUE(quickTime_);
    component_.reset(::LoadLibraryA(tavro::test::buildFilePath(PRAMBLE_QTX_PATH).c_str()));
    ASSERT_TRUE(component_);
    dispatch_ = reinterpret_cast<quicktime::ComponentRoutineUPP>(
        reinterpret_cast<void*>(::GetProcAddress(component_.get(), "vdigComponentDispatch")));
    ASSERT_NE(dispatch_, nullptr);
    // QuickTime registers the master from the component's resources.
    qs::HostComponent& master = host().components[host().componentCount];
    const std::uint32_t description[5] = {pramble::fourCharacterCode("vdig"), pramble::fourCharacterCode("vdsn"),
                                          pramble::fourCharacterCode("#@Qm"), 0, 0};
    std::copy(std::begin(description), std::end(description), master.description);
    setPascal(master.name, "Pramble");
    setPascal(master.info, "Direct Show Proxy for QuickTime Digitizers");
    master_ = host().componentCount++;
}

void DigitizerSession::TearDown() {
    if (instance_) closeDevice();
    registrations_.clear();
    RegisteredFilter::removeLeftovers();
    EXPECT_EQ(liveFilters(), 0) << "a stand-in filter was not released";
    ::CoUninitialize();
}

qs::Host& DigitizerSession::host() { return standIn.state().host; }

void DigitizerSession::addDump(DumpConfig config) {
    registrations_.push_back(std::make_unique<RegisteredFilter>(
        CLSID_LegacyAmFilterCategory, L"dump", L"QmDump",
        [config](const CLSID& clsid) { return createDumpFilter(clsid, config); }));
}

void DigitizerSession::addDevice(const std::wstring& instance, const wchar_t* name, CaptureConfig config) {
    registrations_.push_back(std::make_unique<RegisteredFilter>(
        CLSID_VideoInputDeviceCategory, instance, name,
        [config](const CLSID& clsid) { return createCaptureDevice(clsid, config); }));
}

void DigitizerSession::addCrossbar(const std::wstring& instance, CrossbarConfig config) {
    registrations_.push_back(std::make_unique<RegisteredFilter>(
        AM_KSCATEGORY_CROSSBAR, instance, L"Crossbar",
        [config](const CLSID& clsid) { return createCrossbar(clsid, config); }));
}

std::uint32_t DigitizerSession::registerDevices() {
    ComponentResult opened = 0;
    const ComponentInstance master = openInstance(master_, &opened);
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(send(storageOf(master), -5, {}), 1);
    EXPECT_EQ(closeInstance(master), 0);
    return host().componentCount - 1;
}

void DigitizerSession::openDevice(std::uint32_t n, ComponentResult* result) {
    instance_ = openInstance(master_ + 1 + n, result);
}

ComponentResult DigitizerSession::closeDevice() {
    const ComponentResult result = closeInstance(instance_);
    instance_ = nullptr;
    return result;
}

ComponentResult DigitizerSession::request(std::int16_t selector, std::vector<std::intptr_t> params) {
    return send(storageOf(instance_), selector, std::move(params));
}

ComponentResult DigitizerSession::send(quicktime::Handle storage, std::int16_t selector, std::vector<std::intptr_t> params) {
    Block block;
    block.what = selector;
    block.paramSize = std::uint8_t(params.size() * sizeof(std::intptr_t));
    std::copy(params.begin(), params.end(), block.params);
    return dispatch_(reinterpret_cast<quicktime::ComponentParameters*>(&block), storage);
}

// As QuickTime opens an instance: counted first, then the Open request.
ComponentInstance DigitizerSession::openInstance(std::uint32_t component, ComponentResult* result) {
    const std::uint32_t index = host().instanceCount++;
    host().instances[index] = {component, 1, 0};
    ++host().components[component].openInstances;
    const auto instance = reinterpret_cast<ComponentInstance>(qs::kInstanceBase + index);
    *result = send(nullptr, -1, {reinterpret_cast<std::intptr_t>(instance)});
    return instance;
}

ComponentResult DigitizerSession::closeInstance(ComponentInstance instance) {
    const std::uint32_t index = std::uint32_t(reinterpret_cast<std::uintptr_t>(instance) - qs::kInstanceBase);
    const ComponentResult result = send(storageOf(instance), -2, {reinterpret_cast<std::intptr_t>(instance)});
    host().instances[index].open = 0;
    --host().components[host().instances[index].component].openInstances;
    return result;
}

quicktime::Handle DigitizerSession::storageOf(ComponentInstance instance) {
    return reinterpret_cast<quicktime::Handle>(
        host().instances[reinterpret_cast<std::uintptr_t>(instance) - qs::kInstanceBase].storage);
}

}  // namespace pramble_test
