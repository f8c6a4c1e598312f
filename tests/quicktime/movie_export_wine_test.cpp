// convertForIPod, through Korvix.dll's export, against the stand-in QuickTime.qts: each step's
// line and clean-up as the stand-in saw them.
#include "korvix_test_support.h"
#include "quicktime_test_support.h"

#include <quicktime/types.h>

#include <cstring>
#include <vector>

namespace quicktime::test {
namespace {

using korvix::test::korvixExport;
using tavro::test::ScratchFolder;
using tavro::test::StdoutCapture;

using Convert = jboolean(JNICALL*)(JNIEnv*, jclass, jstring, jstring);

// The routines in the order a conversion calls them.
constexpr std::uint32_t kInitialize = 0x001D0008, kEnterMovies = 0x00020001, kPathToSpec = 0x001D002E,
                        kOpenMovieFile = 0x00020192, kNewMovie = 0x000200F0, kMakeString = 0x003201DB,
                        kDataReference = 0x000203EA, kFindComponent = 0x00010004, kOpenComponent = 0x0001002D,
                        kDuration = 0x0002002B, kComponentCall = 0x00010000, kDisposeHandle = 0x00150032,
                        kCloseComponent = 0x00010008, kExitMovies = 0x00020002, kTerminate = 0x001D0009;

class MovieExport : public korvix::test::KorvixTest {
protected:
    MovieExport() {
        source = folder.file(L"clip.mov");
        destination = folder.file(L"clip.m4v");
        tavro::test::writeFile(source, "moov 4321");
    }

    void installStandIn() {
        placed.emplace(StandInVariant::version702, folder.path());
        quickTime.set(HKEY_LOCAL_MACHINE, "QuickTime.qts folder", narrow(folder.path()));
    }

    // Converts and answers the result with everything written to standard output.
    std::pair<bool, std::string> convert(const std::wstring& from, const std::wstring& to) {
        StdoutCapture output;
        const jboolean result = korvixExport<Convert>("convertForIPod")(env, korvixClass, java(from), java(to));
        return {result == JNI_TRUE, output.text()};
    }

