// A digitizer over one DirectShow capture device: its capture graph, its channel events and
// the device-dependent answers.
#pragma once

#include <windows.h>

#include "base_digitizer.h"
#include "frame_channel.h"

namespace pramble {

class CaptureDigitizer final : public BaseDigitizer {
public:
    // Construction in full: COM, the two channel events and, for a device component, the
    // capture graph. constructionResult() is the open request's answer.
    explicit CaptureDigitizer(quicktime::ComponentInstance self);
    ~CaptureDigitizer() override;

    long registerDevices() override;
    void initialise() override;
    OSErr CompressOneFrameAsync() override;
    OSErr CompressDone(quicktime::Boolean* done, quicktime::Ptr* data, long* size, quicktime::UInt8* similarity,
                       quicktime::TimeRecord* time) override;
    OSErr compressionOn() override;
    OSErr compressionOff() override;
    OSErr GetInputFormat(short input, short* format) override;
    OSErr GetNumberOfInputs(short* inputs) override;
    OSErr SetInput(short input) override;
    OSErr GetInput(short* input) override;

    CaptureGraph graph;
    HANDLE startEvent = nullptr;
    HANDLE readyEvent = nullptr;
    bool comInitialised = false;
    FrameChannel channel;

private:
    void createChannelEvents();

    CRITICAL_SECTION lock_;
    DWORD comThread_ = 0;  // COM is ended only on the thread that began it
};

}  // namespace pramble
