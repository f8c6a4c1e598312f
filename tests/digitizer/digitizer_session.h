// A digitizer session as QuickTime drives one: the stand-in QuickTime.qts hosts Pramble.qtx,
// the master registers the stand-in devices, and one device component is opened; requests go
// through vdigComponentDispatch with QuickTime's parameter blocks.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <tavro/win_handles.h>

#include "quicktime_records.h"
#include "quicktime_test_support.h"
#include "standins/directshow_standins.h"

namespace pramble_test {

class DigitizerSession : public quicktime::test::QuickTimeSuite {
protected:
    void SetUp() override;
    void TearDown() override;

    void addDump(DumpConfig config);
    void addDevice(const std::wstring& instance, const wchar_t* name, CaptureConfig config);
    void addCrossbar(const std::wstring& instance, CrossbarConfig config);
    // Registers the devices through the master; answers how many device components there are.
    std::uint32_t registerDevices();
    // Opens device component n (0 for the first); the open answer in *result.
    void openDevice(std::uint32_t n, quicktime::ComponentResult* result);
    quicktime::ComponentResult closeDevice();
    bool isOpen() const { return instance_ != nullptr; }

    quicktime::ComponentResult request(std::int16_t selector, std::vector<std::intptr_t> params = {});
    template <typename T>
    static std::intptr_t arg(T* pointer) {
        return reinterpret_cast<std::intptr_t>(pointer);
    }

    quicktime_standin::Host& host();

private:
    quicktime::ComponentResult send(quicktime::Handle storage, std::int16_t selector, std::vector<std::intptr_t> params);
    quicktime::ComponentInstance openInstance(std::uint32_t component, quicktime::ComponentResult* result);
    quicktime::ComponentResult closeInstance(quicktime::ComponentInstance instance);
    quicktime::Handle storageOf(quicktime::ComponentInstance instance);

    tavro::UniqueModule quickTime_;
    tavro::UniqueModule component_;
    quicktime::ComponentRoutineUPP dispatch_ = nullptr;
    std::uint32_t master_ = 0;
    quicktime::ComponentInstance instance_ = nullptr;
    std::vector<std::unique_ptr<RegisteredFilter>> registrations_;
};

}  // namespace pramble_test