    QuickTimeRegistry quickTime;
    QuickTimeStandIn standIn;
    ScratchFolder folder{L"movie-export"};
    std::optional<PlacedStandIn> placed;
    std::wstring source, destination;
};

TEST_F(MovieExport, WithoutQuickTimeReportsInitialisation) {
    const auto [converted, output] = convert(source, destination);
    EXPECT_FALSE(converted);
    EXPECT_EQ(output, "Could not initialize QTML: -2093\n");
    EXPECT_EQ(standIn.state().loads, 0);
}

TEST_F(MovieExport, PathsTheVmCannotGiveEndTheCallBeforeQuickTime) {
    installStandIn();
    vm.failStringChars(true);
    const auto [converted, output] = convert(source, destination);
    EXPECT_FALSE(converted);
    EXPECT_EQ(output, "");
    EXPECT_EQ(standIn.state().loads, 0);
    EXPECT_EQ(vm.pendingExceptionClass(), "java/lang/OutOfMemoryError");
    vm.clearException();
}

TEST_F(MovieExport, SuccessExportsTheWholeMovieWithTheTabledArguments) {
    installStandIn();
    const auto [converted, output] = convert(source, destination);
    EXPECT_TRUE(converted);
    EXPECT_EQ(output, "");
    EXPECT_EQ(tavro::test::readFile(destination), "m4v 4321");
    EXPECT_EQ(standIn.codes(), (std::vector<std::uint32_t>{kInitialize, kEnterMovies, kPathToSpec, kOpenMovieFile,
                                                           kNewMovie, kMakeString, kDataReference, kFindComponent,
                                                           kOpenComponent, kDuration, kComponentCall, kDisposeHandle,
                                                           kCloseComponent, kExitMovies, kTerminate}));

    using Arguments = std::vector<std::uint64_t>;
    const auto arguments = [&](std::uint32_t code) {
        const std::optional<qs::Call> call = standIn.lastCall(code);
        return call ? Arguments(call->arguments, call->arguments + call->argumentCount) : Arguments{};
    };
    EXPECT_EQ(arguments(kInitialize), Arguments{0});
    EXPECT_EQ(standIn.lastCall(kPathToSpec)->text, narrow(source));
    EXPECT_EQ(arguments(kPathToSpec).at(2), 0u);                     // flags
    EXPECT_EQ(arguments(kOpenMovieFile).at(2), 1u);                  // read permission
    const Arguments newMovie = arguments(kNewMovie);
    ASSERT_EQ(newMovie.size(), 7u);
    EXPECT_EQ(newMovie[1], 1u);                                     // the movie file's reference number
    EXPECT_EQ(newMovie[3], 0u);                                     // no name
    EXPECT_EQ(newMovie[4], 1u);                                     // newMovieActive
    EXPECT_EQ(newMovie[5], 0u);                                     // no changed-reference flag
    EXPECT_EQ(newMovie[6], 0u);                                     // resource id handed in
    const Arguments text = arguments(kMakeString);
    EXPECT_EQ(text.at(0), 0u);                                      // the default allocator
    EXPECT_EQ(text.at(2), kCFStringEncodingUTF8);
    EXPECT_EQ(standIn.lastCall(kMakeString)->text, narrow(destination));
    const Arguments reference = arguments(kDataReference);
    EXPECT_EQ(reference.at(1), 0xFFFFFFFFu);                        // kQTNativeDefaultPathStyle
    EXPECT_EQ(reference.at(2), 0u);
    EXPECT_EQ(arguments(kFindComponent), (Arguments{0, arguments(kFindComponent).at(1), fourCharCode("spit"),
                                                    fourCharCode("M4VP"), fourCharCode("appl"), 0, 0}));

    // The export request: instance, block, then the block's fields.
    const Arguments request = arguments(kComponentCall);
    ASSERT_EQ(request.size(), 11u);
    const std::uint64_t instance = request[0], dataRef = request[5], movie = request[7];
    EXPECT_EQ(request[2], 0u);                                      // flags
    EXPECT_EQ(request[3], sizeof(MovieExportToDataRefParameters) - offsetof(MovieExportToDataRefParameters, dataRef));
    EXPECT_EQ(request[4], 0x88u);
    EXPECT_NE(dataRef, 0u);
    EXPECT_EQ(request[6], fourCharCode("alis"));
    EXPECT_EQ(movie, arguments(kDuration).at(0));
    EXPECT_EQ(request[8], 0u);                                      // all tracks
    EXPECT_EQ(request[9], 0u);                                      // from the start
    EXPECT_EQ(request[10], 4321u);                                  // the whole duration
    EXPECT_EQ(arguments(kDisposeHandle), Arguments{dataRef});
    EXPECT_EQ(arguments(kCloseComponent), Arguments{instance});
}

struct FailingStep {
    const char* name;
    std::uint32_t code;  // the routine made to fail (0: none)
    std::int32_t result;
    const char* line;    // %s stands for the source, %d for the destination
    std::vector<std::uint32_t> codes;
};

void PrintTo(const FailingStep& step, std::ostream* out) {
    *out << step.name;
}

class MovieExportStep : public MovieExport, public ::testing::WithParamInterface<FailingStep> {};

TEST_P(MovieExportStep, WritesItsLineAndCleansUp) {
    const FailingStep& step = GetParam();
    installStandIn();
    if (step.code == kFindComponent) {
        standIn.control().noExporter = 1;
    } else {
        standIn.failRoutine(step.code, step.result);
    }
    const auto [converted, output] = convert(source, destination);
    EXPECT_FALSE(converted);
    std::string line = step.line;
    if (const std::size_t at = line.find("%s"); at != std::string::npos) line.replace(at, 2, narrow(source));
    if (const std::size_t at = line.find("%d"); at != std::string::npos) line.replace(at, 2, narrow(destination));
    EXPECT_EQ(output, line + "\n");
    EXPECT_EQ(standIn.codes(), step.codes);
    EXPECT_EQ(::GetFileAttributesW(destination.c_str()), INVALID_FILE_ATTRIBUTES);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, MovieExportStep,
    ::testing::Values(
        FailingStep{"Initialize", kInitialize, -2096, "Could not initialize QTML: -2096", {kInitialize}},
        FailingStep{"EnterMovies", kEnterMovies, -108, "Could not initialize EnterMovies: -108",
                    {kInitialize, kEnterMovies, kTerminate}},
        FailingStep{"PathToSpec", kPathToSpec, -43, "Could not get file resource for %s: -43",
                    {kInitialize, kEnterMovies, kPathToSpec, kExitMovies, kTerminate}},
        FailingStep{"OpenMovieFile", kOpenMovieFile, -49, "Could not open movie file: -49",
                    {kInitialize, kEnterMovies, kPathToSpec, kOpenMovieFile, kExitMovies, kTerminate}},
        FailingStep{"NewMovie", kNewMovie, -2048, "Could not generate QT Movie: -2048",
                    {kInitialize, kEnterMovies, kPathToSpec, kOpenMovieFile, kNewMovie, kExitMovies, kTerminate}},
        FailingStep{"NoMovie", kNewMovie, 0, "Could not generate QT Movie: 0",
                    {kInitialize, kEnterMovies, kPathToSpec, kOpenMovieFile, kNewMovie, kExitMovies, kTerminate}},
        FailingStep{"DataReference", kDataReference, -37, "Could not create destination file %d: -37",
                    {kInitialize, kEnterMovies, kPathToSpec, kOpenMovieFile, kNewMovie, kMakeString, kDataReference,
                     kExitMovies, kTerminate}},
        FailingStep{"NoExporter", kFindComponent, 0, "Could not get QT export component: 0",
                    {kInitialize, kEnterMovies, kPathToSpec, kOpenMovieFile, kNewMovie, kMakeString, kDataReference,
                     kFindComponent, kDisposeHandle, kExitMovies, kTerminate}},
        FailingStep{"OpenComponent", kOpenComponent, -2000, "Could not open QT export component: -2000",
                    {kInitialize, kEnterMovies, kPathToSpec, kOpenMovieFile, kNewMovie, kMakeString, kDataReference,
                     kFindComponent, kOpenComponent, kDisposeHandle, kExitMovies, kTerminate}},
        FailingStep{"Export", kComponentCall, -2003, "Could not convert to M4V: -2003",
                    {kInitialize, kEnterMovies, kPathToSpec, kOpenMovieFile, kNewMovie, kMakeString, kDataReference,
                     kFindComponent, kOpenComponent, kDuration, kComponentCall, kDisposeHandle, kCloseComponent,
                     kExitMovies, kTerminate}}),
    [](const ::testing::TestParamInfo<FailingStep>& param) { return std::string(param.param.name); });

TEST_F(MovieExport, ASourceThatIsNotAMovieAndAnUnwritableDestinationFailTheirSteps) {
    installStandIn();
    tavro::test::writeFile(source, "not a movie");
    EXPECT_EQ(convert(source, destination), std::make_pair(false, std::string("Could not generate QT Movie: -2048\n")));
    tavro::test::writeFile(source, "moov 10");
    const std::wstring unwritable = folder.file(L"missing\\clip.m4v");
    EXPECT_EQ(convert(source, unwritable), std::make_pair(false, std::string("Could not convert to M4V: -36\n")));
    EXPECT_EQ(standIn.count(kInitialize), 2);
    EXPECT_EQ(standIn.count(kTerminate), 2);
}

TEST_F(MovieExport, ConversionsInARowEachInitialiseAndTerminateOnce) {
    installStandIn();
    EXPECT_TRUE(convert(source, destination).first);
    EXPECT_TRUE(convert(source, folder.file(L"second.m4v")).first);
    EXPECT_EQ(standIn.count(kInitialize), 2);
    EXPECT_EQ(standIn.count(kTerminate), 2);
    EXPECT_EQ(standIn.count(kEnterMovies), 2);
    EXPECT_EQ(standIn.count(kExitMovies), 2);
    EXPECT_EQ(standIn.state().loads, 2);
    EXPECT_EQ(standIn.state().unloads, 2);
    EXPECT_EQ(::GetModuleHandleA("QuickTime.qts"), nullptr);
}

TEST_F(MovieExport, NonAsciiDestinationReachesQuickTimeAsUtf8) {
    installStandIn();
    const std::wstring target = folder.file(L"Z\u00FCrich \u2713.m4v");
    EXPECT_TRUE(convert(source, target).first);
    const std::string utf8 = narrow(folder.path()) + "\\Z\xC3\xBCrich \xE2\x9C\x93.m4v";
    EXPECT_EQ(std::string(standIn.lastCall(kMakeString)->text), utf8);
    EXPECT_EQ(tavro::test::readFile(target), "m4v 4321");
}

}  // namespace
}  // namespace quicktime::test
