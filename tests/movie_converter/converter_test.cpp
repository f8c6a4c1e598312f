// The real Reelshift.exe started as a child process from a scratch folder with the stand-in
// mf.dll beside it: Wine's own source resolver opens the inputs the suite writes, the stand-in
// transcodes and records what reached it. Each case reads the program's standard output from a
// pipe, as the Java side does.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include <tavro/com_support.h>
#include <tavro/win_handles.h>
#include <tavro_test/scratch.h>

#include "media_records.h"
#include "scripted_source.h"
#include "tiny_avi.h"

using testing::ElementsAreArray;
using testing::IsEmpty;
using testing::UnorderedElementsAreArray;
using tavro::ComPtr;
using tavro::UniqueHandle;

namespace {

std::wstring widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::string hexStatus(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(hr));
    return text;
}

std::string errorLine(HRESULT hr) { return "Error converting movie: (0x" + hexStatus(hr) + ").\r\n"; }

const std::string kStarted = "TaskChange indeterminate true\r\n";
const std::string kFinished = "TaskChange finished true\r\n";

// One attribute as the stand-in's record writes it.
std::string attributeLine(REFGUID key, MF_ATTRIBUTE_TYPE type, UINT64 number, REFGUID guid = GUID_NULL) {
    standin::AttributeRecord a;
    a.key = key;
    a.type = type;
    a.u32 = UINT32(number);
    a.u64 = number;
    a.guid = guid;
    return standin::attributeText(a);
}
std::string guidAttribute(REFGUID key, REFGUID value) { return attributeLine(key, MF_ATTRIBUTE_GUID, 0, value); }
std::string u32Attribute(REFGUID key, UINT32 value) { return attributeLine(key, MF_ATTRIBUTE_UINT32, value); }
std::string ratioAttribute(REFGUID key, UINT32 high, UINT32 low) {
    return attributeLine(key, MF_ATTRIBUTE_UINT64, (UINT64{high} << 32) | low);
}

// The video attributes the converter must hand the profile, in its order.
std::vector<std::string> videoProfile(UINT32 width, UINT32 height, UINT32 rateHigh, UINT32 rateLow, UINT32 parHigh,
                                      UINT32 parLow) {
    return {guidAttribute(MF_MT_SUBTYPE, MFVideoFormat_H264), ratioAttribute(MF_MT_FRAME_RATE, rateHigh, rateLow),
            ratioAttribute(MF_MT_FRAME_SIZE, width, height),
            ratioAttribute(MF_MT_PIXEL_ASPECT_RATIO, parHigh, parLow), u32Attribute(MF_MT_AVG_BITRATE, 300000)};
}

struct Conversion {
    DWORD exitCode = 0;
    std::string output;               // standard output, as the pipe delivered it
    std::vector<std::string> record;  // what the stand-in mf.dll saw, item by item

    std::vector<std::string> valuesOf(const std::string& key) const {
        std::vector<std::string> values;
        for (const auto& line : record)
            if (line.rfind(key + "=", 0) == 0) values.push_back(line.substr(key.size() + 1));
        return values;
    }
    bool has(const std::string& item) const { return std::find(record.begin(), record.end(), item) != record.end(); }
};

// What Wine's own resolver does with a path, asked in this process.
struct ResolvedInput {
    HRESULT status = E_FAIL;
    bool hasSize = false, hasRate = false, hasAspect = false;
    UINT64 size = 0, rate = 0, aspect = 0;
};

ResolvedInput resolveWithWine(const std::wstring& path) {
    ResolvedInput input;
    if (FAILED(MFStartup(MF_VERSION, MFSTARTUP_FULL))) return input;
    {
        ComPtr<IMFSourceResolver> resolver;
        MF_OBJECT_TYPE type = MF_OBJECT_INVALID;
        ComPtr<IUnknown> object;
        input.status = MFCreateSourceResolver(&resolver);
        if (SUCCEEDED(input.status))
            input.status = resolver->CreateObjectFromURL(path.c_str(), MF_RESOLUTION_MEDIASOURCE, nullptr, &type,
                                                         &object);
        ComPtr<IMFMediaSource> source;
        if (SUCCEEDED(input.status)) input.status = object.As(&source);
        ComPtr<IMFPresentationDescriptor> presentation;
        if (source && SUCCEEDED(source->CreatePresentationDescriptor(&presentation))) {
            BOOL selected = FALSE;
            ComPtr<IMFStreamDescriptor> stream;
            ComPtr<IMFMediaTypeHandler> handler;
            ComPtr<IMFMediaType> current;
            if (SUCCEEDED(presentation->GetStreamDescriptorByIndex(0, &selected, &stream)) &&
                SUCCEEDED(stream->GetMediaTypeHandler(&handler)) && SUCCEEDED(handler->GetCurrentMediaType(&current))) {
                input.hasSize = SUCCEEDED(current->GetUINT64(MF_MT_FRAME_SIZE, &input.size));
                input.hasRate = SUCCEEDED(current->GetUINT64(MF_MT_FRAME_RATE, &input.rate));
                input.hasAspect = SUCCEEDED(current->GetUINT64(MF_MT_PIXEL_ASPECT_RATIO, &input.aspect));
            }
        }
        // A source still alive at exit crashes Wine.
        if (source) source->Shutdown();
    }
    MFShutdown();
    return input;
}

