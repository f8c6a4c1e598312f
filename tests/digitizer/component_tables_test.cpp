// The selector table and the names the component registers and opens with.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "device_naming.h"
#include "selector_table.h"

namespace {

using pramble::Request;

TEST(SelectorTable, ListedSelectorsHaveHandlersAndNothingElseDoes) {
    const std::set<int> listed = {-5, -4, -3, -2, -1, 1,  2,  3,  4,  12, 13, 14, 15, 16, 17,
                                  18, 19, 20, 21, 25, 26, 50, 55, 56, 57, 58, 59, 60, 61, 62,
                                  63, 64, 68, 69, 70, 71, 72, 73, 74, 75, 76, 77, 81};
    for (int selector = -32768; selector <= 32767; ++selector) {
        const bool expected = listed.count(selector) == 1;
        ASSERT_EQ(pramble::canDo(std::int16_t(selector)), expected) << selector;
        const auto entry = pramble::lookUpSelector(std::int16_t(selector));
        ASSERT_EQ(entry.request != Request::None, expected) << selector;
        ASSERT_EQ(entry.descriptor != 0, expected) << selector;
    }
}

TEST(SelectorTable, SelectorsNameTheirRequests) {
    struct Case {
        std::int16_t selector;
        Request request;
        std::uint8_t descriptor;  // bytes on the 32-bit stack: instance + parameters
    };
    const Case cases[] = {
        {-5, Request::Register, 4},           {-4, Request::Version, 4},
        {-3, Request::CanDo, 8},              {-2, Request::Close, 8},
        {-1, Request::Open, 8},               {1, Request::GetMaxSrcRect, 12},
        {26, Request::GetCurrentFlags, 12},   {50, Request::PreflightDestination, 20},
        {59, Request::GetVideoDefaults, 32},  {68, Request::SetCompression, 28},
        {69, Request::CompressOneFrameAsync, 4}, {70, Request::CompressDone, 24},
        {77, Request::SetFrameRate, 8},       {81, Request::GetPreferredTimeScale, 8},
    };
    for (const auto& c : cases) {
        const auto entry = pramble::lookUpSelector(c.selector);
        EXPECT_EQ(entry.request, c.request) << c.selector;
        EXPECT_EQ(entry.descriptor, c.descriptor) << c.selector;
    }
    // Outside the tables: below -5, 94 and up, another range (256 is range 1, index 0).
    for (std::int16_t selector : {std::int16_t(-6), std::int16_t(94), std::int16_t(256), std::int16_t(0x0101)}) {
        EXPECT_FALSE(pramble::canDo(selector)) << selector;
    }
}

std::string characters(pramble::OSType code) {
    return {char(code >> 24), char(code >> 16), char(code >> 8), char(code)};
}

TEST(DeviceNaming, SubtypesCountDevicesAndCapTheTensCharacter) {
    const std::pair<std::uint32_t, const char*> cases[] = {
        {0, "vd00"}, {9, "vd09"}, {10, "vd10"}, {12, "vd12"}, {99, "vd99"},
        {100, "vd:0"}, {779, "vd}9"}, {780, "vd~0"}, {785, "vd~5"}, {2000, "vd~0"},
    };
    for (const auto& [n, subtype] : cases) EXPECT_EQ(characters(pramble::deviceSubtype(n)), subtype) << n;
    EXPECT_EQ(pramble::deviceSubtype(0), 0x76643030u);  // 'v' in the most significant byte
}

TEST(DeviceNaming, ComponentNamesAreCutTo79CharactersBeforeTheSuffix) {
    EXPECT_EQ(pramble::deviceComponentName("Cam"), "Cam-WDM");
    EXPECT_EQ(pramble::deviceComponentName(""), "-WDM");
    const std::string long79(79, 'a');
    EXPECT_EQ(pramble::deviceComponentName(long79), long79 + "-WDM");
    EXPECT_EQ(pramble::deviceComponentName(long79 + "bcd"), long79 + "-WDM");
}

TEST(DeviceNaming, OnlyWdmNamesBuildAGraph) {
    EXPECT_TRUE(pramble::namesCaptureDevice("Cam-WDM"));
    EXPECT_TRUE(pramble::namesCaptureDevice("-WDM"));
    EXPECT_FALSE(pramble::namesCaptureDevice("Pramble"));
    EXPECT_FALSE(pramble::namesCaptureDevice("Cam-wdm"));
    EXPECT_FALSE(pramble::namesCaptureDevice("Cam-WDM "));
    EXPECT_FALSE(pramble::namesCaptureDevice("WDM"));
}

TEST(DeviceNaming, InstanceNameIsTheIndexThenTheName) {
    const unsigned char pascal[] = "\x07" "Cam-WDM";
    EXPECT_EQ(pramble::pascalText(pascal), "Cam-WDM");
    EXPECT_EQ(pramble::instanceName(1, pramble::pascalText(pascal)), "1Cam-WDM");
    EXPECT_EQ(pramble::instanceName(12, "X"), "12X");
    EXPECT_EQ(pramble::instanceName(0, ""), "0");
    EXPECT_EQ(pramble::pascalText(nullptr), "");
}

TEST(DeviceNaming, OnlyTheUpperCaseQuickTimePlayerPathSkipsRegistration) {
    // Exactly as the component has always matched it: a player started as
    // "QuickTimePlayer.exe" still registers the devices.
    EXPECT_TRUE(pramble::hostSkipsRegistration("C:\\PROGRA~1\\QUICKT~1\\QUICKTIMEPLAYER.EXE"));
    EXPECT_TRUE(pramble::hostSkipsRegistration("QUICKTIMEPLAYER.EXE"));
    EXPECT_FALSE(pramble::hostSkipsRegistration("C:\\Program Files\\QuickTime\\QuickTimePlayer.exe"));
    EXPECT_FALSE(pramble::hostSkipsRegistration("C:\\Tavro\\Tavro.exe"));
}

}  // namespace
