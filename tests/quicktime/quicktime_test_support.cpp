#include "quicktime_test_support.h"

#include <tavro_test/scratch.h>

#include <algorithm>
#include <cstdlib>

namespace quicktime::test {

namespace {

constexpr const char* kQuickTimeKey = "Software\\Apple Computer, Inc.\\QuickTime";

std::wstring widen(const std::string& path) {
    return std::wstring(path.begin(), path.end());
}

void removeStrayStandIn(const std::wstring& folder) {
    const std::wstring path = folder + L"\\QuickTime.qts";
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(path.c_str());
}

}  // namespace

std::wstring standInBuildPath(StandInVariant variant) {
    switch (variant) {
        case StandInVariant::version702: return widen(tavro::test::buildFilePath(QUICKTIME_STANDIN_702));
        case StandInVariant::version701: return widen(tavro::test::buildFilePath(QUICKTIME_STANDIN_701));
        case StandInVariant::unversioned: return widen(tavro::test::buildFilePath(QUICKTIME_STANDIN_UNVERSIONED));
        case StandInVariant::withoutDispatcher:
            return widen(tavro::test::buildFilePath(QUICKTIME_STANDIN_WITHOUT_DISPATCHER));
    }
    return {};
}

QuickTimeStandIn::QuickTimeStandIn()
    : mapping_(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(qs::State),
                                    qs::stateMappingName().c_str())) {
    if (mapping_) {
        state_ = static_cast<qs::State*>(::MapViewOfFile(mapping_.get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(qs::State)));
    }
    if (!state_) {
        ADD_FAILURE() << "no stand-in state: " << ::GetLastError();
        std::abort();
    }
    *state_ = qs::State{};
}

QuickTimeStandIn::~QuickTimeStandIn() {
    release();
    if (state_) ::UnmapViewOfFile(state_);
}

void QuickTimeStandIn::failRoutine(std::uint32_t code, std::int32_t result) {
    for (qs::Failure& failure : state_->control.failures) {
        if (failure.code == 0 || failure.code == code) {
            failure = {code, result};
            return;
        }
    }
    ADD_FAILURE() << "too many failing routines";
}

std::vector<qs::Call> QuickTimeStandIn::calls() const {
    const LONG count = std::min<LONG>(LONG{state_->callCount}, static_cast<LONG>(qs::kMaxCalls));
    return std::vector<qs::Call>(state_->calls, state_->calls + count);
}

std::vector<std::uint32_t> QuickTimeStandIn::codes() const {
    std::vector<std::uint32_t> codes;
    for (const qs::Call& call : calls()) codes.push_back(call.code);
    return codes;
}

int QuickTimeStandIn::count(std::uint32_t code) const {
    int n = 0;
    for (const qs::Call& call : calls()) n += call.code == code;
    return n;
}

std::optional<qs::Call> QuickTimeStandIn::lastCall(std::uint32_t code) const {
    std::optional<qs::Call> last;
    for (const qs::Call& call : calls()) {
        if (call.code == code) last = call;
    }
    return last;
}

void QuickTimeStandIn::clearCalls() {
    state_->callCount = 0;
}

void QuickTimeStandIn::blockIn(std::uint32_t code) {
    blocked_.reset(::CreateEventW(nullptr, FALSE, FALSE, qs::blockedEventName().c_str()));
    release_.reset(::CreateEventW(nullptr, TRUE, FALSE, qs::releaseEventName().c_str()));
    state_->control.blockCode = code;
}

bool QuickTimeStandIn::waitUntilBlocked(DWORD milliseconds) {
    return blocked_ && ::WaitForSingleObject(blocked_.get(), milliseconds) == WAIT_OBJECT_0;
}

void QuickTimeStandIn::release() {
    if (release_) ::SetEvent(release_.get());
}

PlacedStandIn::PlacedStandIn(StandInVariant variant, const std::wstring& folder) : path_(folder + L"\\QuickTime.qts") {
    EXPECT_TRUE(::CopyFileW(standInBuildPath(variant).c_str(), path_.c_str(), FALSE))
        << "cannot place the stand-in: " << ::GetLastError();
}

PlacedStandIn::~PlacedStandIn() {
    EXPECT_TRUE(::DeleteFileW(path_.c_str())) << "stand-in still in use: " << ::GetLastError();
}

QuickTimeRegistry::QuickTimeRegistry() {
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, kQuickTimeKey);
    ::RegDeleteTreeA(HKEY_CURRENT_USER, kQuickTimeKey);
}

QuickTimeRegistry::~QuickTimeRegistry() {
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, kQuickTimeKey);
    ::RegDeleteTreeA(HKEY_CURRENT_USER, kQuickTimeKey);
}

void QuickTimeRegistry::set(HKEY root, const char* name, const std::string& value) {
    setRaw(root, name, std::string(value.c_str(), value.size() + 1));
}

void QuickTimeRegistry::setRaw(HKEY root, const char* name, const std::string& bytes) {
    ASSERT_EQ(::RegSetKeyValueA(root, kQuickTimeKey, name, REG_SZ, bytes.data(), static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
}

void QuickTimeRegistry::remove(HKEY root, const char* name) {
    ::RegDeleteKeyValueA(root, kQuickTimeKey, name);
}

std::wstring programFolder() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L"\\/"));
}

std::wstring systemFolder() {
    wchar_t folder[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder, length);
}

std::string narrow(const std::wstring& ascii) {
    return std::string(ascii.begin(), ascii.end());
}

std::wstring loadedPathOf(HMODULE module) {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(module, path, MAX_PATH);
    return std::wstring(path, length);
}

QuickTimeSuite::QuickTimeSuite() {
    removeStrayStandIn(programFolder());
    removeStrayStandIn(systemFolder());
}

}  // namespace quicktime::test