// The scripted byte-stream handler registered for its extension under HKLM, where Wine looks
// (it ignores classes under HKCU), for as long as this object lives.
class ScriptedSourceRegistration {
public:
    ScriptedSourceRegistration() {
        const std::wstring server = widen(tavro::test::buildFilePath(TAVRO_SCRIPTED_SOURCE_DLL));
        ok_ = setValue(classKey() + L"\\InprocServer32", nullptr, server) &&
              setValue(classKey() + L"\\InprocServer32", L"ThreadingModel", L"Both") &&
              setValue(handlerKey(), kScriptedSourceHandlerClsidText, L"Tavro scripted source");
    }
    ~ScriptedSourceRegistration() {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, classKey().c_str());
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, handlerKey().c_str());
    }
    ScriptedSourceRegistration(const ScriptedSourceRegistration&) = delete;
    ScriptedSourceRegistration& operator=(const ScriptedSourceRegistration&) = delete;
    bool ok() const { return ok_; }

private:
    static std::wstring classKey() { return std::wstring(L"Software\\Classes\\CLSID\\") + kScriptedSourceHandlerClsidText; }
    static std::wstring handlerKey() {
        return std::wstring(L"Software\\Microsoft\\Windows Media Foundation\\ByteStreamHandlers\\") +
               kScriptedSourceExtension;
    }
    static bool setValue(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
        HKEY opened = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &opened, nullptr))
            return false;
        const tavro::UniqueKey owned(opened);
        return RegSetValueExW(opened, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                              DWORD((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    }
    bool ok_ = false;
};

class ConverterTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(CopyFileW(widen(tavro::test::buildFilePath(TAVRO_REELSHIFT_EXE)).c_str(), program().c_str(), FALSE));
        ASSERT_TRUE(CopyFileW(widen(tavro::test::buildFilePath(TAVRO_MF_STANDIN_DLL)).c_str(),
                              folder.file(L"mf.dll").c_str(), FALSE));
        ASSERT_TRUE(tavro::test::writeFile(movie, kMovieBytes));
        setVariable(L"TAVRO_MF_RECORD", folder.file(L"record.txt"));
    }
    void TearDown() override {
        for (const wchar_t* name : {L"TAVRO_MF_RECORD", L"TAVRO_MF_FAIL", L"TAVRO_MF_EVENT_STATUS", L"TAVRO_MF_AAC_TYPES"})
            SetEnvironmentVariableW(name, nullptr);
    }

    // The child inherits this process's environment.
    static void setVariable(const wchar_t* name, const std::wstring& value) {
        SetEnvironmentVariableW(name, value.c_str());
    }

    std::wstring program() const { return folder.file(L"Reelshift.exe"); }

    // Reelshift.exe with these arguments, each quoted, and what it wrote to its standard output.
    Conversion convert(const std::vector<std::wstring>& arguments) {
        Conversion run;
        std::wstring commandLine = L"\"" + program() + L"\"";
        for (const auto& argument : arguments) commandLine += L" \"" + argument + L"\"";

        SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
        HANDLE readEnd = nullptr;
        HANDLE writeEnd = nullptr;
        // Room for everything the program writes: nothing reads the pipe while it runs.
        EXPECT_TRUE(CreatePipe(&readEnd, &writeEnd, &inheritable, 1 << 16));
        const UniqueHandle reader(readEnd);
        UniqueHandle writer(writeEnd);
        SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = writeEnd;
        startup.hStdError = writeEnd;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        PROCESS_INFORMATION process{};
        const BOOL created = CreateProcessW(program().c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                            folder.path().c_str(), &startup, &process);
        EXPECT_TRUE(created) << "CreateProcessW failed: " << GetLastError();
        if (!created) return run;
        const UniqueHandle processHandle(process.hProcess);
        const UniqueHandle threadHandle(process.hThread);
        writer.reset();

        if (WaitForSingleObject(process.hProcess, 20000) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "Reelshift.exe did not end";
            TerminateProcess(process.hProcess, 99);
            WaitForSingleObject(process.hProcess, 5000);
        }
        // What the program wrote is in the pipe's buffer by now. The pipe never reports its end:
        // a process that COM or the media platform started inherited the writing end.
        DWORD available = 0;
        while (PeekNamedPipe(reader.get(), nullptr, 0, nullptr, &available, nullptr) && available > 0) {
            std::string chunk(available, '\0');
            DWORD read = 0;
            if (!ReadFile(reader.get(), chunk.data(), available, &read, nullptr) || read == 0) break;
            run.output.append(chunk, 0, read);
        }
        GetExitCodeProcess(process.hProcess, &run.exitCode);
        std::istringstream record(tavro::test::readFile(folder.file(L"record.txt")));
        for (std::string line; std::getline(record, line);) run.record.push_back(line);
        DeleteFileW(folder.file(L"record.txt").c_str());
        return run;
    }

    // A conversion of what the scripted source presents from this script (see scripted_source.h).
    Conversion convertScripted(const std::string& script) {
        const ScriptedSourceRegistration registration;
        EXPECT_TRUE(registration.ok());
        const std::wstring input = folder.file(std::wstring(L"scripted") + kScriptedSourceExtension);
        EXPECT_TRUE(tavro::test::writeFile(input, script));
        return convert({input, output});
    }

    // A conversion of the fixture movie into an output path with characters beyond ASCII.
    Conversion convertMovie() { return convert({movie, output}); }

    static const std::string kMovieBytes;
    tavro::test::ScratchFolder folder{L"reelshift"};
    std::wstring movie = folder.file(L"input.avi");
    std::wstring output = folder.file(L"Fj\u00e4ll \u03a9mega \u6620\u753b.mp4");
};

