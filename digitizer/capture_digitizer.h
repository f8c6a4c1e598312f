// A digitizer over one DirectShow capture device: its capture graph, its channel events and
// the device-dependent answers.
#pragma once

#include <windows.h>

#include "base_digitizer.h"

namespace pramble {

class CaptureDigitizer final : public BaseDigitizer {
public:
    // Construction in full: COM, the two channel events and, for a device component, the
    // capture graph. constructionResult() is the open request's answer.
    explicit CaptureDigitizer(quicktime::ComponentInstance self);
    ~CaptureDigitizer() override;

    long registerDevices() override;
    void initialise() override;
    OSErr compressionOff() override;
    OSErr GetNumberOfInputs(short* inputs) override;

    CaptureGraph graph;
    HANDLE startEvent = nullptr;
    HANDLE readyEvent = nullptr;
    bool comInitialised = false;

private:
    void createChannelEvents();

    CRITICAL_SECTION lock_;
    DWORD comThread_ = 0;  // COM is ended only on the thread that began it
};

}  // namespace pramble
