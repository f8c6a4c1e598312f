// What the Wine suites share: a scratch folder per test, file contents, the build's files as
// Wine sees them, and the process's standard output captured (a DLL under test and the test
// program share one C runtime stdout).
#pragma once

#include <string>

namespace tavro::test {

// The temporary folder, without a trailing backslash.
std::wstring temporaryFolder();

// A file of the build (a Unix path) as Wine's Z: drive shows it.
std::string buildFilePath(const char* unixPath);

// The whole file, or nothing when it cannot be read.
std::string readFile(const std::wstring& path);
// Creates or replaces the file with exactly these bytes; false when that fails.
bool writeFile(const std::wstring& path, const std::string& bytes);

// A fresh empty folder under the temporary folder, removed with all its contents at the end.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::wstring& prefix = L"tavro");
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::wstring& path() const { return path_; }
    std::wstring file(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

// Everything written to standard output (fd 1) from construction until finish().
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    // Restores standard output (on the first call) and returns the bytes written.
    std::string finish();
    // The same with the text mode's "\r\n" turned back into "\n".
    std::string text();

private:
    std::wstring path_;
    int saved_ = -1;
};

}  // namespace tavro::test
