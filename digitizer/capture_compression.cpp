// Compression on and off for a capture digitizer: the dump filter named, the graph run and the
// frame channel opened, and the reverse; and the frame requests over the channel.
#include <windows.h>
#include <dshow.h>

#include <string>

#include <tavro/com_support.h>
#include <tavro/media_type.h>

#include "capture_digitizer.h"
#include "device_naming.h"
#include "error_box.h"
#include "lock_held.h"

namespace pramble {
namespace {

constexpr OSErr kOutOfOrder = -2209;

std::wstring wideFromAnsi(const std::string& text) {
    const int length = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), int(text.size()), nullptr, 0);
    std::wstring wide(std::size_t(length > 0 ? length : 0), L'\0');
    if (length > 0) ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), int(text.size()), wide.data(), length);
    return wide;
}

// Tells the dump filter the sink file "xOx<n>.dat", from which it learns the channel's suffix.
OSErr nameTheSink(CaptureGraph& graph, const std::string& suffix, const std::string& instanceName) {
    tavro::ComPtr<IFileSinkFilter> sink;
    if (!graph.dumpFilter || FAILED(graph.dumpFilter.As(&sink)) || !sink) {
        reportInstanceError(instanceName, "Could not get file sink interface.");
        return kParamErr;
    }
    tavro::MediaType connection;
    if (FAILED(getDumpInputFormat(graph, instanceName, connection.get()))) return kParamErr;
    const std::wstring fileName = wideFromAnsi(suffix) + L".dat";
    if (FAILED(sink->SetFileName(fileName.c_str(), connection.get()))) {
        reportInstanceError(instanceName, "SetFileName failed.");
        return kParamErr;
    }
    return 0;
}

}  // namespace

OSErr CaptureDigitizer::compressionOn() {
    const LockHeld held(lock_);
    if (compressing != 0) return kOutOfOrder;
    compressing = 1;
    const std::string suffix = channelSuffix(deviceIndex);
    if (nameTheSink(graph, suffix, instanceName) != 0) return kParamErr;
    const OSErr ran = runCaptureGraph(graph, instanceName);
    const OSErr opened = channel.open(suffix, startEvent, readyEvent, instanceName);
    return opened != 0 ? opened : ran;
}

OSErr CaptureDigitizer::compressionOff() {
    const LockHeld held(lock_);
    if (compressing == 0) return kOutOfOrder;
    compressing = 0;
    releaseCompressionResources();
    OSErr answer = stopCaptureGraph(graph, instanceName);
    if (channel.close(instanceName) != 0) answer = kParamErr;
    return answer;
}

OSErr CaptureDigitizer::CompressOneFrameAsync() {
    if (!isCompressionOn()) return kOutOfOrder;
    ::SetEvent(startEvent);
    return 0;
}

OSErr CaptureDigitizer::CompressDone(quicktime::Boolean* done, quicktime::Ptr* data, long* size,
                                     quicktime::UInt8*, quicktime::TimeRecord* time) {
    const char* frame = nullptr;
    std::uint32_t bytes = 0;
    if (!channel.takeFrame(frame, bytes)) {
        if (done) *done = 0;
        return 0;
    }
    if (data) *data = const_cast<quicktime::Ptr>(frame);
    if (size) *size = long(bytes);
    if (time) deliveryTime(*time);
    if (done) *done = 1;
    return 0;
}

}  // namespace pramble