// 32 x 24 at 15 frames per second with a mono 8 kHz sound track.
const std::string ConverterTest::kMovieBytes = tavro::test::tinyAvi({32, 24, 15, 3}, {8000, 1, 200});

TEST_F(ConverterTest, AnyArgumentCountButTwoWritesOnlyTheUsageLine) {
    const std::vector<std::vector<std::wstring>> cases = {{}, {movie}, {movie, output, L"extra"}};
    for (const auto& arguments : cases) {
        SCOPED_TRACE(arguments.size());
        const Conversion run = convert(arguments);
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_EQ(run.output, "Usage: " + standin::utf8(program()) + " input_file output_file\r\n");
        EXPECT_THAT(run.record, IsEmpty());
    }
}

TEST_F(ConverterTest, AnInputTheResolverRefusesEndsWithItsCodeAndNoProgressLine) {
    ASSERT_TRUE(tavro::test::writeFile(folder.file(L"notes.avi"), "these are no movie frames\n"));
    const std::wstring inputs[] = {folder.file(L"missing.avi"), folder.file(L"no folder\\input.avi"),
                                   folder.file(L"notes.avi")};
    for (const auto& input : inputs) {
        SCOPED_TRACE(standin::utf8(input));
        const HRESULT expected = resolveWithWine(input).status;
        ASSERT_LT(expected, 0);
        const Conversion run = convert({input, output});
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_EQ(run.output, errorLine(expected));
        EXPECT_THAT(run.record, IsEmpty());
    }
}

