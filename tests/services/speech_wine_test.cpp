// Speech against a stand-in voice served under the real class id (its Speak calls, its
// release, its token), and once against Wine's own voice. The test thread begins COM first,
// as a Java thread that already used COM would, so the library's CoInitialize answers S_FALSE.
#include "korvix_test_support.h"
#include "voice_standin.h"

#include <objbase.h>
#include <sapi.h>

namespace korvix::test {
namespace {

using StartSpeaking = void(JNICALL*)(JNIEnv*, jclass, jstring);
using StopSpeaking = void(JNICALL*)(JNIEnv*, jclass);
using GetDefaultVoice = jstring(JNICALL*)(JNIEnv*, jclass);

// Whether the calling thread is inside a COM initialisation, asked without changing it.
bool comBegunOnThisThread(DWORD model = COINIT_APARTMENTTHREADED) {
    const HRESULT probe = ::CoInitializeEx(nullptr, model);
    if (SUCCEEDED(probe)) ::CoUninitialize();
    return probe == S_FALSE || probe == RPC_E_CHANGED_MODE;
}

class KorvixSpeech : public KorvixTest {
protected:
    void TearDown() override {
        stopSpeaking(env, korvixClass);  // whatever a case left held
        voices_.reset();
        endTestCom();
        KorvixTest::TearDown();
    }

    // Begins the test thread's own COM, then serves the stand-in voice in its apartment.
    void serveVoices(VoiceScript script = {}, DWORD model = COINIT_APARTMENTTHREADED) {
        ASSERT_EQ(::CoInitializeEx(nullptr, model), S_OK);
        testComBegun_ = true;
        voices_ = std::make_unique<StandInVoiceClass>(std::move(script));
        ASSERT_EQ(voices_->registration(), S_OK);
    }
    void endTestCom() {
        voices_.reset();
        if (testComBegun_) ::CoUninitialize();
        testComBegun_ = false;
    }
    const VoiceRecord& record() const { return voices_->record(); }

    void speak(const std::wstring& text) { startSpeaking(env, korvixClass, java(text)); }
    std::optional<std::string> defaultVoice() {
        jstring description = getDefaultVoice(env, korvixClass);
        if (!description) return std::nullopt;
        return utf8(description);
    }

