// The driver of one conversion: the input's media source, a media session running the transcode
// topology, and the output profile (AAC audio, H.264 video, MPEG-4 container).
#pragma once

#include <windows.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>

#include <tavro/com_support.h>
#include <tavro/transcode_profile.h>

class WMFConverter {
public:
    WMFConverter() = default;
    virtual ~WMFConverter();
    WMFConverter(const WMFConverter&) = delete;
    WMFConverter& operator=(const WMFConverter&) = delete;

    // Each step answers a COM result; the caller runs the next one only after a success.
    HRESULT openInput(const wchar_t* inputPath);
    HRESULT selectAudioFormat();
    HRESULT selectVideoFormat();
    HRESULT selectContainer();
    HRESULT writeOutput(const wchar_t* outputPath);

private:
    static HRESULT createSourceFromUrl(const wchar_t* path, IMFMediaSource** source);
    HRESULT pumpSessionEvents();
    HRESULT startSession();
    HRESULT shutdownAll();

    // Released after shutdownAll in the reverse of this order: profile, topology, source, session.
    tavro::ComPtr<IMFMediaSession> m_pSession;
    tavro::ComPtr<IMFMediaSource> m_pSource;
    tavro::ComPtr<IMFTopology> m_pTopology;
    tavro::ComPtr<IMFTranscodeProfile> m_pProfile;
};