TEST_F(ConverterTest, ASuccessfulRunHandsThePlatformTheWholeProfileAndReportsTwoLines) {
    // Frame size and rate as Wine's source reports them; the aspect ratio only where it does.
    const ResolvedInput input = resolveWithWine(movie);
    ASSERT_EQ(input.status, S_OK);
    ASSERT_TRUE(input.hasSize && input.hasRate);
    ASSERT_EQ(input.size, (UINT64{32} << 32) | 24);
    ASSERT_EQ(input.rate, (UINT64{15} << 32) | 1);
    const UINT64 aspect = input.hasAspect ? input.aspect : (UINT64{1} << 32) | 1;

    const Conversion run = convertMovie();
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.output, kStarted + kFinished);

    EXPECT_THAT(run.valuesOf("audioTypes"), ElementsAreArray({standin::guidText(MFAudioFormat_AAC) + " 0x3F 0"}));
    // Every attribute of the first type offered (the stand-in offers the encoder's documented
    // list, mono 44.1 kHz first), with the AAC subtype.
    EXPECT_THAT(run.valuesOf("audio"),
                UnorderedElementsAreArray({guidAttribute(MF_MT_MAJOR_TYPE, MFMediaType_Audio),
                                           guidAttribute(MF_MT_SUBTYPE, MFAudioFormat_AAC),
                                           u32Attribute(MF_MT_AUDIO_BITS_PER_SAMPLE, 16),
                                           u32Attribute(MF_MT_AUDIO_SAMPLES_PER_SECOND, 44100),
                                           u32Attribute(MF_MT_AUDIO_NUM_CHANNELS, 1),
                                           u32Attribute(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, 12000),
                                           u32Attribute(MF_MT_AUDIO_BLOCK_ALIGNMENT, 1),
                                           u32Attribute(MF_MT_AAC_PAYLOAD_TYPE, 0)}));
    EXPECT_THAT(run.valuesOf("video"), ElementsAreArray(videoProfile(32, 24, 15, 1, UINT32(aspect >> 32),
                                                                     UINT32(aspect))));
    EXPECT_THAT(run.valuesOf("container"),
                ElementsAreArray({guidAttribute(MF_TRANSCODE_CONTAINERTYPE, MFTranscodeContainerType_MPEG4),
                                  u32Attribute(MF_TRANSCODE_ADJUST_PROFILE, 0)}));

    // The session's calls in order, and everything given back.
    const std::string path = standin::utf8(output);
    const std::vector<std::string> calls = {"sessionCreated=0", "setTopology=0x0",
                                            "start=" + standin::guidText(GUID_NULL) + " 0", "outputWritten=" + path,
                                            "close", "shutdown", "sessionReleased"};
    std::vector<std::string> seen;
    for (const auto& item : run.record)
        if (std::find(calls.begin(), calls.end(), item) != calls.end()) seen.push_back(item);
    EXPECT_THAT(seen, ElementsAreArray(calls));
    EXPECT_THAT(run.valuesOf("topology"), ElementsAreArray({path}));
    EXPECT_TRUE(run.has("profileCreated"));
    EXPECT_TRUE(run.has("profileReleased"));
    EXPECT_FALSE(tavro::test::readFile(output).empty());
    EXPECT_EQ(tavro::test::readFile(movie), kMovieBytes);
}

TEST_F(ConverterTest, AnInputWithoutVideoFirstGetsTheDefaultPicture) {
    const std::wstring sound = folder.file(L"sound.avi");
    ASSERT_TRUE(tavro::test::writeFile(sound, tavro::test::tinyAvi({}, {8000, 1, 300})));
    const Conversion run = convert({sound, output});
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.output, kStarted + kFinished);
    EXPECT_THAT(run.valuesOf("video"), ElementsAreArray(videoProfile(320, 240, 30, 1, 1, 1)));
}

// Presentations Wine's own sources never make, through the scripted source: the walk takes
// the first selected stream's values where its current type has them, whatever its kind.
TEST_F(ConverterTest, TheFirstSelectedStreamGivesThePictureWhereItHasOne) {
    const struct {
        const char* script;
        std::vector<std::string> video;
    } cases[] = {
        {"video 1 640 480 25 1 8 9\naudio 1\n", videoProfile(640, 480, 25, 1, 8, 9)},
        {"audio 1\nvideo 1 640 480 25 1 8 9\n", videoProfile(320, 240, 30, 1, 1, 1)},
        {"video 0 640 480 25 1 8 9\nvideo 1 176 144 0 0 0 0\n", videoProfile(176, 144, 30, 1, 1, 1)},
        {"video 1 0 0 24 1 4 3\nvideo 1 176 144 0 0 0 0\n", videoProfile(320, 240, 24, 1, 4, 3)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        const Conversion run = convertScripted(c.script);
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_EQ(run.output, kStarted + kFinished);
        EXPECT_THAT(run.valuesOf("video"), ElementsAreArray(c.video));
    }
}

// A selected stream without a current type is input the conversion fails on, with the
// handler's own answer; it never stops the program. (A presentation without streams cannot be
// made here: Wine's MFCreatePresentationDescriptor refuses a count of 0.)
TEST_F(ConverterTest, AStreamWithoutACurrentTypeFailsTheConversion) {
    const Conversion run = convertScripted("untyped 1\naudio 1\n");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.output, kStarted + errorLine(MF_E_NOT_INITIALIZED));
    EXPECT_THAT(run.valuesOf("video"), IsEmpty());
    EXPECT_TRUE(run.has("shutdown"));
    EXPECT_TRUE(run.has("sessionReleased"));
}