    const StartSpeaking startSpeaking = korvixExport<StartSpeaking>("startSpeakingString");
    const StopSpeaking stopSpeaking = korvixExport<StopSpeaking>("stopSpeaking");
    const GetDefaultVoice getDefaultVoice = korvixExport<GetDefaultVoice>("getDefaultVoice");

private:
    std::unique_ptr<StandInVoiceClass> voices_;
    bool testComBegun_ = false;
};

TEST_F(KorvixSpeech, TextIsQueuedAsynchronouslyAndOnlyEmptyTextIsSpokenInPlace) {
    serveVoices();
    speak(L"Hello");
    speak(L"world");
    speak(L"");
    startSpeaking(env, korvixClass, nullptr);  // a null text is the empty text

    ASSERT_EQ(record().spoken.size(), 4u);
    const std::vector<std::pair<std::wstring, DWORD>> expected = {
        {L"Hello", SPF_ASYNC}, {L"world", SPF_ASYNC}, {L"", 0}, {L"", 0}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(record().spoken[i].text, expected[i].first) << i;
        EXPECT_EQ(record().spoken[i].flags, expected[i].second) << i;
        EXPECT_FALSE(record().spoken[i].streamNumberAsked) << i;
    }
    EXPECT_EQ(record().voicesMade, 1);
    EXPECT_EQ(record().voicesReleased, 0);
}

TEST_F(KorvixSpeech, StopReleasesTheVoiceAndEndsItsOwnComOnceAndTheNextSpeakMakesANewVoice) {
    serveVoices();
    speak(L"first");
    stopSpeaking(env, korvixClass);
    EXPECT_EQ(record().voicesReleased, 1);
    EXPECT_TRUE(comBegunOnThisThread()) << "the test's own COM was ended too";

    speak(L"second");
    EXPECT_EQ(record().voicesMade, 2);
    ASSERT_EQ(record().spoken.size(), 2u);
    EXPECT_EQ(record().spoken[1].text, L"second");
    stopSpeaking(env, korvixClass);
    EXPECT_EQ(record().voicesReleased, 2);

    endTestCom();
    EXPECT_FALSE(comBegunOnThisThread()) << "the library still holds a COM initialisation";
}

TEST_F(KorvixSpeech, StopWithNothingHeldDoesNothing) {
    serveVoices();
    stopSpeaking(env, korvixClass);
    stopSpeaking(env, korvixClass);
    EXPECT_EQ(record().creationRequests, 0);
    EXPECT_TRUE(comBegunOnThisThread());
}

TEST_F(KorvixSpeech, WithoutAVoiceClassNothingIsSpokenAndComIsBegunOnlyOnce) {
    serveVoices({/*refuseCreation=*/true});
    speak(L"unheard");
    EXPECT_EQ(defaultVoice(), std::nullopt);
    EXPECT_EQ(record().creationRequests, 2);  // each use tries again
    EXPECT_TRUE(record().spoken.empty());

    // COM stays held without a voice and is ended by stopSpeaking all the same.
    stopSpeaking(env, korvixClass);
    endTestCom();
    EXPECT_FALSE(comBegunOnThisThread()) << "COM was begun again for the second try, or not ended";
}

TEST_F(KorvixSpeech, ComRefusedForAnotherApartmentStillGivesAVoiceAndIsNotEnded) {
    serveVoices({}, COINIT_MULTITHREADED);  // the library's CoInitialize answers RPC_E_CHANGED_MODE
    speak(L"from the thread pool");
    ASSERT_EQ(record().spoken.size(), 1u);

    stopSpeaking(env, korvixClass);
    EXPECT_EQ(record().voicesReleased, 1);
    EXPECT_TRUE(comBegunOnThisThread(COINIT_MULTITHREADED)) << "COM that was not held was ended";
}

TEST_F(KorvixSpeech, DefaultVoiceIsTheTokensDefaultStringOrNull) {
    struct Case {
        const char* what;
        bool hasToken;
        std::optional<std::wstring> description;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"a description", true, L"Microsoft Anna - English (United States)",
         "Microsoft Anna - English (United States)"},
        {"non-ASCII, beyond the BMP too", true, L"Zo\u00eb \u97f3\u58f0 \U0001F5E3", "Zo\u00eb \u97f3\u58f0 \U0001F5E3"},
        {"an empty description", true, L"", std::nullopt},
        {"a token without a default string", true, std::nullopt, std::nullopt},
        {"no token", false, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        serveVoices({false, c.hasToken, c.description});
        EXPECT_EQ(defaultVoice(), c.expected);
        EXPECT_EQ(defaultVoice(), c.expected);
        // Asking alone makes the voice, once; every token it hands out is given back.
        EXPECT_EQ(record().voicesMade, 1);
        EXPECT_EQ(record().tokensReleased, record().tokensMade);
        EXPECT_TRUE(record().spoken.empty());
        stopSpeaking(env, korvixClass);
        endTestCom();
    }
}

TEST_F(KorvixSpeech, TextTheVmCannotHandOutIsNotSpoken) {
    serveVoices();
    jstring text = java(L"never read");
    vm.failStringChars(true);
    startSpeaking(env, korvixClass, text);
    EXPECT_EQ(vm.pendingExceptionClass(), "java/lang/OutOfMemoryError");
    vm.clearException();
    EXPECT_TRUE(record().spoken.empty()) << "an empty synchronous Speak would block the Java thread";
}

TEST_F(KorvixSpeech, NoExportPrintsAnything) {
    serveVoices();
    StdoutCapture output;
    speak(L"quiet");
    speak(L"");
    defaultVoice();
    stopSpeaking(env, korvixClass);
    stopSpeaking(env, korvixClass);
    EXPECT_EQ(output.finish(), "");
}

// Wine's own voice (Wine 8: Speak and GetStringValue E_NOTIMPL; Wine 10: SPERR_NOT_FOUND).
TEST_F(KorvixSpeech, WinesOwnVoiceIsBestEffort) {
    ASSERT_EQ(::CoInitialize(nullptr), S_OK);
    StdoutCapture output;
    speak(L"Hello from Tavro");
    speak(L"");
    EXPECT_NE(defaultVoice(), std::optional<std::string>(""));  // a name, or null
    stopSpeaking(env, korvixClass);
    EXPECT_EQ(output.finish(), "");
    EXPECT_TRUE(comBegunOnThisThread());
    ::CoUninitialize();
    EXPECT_FALSE(comBegunOnThisThread());
}

// Each allocation the library makes while speaking, naming the voice and stopping is refused in
// turn, on a fresh library whose first uses all run again: every export answers as with no
// voice (nothing, or no name), and with memory again the same library speaks and names it.
TEST_F(KorvixSpeech, EachAllocationRefusedInTurnIsAnOrdinaryFailureAndTheNextCallsWork) {
    serveVoices();
    std::size_t utterances = 0;
    const std::size_t points = sweepAllocations(vm, [&](const FreshKorvix& korvix, bool starved) {
        const auto start = korvix.method<StartSpeaking>("startSpeakingString");
        const auto voiceName = korvix.method<GetDefaultVoice>("getDefaultVoice");
        const auto stop = korvix.method<StopSpeaking>("stopSpeaking");
        ASSERT_TRUE(start && voiceName && stop);
        const std::size_t before = record().spoken.size();
        start(env, korvixClass, java(L"Hello there, a sentence longer than a short string keeps"));
        const jstring name = voiceName(env, korvixClass);
        stop(env, korvixClass);
        if (starved) {
            // No name at all, or the whole one: never a part of it.
            if (name) {
                EXPECT_EQ(utf8(name), "Stand-in Voice");
            }
            EXPECT_LE(record().spoken.size(), before + 1);
        } else {
            ASSERT_NE(name, nullptr);
            EXPECT_EQ(utf8(name), "Stand-in Voice");
            ASSERT_EQ(record().spoken.size(), before + 1);
            EXPECT_EQ(record().spoken.back().flags, DWORD(SPF_ASYNC));
            ++utterances;
        }
        // Every voice made was let go again, whatever failed.
        EXPECT_EQ(record().voicesMade, record().voicesReleased);
    });
    EXPECT_EQ(utterances, points + 1);
}

}  // namespace
}  // namespace korvix::test
