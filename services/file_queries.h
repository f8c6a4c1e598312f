// File, volume and shell questions the Java side asks about one path at a time.
// Byte-form paths are 8-bit (ANSI) strings; a null path gives each query's failure answer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace korvix {

bool pathExists(const char* path);
bool pathIsFile(const char* path);
bool pathIsDirectory(const char* path);

// True when the file cannot be opened: for reading shared with readers only, or, with
// forWriting, for writing. Neither open creates, truncates or changes the file.
bool fileIsLocked(const char* path, bool forWriting);

// True when the caller's own token is granted write-data access by the path's security
// descriptor. Failures print one trace line to standard output and answer false.
bool callerCanWrite(const char* path);

// Bytes free to the caller on the directory's volume, or -1.
std::int64_t freeBytesForCaller(const char* directory);

// What following a shortcut gave.
enum class LinkResolution { resolved, unresolved, comUnavailable };
struct ResolvedLink {
    LinkResolution outcome;
    std::string target;  // the target path when resolved, else empty
};
ResolvedLink resolveShortcut(const char* linkPath);

// Starts the file the way the desktop's "open" would; true when the shell started it.
bool shellOpen(const std::wstring& file, const std::wstring& directory, const std::wstring& parameters);

void addToRecentDocuments(const std::wstring& path);

}  // namespace korvix
