// The launcher's texts that need no system call: VM option strings, the class-path prefix,
// the policy file, the session-log record and the URL form of a path. All of them are
// narrow strings in the ANSI code page, built by plain concatenation.
#pragma once

#include <string>
#include <string_view>

namespace tavro::launcher {

inline constexpr const char* kApplicationName = "Tavro";
inline constexpr const char* kMainClass = "com/vyk/ov/tavro/Tavro";
inline constexpr const char* kGuardName = "Tavro.jar";
inline constexpr const char* kSecurityParam = "-Djava.security.manager";

// Backslashes become '/', spaces become "%20"; nothing else is escaped.
std::string toPolicyUrl(std::string_view path);

// The policy granting all permissions to the application's code and to its library folder.
// Both folders end with a backslash.
std::string policyFileText(std::string_view applicationFolder, std::string_view libraryFolder);

// "-Djava.security.policy=file:/" + the URL form of the policy file's path.
std::string policyOption(std::string_view policyFilePath);

// PATH as the library path takes it: trailing backslashes dropped, double quotes made spaces
// (a quote would end the quoted library-path option early).
std::string cleanPathVariable(std::string_view path);

// "-Djava.library.path=\".;<app>\lib;<PATH>\"" with PATH already cleaned.
std::string libraryPathOption(std::string_view applicationDirectory, std::string_view cleanedPath);

// "-Djava.class.path=" and the fixed elements; the library-folder scan appends archives to it.
std::string classPathPrefix(std::string_view applicationDirectory, std::string_view libraryFolder);

// Whether a file found below the library folder joins the class path: its whole path
// contains ".jar" or ".zip" (case-sensitive).
bool isArchivePath(std::string_view path);

// Listing entries that name the folder itself or its parent.
bool isSelfOrParentEntry(std::string_view name);

// "-XX:ErrorFile=<USERPROFILE>\Logs\Tavro_error%p.log"; an unset profile leaves an empty part.
std::string errorFileOption(std::string_view userProfile);

// The text of a launch error as the log and the error box show it.
std::string launchErrorText(std::string_view message, bool fatal);

// One session-log record, before the text-mode line-end translation of the log file.
// `timeStamp` is the asctime text, its line feed included.
std::string sessionLogRecord(std::string_view timeStamp, std::string_view message, bool fatal);

}  // namespace tavro::launcher
