// Every line the converter writes to standard output. The Java side reads the "TaskChange"
// lines to show progress; the others tell a person what went wrong.
#pragma once

#include <cstdint>

namespace reelshift {

void printUsage(const wchar_t* programName);
void printConversionStarted();
void printConversionFinished();
void printUnexpectedElementCount(unsigned long count);  // no line end: the error line follows
void printEventFailure(std::int32_t status);
void printStartFailure();
void printCloseFailure();
void printConversionError(std::int32_t status);

}  // namespace reelshift
