// A process that exits with its movie still open (no closeN), run many times in a row: its exit
// must never crash or hang, whatever the platform's worker threads are doing at that moment.
#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <map>
#include <optional>

#include "audio_test_support.h"
#include "test_folder.h"

namespace {

constexpr int kRuns = 200;
constexpr DWORD kLongestRunMs = 20'000;
// The runs stop early when a loaded machine takes longer than this for them, so the suite stays
// within its time limit; every run done still counts.
constexpr auto kTimeBudget = std::chrono::seconds(120);

struct RunOutcome {
    DWORD startError = 0;  // CreateProcessW's error when the program did not start
    std::optional<DWORD> exitCode;  // nothing when it had to be ended after kLongestRunMs
};

RunOutcome runOnce(const std::wstring& program, const std::wstring& arguments, HANDLE output) {
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = output;
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION process{};
    RunOutcome run;
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process)) {
        run.startError = GetLastError();
        return run;
    }
    if (WaitForSingleObject(process.hProcess, kLongestRunMs) == WAIT_OBJECT_0) {
        DWORD exitCode = 0;
        GetExitCodeProcess(process.hProcess, &exitCode);
        run.exitCode = exitCode;
    } else {
        TerminateProcess(process.hProcess, 99);
        WaitForSingleObject(process.hProcess, INFINITE);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return run;
}

TEST(ProcessExit, AMovieLeftOpenNeverCrashesOrHangsTheExit) {
    TestFolder folder;
    std::vector<std::uint8_t> second(22050 * 2);
    for (size_t i = 0; i < second.size(); ++i) second[i] = std::uint8_t(i * 29);
    const std::wstring sound = folder.file(L"tone.wav");
    ASSERT_TRUE(audiotest::writeWav(sound, 22050, 16, 1, second));
    const std::string programPath = tavro::test::buildFilePath(REELWRIGHT_EXIT_PROGRAM);
    const std::wstring program(programPath.begin(), programPath.end());  // the build's paths are ASCII
    const std::wstring arguments = L"\"" + folder.file(L"movie.mp4") + L"\" \"" + sound + L"\"";

    SECURITY_ATTRIBUTES inherited{sizeof(inherited), nullptr, TRUE};
    const HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   &inherited, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(nul, INVALID_HANDLE_VALUE);

    std::map<DWORD, int> failures;  // exit code (other than 0) and how often it came
    int hangs = 0, done = 0;
    const auto started = std::chrono::steady_clock::now();
    while (done < kRuns && std::chrono::steady_clock::now() - started < kTimeBudget) {
        RunOutcome run = runOnce(program, arguments, nul);
        // A start the system refused under load is no run of the program: it is tried again.
        for (int retry = 0; run.startError && retry < 3; ++retry) {
            Sleep(200);
            run = runOnce(program, arguments, nul);
        }
        ASSERT_EQ(run.startError, 0u) << "the program could not be started";
        ++done;
        if (!run.exitCode) {
            ++hangs;
        } else if (*run.exitCode != 0) {
            ++failures[*run.exitCode];
        }
    }
    const auto elapsed = std::chrono::steady_clock::now() - started;
    CloseHandle(nul);
    std::cout << done << " runs in " << std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()
              << " ms\n";

    EXPECT_EQ(hangs, 0);
    for (const auto& [code, count] : failures) ADD_FAILURE() << count << " runs ended with code 0x" << std::hex << code;
}

}  // namespace