// A source that cannot be shut down after a complete movie: told, no conversion error, and the
// session is then released without its own shutdown.
TEST_F(ConverterTest, ASourceThatFailsToShutDownKeepsTheSessionAsItIs) {
    const Conversion run = convertScripted("video 1 64 48 25 1 1 1\nshutdown 0x80004005\n");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.output, kStarted + kFinished + "Failed to close the session...\r\n");
    EXPECT_FALSE(run.has("shutdown"));
    EXPECT_TRUE(run.has("sessionReleased"));
}

TEST_F(ConverterTest, NoAacTypeOfferedEndsTheCountLineWithTheError) {
    setVariable(L"TAVRO_MF_AAC_TYPES", L"none");
    const Conversion run = convertMovie();
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.output, kStarted + "Unexpected element count: 0" + errorLine(E_UNEXPECTED));
    EXPECT_THAT(run.valuesOf("topology"), IsEmpty());
    EXPECT_TRUE(run.has("sessionReleased"));
    EXPECT_TRUE(run.has("profileReleased"));
}

TEST_F(ConverterTest, PlatformFailuresAreReportedWithTheirCodes) {
    const HRESULT failure = MF_E_TOPO_CODEC_NOT_FOUND;
    const std::string code = "0x" + hexStatus(failure);
    const std::string eventLine = "Failed. " + code + " error condition triggered this event.\r\n";
    struct Case {
        const wchar_t* variable;
        const char* setting;  // "<call or event>=" and then the failure
        std::string expected;
    } cases[] = {
        {L"TAVRO_MF_FAIL", "CreateSession=", errorLine(failure)},
        {L"TAVRO_MF_FAIL", "CreateProfile=", errorLine(failure)},
        {L"TAVRO_MF_FAIL", "AudioTypes=", kStarted + errorLine(failure)},
        {L"TAVRO_MF_FAIL", "SetVideoAttributes=", kStarted + errorLine(failure)},
        {L"TAVRO_MF_FAIL", "CreateTopology=", kStarted + errorLine(failure)},
        {L"TAVRO_MF_FAIL", "SetTopology=", kStarted + errorLine(failure)},
        {L"TAVRO_MF_FAIL", "GetEvent=", kStarted + errorLine(failure)},
        {L"TAVRO_MF_FAIL", "Start=", kStarted + "Failed to start the session...\r\n" + errorLine(failure)},
        {L"TAVRO_MF_FAIL", "Close=", kStarted + errorLine(failure)},
        {L"TAVRO_MF_EVENT_STATUS", "TopologySet=", kStarted + eventLine + errorLine(failure)},
        {L"TAVRO_MF_EVENT_STATUS", "Started=", kStarted + eventLine + errorLine(failure)},
        {L"TAVRO_MF_EVENT_STATUS", "Closed=", kStarted + eventLine + errorLine(failure)},
        // The movie is complete: the failed shutdown is told, but it is no conversion error.
        {L"TAVRO_MF_FAIL", "Shutdown=", kStarted + kFinished + "Failed to close the session...\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setting);
        setVariable(c.variable, widen(c.setting + code));
        const Conversion run = convertMovie();
        SetEnvironmentVariableW(c.variable, nullptr);
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_EQ(run.output, c.expected);
        // Whatever failed, every object made was given back and a made session shut down.
        EXPECT_EQ(run.has("profileCreated") && std::string(c.setting) != "CreateProfile=", run.has("profileReleased"));
        EXPECT_EQ(run.has("sessionCreated=0") && std::string(c.setting) != "CreateSession=", run.has("shutdown"));
        EXPECT_EQ(run.has("shutdown"), run.has("sessionReleased"));
    }
}

TEST_F(ConverterTest, AnOutputThatIsTheInputIsRefusedBeforeAnythingIsRead) {
    const std::wstring sameFile[] = {movie, folder.path() + L"\\.\\INPUT.AVI"};
    for (const auto& target : sameFile) {
        SCOPED_TRACE(standin::utf8(target));
        const Conversion run = convert({movie, target});
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_EQ(run.output, errorLine(E_INVALIDARG));
        EXPECT_THAT(run.record, IsEmpty());
        EXPECT_EQ(tavro::test::readFile(movie), kMovieBytes);
    }
}

}  // namespace
