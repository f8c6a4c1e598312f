#include "dump_outside_job.h"

#include <dvdmedia.h>

#include <cstdlib>
#include <cstring>

namespace pramble_test {
namespace {

constexpr std::size_t kHeader = 12;
constexpr std::size_t kSmallMapping = 8192;

std::string narrow(const std::wstring& wide) {
    std::string text;
    for (wchar_t c : wide) text.push_back(char(c));
    return text;
}

std::uint32_t frameBytesOf(const AM_MEDIA_TYPE* type) {
    if (!type || !type->pbFormat || !IsEqualGUID(type->formattype, FORMAT_VideoInfo) ||
        type->cbFormat < sizeof(VIDEOINFOHEADER)) {
        return 0;
    }
    const BITMAPINFOHEADER& header = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat)->bmiHeader;
    return std::uint32_t(header.biWidth * std::abs(header.biHeight) * header.biBitCount / 8);
}

}  // namespace

std::uint16_t patternWord(std::uint32_t frame, std::uint32_t index) {
    return std::uint16_t((index * 3 + frame * 1021) & 0x7FFF);
}

void DumpOutsideJob::fileName(const wchar_t* name, const AM_MEDIA_TYPE* type) {
    std::wstring file = name ? name : L"";
    const std::wstring extension = L".dat";
    if (file.size() >= extension.size() && file.compare(file.size() - extension.size(), extension.size(), extension) == 0) {
        file.resize(file.size() - extension.size());
    }
    suffix_ = narrow(file);
    frameBytes_ = frameBytesOf(type);
}

std::size_t DumpOutsideJob::mappingSize() const {
    return mode_ == DumpMode::smallMapping ? kSmallMapping : kHeader + frameBytes_;
}

void DumpOutsideJob::start() {
    if (worker_.joinable() || mode_ == DumpMode::noMapping || suffix_.empty()) return;
    mapping_.reset(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, DWORD(mappingSize()),
                                        ("Qm_Map" + suffix_).c_str()));
    if (!mapping_) return;
    view_ = ::MapViewOfFile(mapping_.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0);
    stop_.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    worker_ = std::thread([this] { serve(); });
}

void DumpOutsideJob::stop() {
    if (worker_.joinable()) {
        ::SetEvent(stop_.get());
        release();
        worker_.join();
    }
    if (view_) ::UnmapViewOfFile(view_);
    view_ = nullptr;
    mapping_.reset();
}

void DumpOutsideJob::hold() { ::ResetEvent(gate_.get()); }
void DumpOutsideJob::release() { ::SetEvent(gate_.get()); }

void DumpOutsideJob::serve() {
    const tavro::UniqueHandle start(::OpenEventA(SYNCHRONIZE, FALSE, ("Qm_Start" + suffix_).c_str()));
    const tavro::UniqueHandle ready(::OpenEventA(EVENT_MODIFY_STATE, FALSE, ("Qm_Ready" + suffix_).c_str()));
    if (!start || !ready || !view_) return;
    auto* slot = static_cast<unsigned char*>(view_);
    const std::size_t room = mappingSize() - kHeader;
    const HANDLE waits[] = {stop_.get(), start.get()};
    auto nextSignal = [&] {
        const DWORD pending = ::WaitForMultipleObjects(2, waits, FALSE, 0);
        if (pending != WAIT_TIMEOUT) return pending;
        idleAfter_ = served_.load();
        return ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    };
    for (std::uint32_t frame = 0; nextSignal() == WAIT_OBJECT_0 + 1; ++frame) {
        ++woken_;
        const HANDLE gateWaits[] = {stop_.get(), gate_.get()};
        if (::WaitForMultipleObjects(2, gateWaits, FALSE, INFINITE) == WAIT_OBJECT_0) return;
        const std::uint32_t count = mode_ == DumpMode::oversizedCount ? 0xFFFFFFFFu : frameBytes_;
        std::memcpy(slot, &count, 4);
        std::memset(slot + 4, 0, 8);
        for (std::uint32_t i = 0; i * 2 + 1 < room && i * 2 + 1 < frameBytes_; ++i) {
            const std::uint16_t word = patternWord(frame, i);
            std::memcpy(slot + kHeader + i * 2, &word, 2);
        }
        ++served_;
        ::SetEvent(ready.get());
    }
}

}  // namespace pramble_test
