// What the start-up sequence reports and writes besides its traces: the session log with its
// error box, the box for a failed system call, and the security policy file.
#pragma once

#include <optional>
#include <string>

namespace tavro::launcher {

// The value of an environment variable; unset and empty are the same: no usable value.
std::optional<std::string> environmentValue(const char* name);

// Appends a record to the session log under USERPROFILE\Logs (skipped when USERPROFILE is
// not set). A fatal report then shows the error box and ends the process with exit code 1.
void reportLaunchError(const std::string& message, bool fatal);
[[noreturn]] void reportFatalLaunchError(const std::string& message);

// Shows the system's text for the calling thread's last-error code.
void showSystemError();

// Replaces TEMP\Tavro.policy (a copy that cannot be deleted stays in force) and returns its
// path; nothing when TEMP is not set or a new file cannot be written.
std::optional<std::string> writePolicyFile(const std::string& applicationDirectory,
                                           const std::string& libraryFolder);

}  // namespace tavro::launcher
