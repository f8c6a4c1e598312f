// What the QuickTime suites under Wine share: the stand-in QuickTime.qts (its variants, its
// shared state, copies placed where the binding looks), and the prefix's QuickTime registry key.
#pragma once

#include <quicktime_standin/state.h>

#include <tavro/win_handles.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quicktime::test {

namespace qs = quicktime_standin;

enum class StandInVariant { version702, version701, unversioned, withoutDispatcher };

// The built stand-in of that variant (a QuickTime.qts in a folder of its own).
std::wstring standInBuildPath(StandInVariant variant);

// The stand-in's shared state, zeroed for the test: switches to set, calls to read.
class QuickTimeStandIn {
public:
    QuickTimeStandIn();
    ~QuickTimeStandIn();
    QuickTimeStandIn(const QuickTimeStandIn&) = delete;
    QuickTimeStandIn& operator=(const QuickTimeStandIn&) = delete;

    qs::State& state() { return *state_; }
    qs::Control& control() { return state_->control; }
    // The routine answers `result` (or null) without doing anything.
    void failRoutine(std::uint32_t code, std::int32_t result);

    std::vector<qs::Call> calls() const;
    std::vector<std::uint32_t> codes() const;
    int count(std::uint32_t code) const;
    std::optional<qs::Call> lastCall(std::uint32_t code) const;
    void clearCalls();

    // The routine waits inside the stand-in until release(); waitUntilBlocked() sees it arrive.
    void blockIn(std::uint32_t code);
    bool waitUntilBlocked(DWORD milliseconds);
    void release();

private:
    tavro::UniqueHandle mapping_;
    qs::State* state_ = nullptr;
    tavro::UniqueHandle blocked_;
    tavro::UniqueHandle release_;
};

// A copy of a stand-in as folder\QuickTime.qts, deleted at the end (after every reference to
// it is given back).
class PlacedStandIn {
public:
    PlacedStandIn(StandInVariant variant, const std::wstring& folder);
    ~PlacedStandIn();
    PlacedStandIn(const PlacedStandIn&) = delete;
    PlacedStandIn& operator=(const PlacedStandIn&) = delete;

    const std::wstring& path() const { return path_; }

private:
    std::wstring path_;
};

// The key "Software\Apple Computer, Inc.\QuickTime" under HKLM and HKCU of the prefix, removed
// at the start and at the end.
class QuickTimeRegistry {
public:
    QuickTimeRegistry();
    ~QuickTimeRegistry();
    QuickTimeRegistry(const QuickTimeRegistry&) = delete;
    QuickTimeRegistry& operator=(const QuickTimeRegistry&) = delete;

    void set(HKEY root, const char* name, const std::string& value);        // REG_SZ with terminator
    void setRaw(HKEY root, const char* name, const std::string& bytes);     // REG_SZ, bytes as given
    void remove(HKEY root, const char* name);
};

std::wstring programFolder();  // the test program's folder, without a trailing separator
std::wstring systemFolder();   // GetSystemDirectoryW
std::string narrow(const std::wstring& ascii);
std::wstring loadedPathOf(HMODULE module);

// Every QuickTime suite: a fresh stand-in state, an empty QuickTime key, and no stand-in left
// in the program folder or the system folder by an earlier run.
class QuickTimeSuite : public ::testing::Test {
protected:
    QuickTimeSuite();

    QuickTimeRegistry registry;
    QuickTimeStandIn standIn;
};

}  // namespace quicktime::test
