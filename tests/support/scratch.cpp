#include "tavro_test/scratch.h"

#include <tavro/win_handles.h>

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cstdio>
#include <iostream>

namespace tavro::test {

namespace {

void removeTree(const std::wstring& folder) {
    WIN32_FIND_DATAW entry{};
    const UniqueFindHandle search = adoptFindHandle(::FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (search) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring full = folder + L"\\" + name;
            // Tests leave read-only files behind on purpose.
            ::SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                removeTree(full);
            } else {
                ::DeleteFileW(full.c_str());
            }
        } while (::FindNextFileW(search.get(), &entry));
    }
    ::RemoveDirectoryW(folder.c_str());
}

}  // namespace

std::wstring temporaryFolder() {
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
    std::wstring folder(buffer, length <= MAX_PATH ? length : 0);
    if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    return folder;
}

std::string buildFilePath(const char* unixPath) {
    std::string path = std::string("Z:") + unixPath;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

std::string readFile(const std::wstring& path) {
    const UniqueHandle file = adoptFileHandle(::CreateFileW(
        path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        0, nullptr));
    if (!file) return {};
    std::string bytes(::GetFileSize(file.get(), nullptr), '\0');
    DWORD read = 0;
    if (!bytes.empty() && !::ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr)) {
        return {};
    }
    bytes.resize(read);
    return bytes;
}

bool writeFile(const std::wstring& path, const std::string& bytes) {
    const UniqueHandle file = adoptFileHandle(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    return ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

ScratchFolder::ScratchFolder(const std::wstring& prefix) {
    static int serial = 0;
    path_ = temporaryFolder() + L"\\" + prefix + L"-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
            std::to_wstring(++serial);
    removeTree(path_);
    ::CreateDirectoryW(path_.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() {
    removeTree(path_);
}

StdoutCapture::StdoutCapture()
    : path_(temporaryFolder() + L"\\stdout-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
            std::to_wstring(reinterpret_cast<std::uintptr_t>(this)) + L".txt") {
    std::cout.flush();
    std::fflush(stdout);
    saved_ = ::_dup(1);
    const int capture = ::_wopen(path_.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, 0600);
    ::_dup2(capture, 1);
    ::_close(capture);
}

StdoutCapture::~StdoutCapture() {
    finish();
    ::DeleteFileW(path_.c_str());
}

std::string StdoutCapture::finish() {
    if (saved_ >= 0) {
        std::cout.flush();
        std::fflush(stdout);
        ::_dup2(saved_, 1);
        ::_close(saved_);
        saved_ = -1;
    }
    return readFile(path_);
}

std::string StdoutCapture::text() {
    const std::string raw = finish();
    std::string lines;
    lines.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (!(raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n')) lines += raw[i];
    }
    return lines;
}

}  // namespace tavro::test
