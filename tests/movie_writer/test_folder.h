// A scratch folder per test whose paths the writer also gets as the ANSI bytes it takes, and
// the shared standard output capture.
#pragma once

#include <tavro_test/scratch.h>

#include <windows.h>

#include <string>

using tavro::test::StdoutCapture;

class TestFolder : public tavro::test::ScratchFolder {
public:
    TestFolder() : ScratchFolder(L"reelwright") {}

    // The same path as the ANSI bytes the writer takes.
    std::string ansiFile(const std::wstring& name) const { return toAnsi(file(name)); }

    static std::string toAnsi(const std::wstring& text) {
        const int length = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
        std::string bytes(size_t(length > 0 ? length : 1), '\0');
        WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, bytes.data(), length, nullptr, nullptr);
        bytes.resize(bytes.size() - 1);
        return bytes;
    }
    static bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
};
