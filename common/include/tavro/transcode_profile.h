// IMFTranscodeProfile, which mingw-w64's mfidl.h only forward-declares (MFCreateTranscodeProfile
// and MFCreateTranscodeTopology are declared there already). The converter and the test stand-in
// for mf.dll both use this one declaration.
#pragma once

#include <mfidl.h>

#ifndef __IMFTranscodeProfile_INTERFACE_DEFINED__
#define __IMFTranscodeProfile_INTERFACE_DEFINED__

// The output settings of a transcode: audio stream, video stream and container attributes.
// COM interfaces have no virtual destructor by design.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
struct IMFTranscodeProfile : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetAudioAttributes(IMFAttributes* attributes) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAudioAttributes(IMFAttributes** attributes) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetVideoAttributes(IMFAttributes* attributes) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVideoAttributes(IMFAttributes** attributes) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetContainerAttributes(IMFAttributes* attributes) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetContainerAttributes(IMFAttributes** attributes) = 0;
};
#pragma GCC diagnostic pop

// {4ADFDBA3-7AB0-4953-A62B-461E7FF3DA1E}
__CRT_UUID_DECL(IMFTranscodeProfile, 0x4adfdba3, 0x7ab0, 0x4953, 0xa6, 0x2b, 0x46, 0x1e, 0x7f, 0xf3, 0xda, 0x1e)
inline const IID& IID_IMFTranscodeProfile = __uuidof(IMFTranscodeProfile);

#endif
