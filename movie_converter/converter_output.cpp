#include "converter_output.h"

#include <cstdio>
#include <cwchar>

namespace reelshift {

namespace {

// Standard output on a pipe is fully buffered, and the Java side reads the "TaskChange" lines
// while the conversion runs: each line leaves at once.
void flushed() { std::fflush(stdout); }

}  // namespace

// Wide strings are printed with %ls: under mingw's ANSI stdio, a wide %s prints one character.
void printUsage(const wchar_t* programName) {
    std::wprintf(L"Usage: %ls input_file output_file\n", programName);
    flushed();
}

void printConversionStarted() {
    std::printf("TaskChange indeterminate true\n");
    flushed();
}

void printConversionFinished() {
    std::printf("TaskChange finished true\n");
    flushed();
}

void printUnexpectedElementCount(unsigned long count) {
    std::printf("Unexpected element count: %d", static_cast<int>(count));
    flushed();
}

void printEventFailure(std::int32_t status) {
    std::wprintf(L"Failed. 0x%X error condition triggered this event.\n", static_cast<unsigned>(status));
    flushed();
}

void printStartFailure() {
    std::wprintf(L"Failed to start the session...\n");
    flushed();
}

void printCloseFailure() {
    std::wprintf(L"Failed to close the session...\n");
    flushed();
}

void printConversionError(std::int32_t status) {
    std::wprintf(L"Error converting movie: (0x%X).\n", static_cast<unsigned>(status));
    flushed();
}

}  // namespace reelshift
