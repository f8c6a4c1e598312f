// A stand-in media object (a session, a source) that sends its events through Wine's own event
// queue: IMFMediaEventGenerator answered by that queue, shut down with the object at the latest.
#pragma once

#include <mfapi.h>
#include <mfidl.h>

#include <utility>

#include <tavro/com_support.h>

namespace standin {

template <typename Interface>
class EventGeneratorObject : public tavro::ComObject<Interface> {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        if (out && IsEqualIID(riid, __uuidof(IMFMediaEventGenerator))) {
            *out = static_cast<IMFMediaEventGenerator*>(this);
            this->AddRef();
            return S_OK;
        }
        return tavro::ComObject<Interface>::QueryInterface(riid, out);
    }
    STDMETHODIMP GetEvent(DWORD flags, IMFMediaEvent** event) override { return queue_->GetEvent(flags, event); }
    STDMETHODIMP BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) override {
        return queue_->BeginGetEvent(callback, state);
    }
    STDMETHODIMP EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) override {
        return queue_->EndGetEvent(result, event);
    }
    STDMETHODIMP QueueEvent(MediaEventType type, REFGUID extended, HRESULT status, const PROPVARIANT* value) override {
        return queue_->QueueEventParamVar(type, extended, status, value);
    }

protected:
    explicit EventGeneratorObject(tavro::ComPtr<IMFMediaEventQueue> queue) : queue_(std::move(queue)) {}
    ~EventGeneratorObject() override {
        if (!shutDown_) queue_->Shutdown();
    }
    // Ends the queue: later event requests answer MF_E_SHUTDOWN. False when it was ended already.
    bool shutDownQueue() {
        if (shutDown_) return false;
        shutDown_ = true;
        queue_->Shutdown();
        return true;
    }
    bool isShutDown() const { return shutDown_; }

    tavro::ComPtr<IMFMediaEventQueue> queue_;

private:
    bool shutDown_ = false;
};

}  // namespace standin
