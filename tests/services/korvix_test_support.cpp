#include "korvix_test_support.h"

#include <tavro/win_handles.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace korvix::test {

namespace {

HMODULE korvixModule() {
    static const HMODULE module = ::LoadLibraryA(buildFilePath(KORVIX_DLL_PATH).c_str());
    return module;
}

std::wstring temporaryFolder() {
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
    std::wstring folder(buffer, length);
    if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    return folder;
}

void removeTree(const std::wstring& folder) {
    WIN32_FIND_DATAW entry{};
    const HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring full = folder + L"\\" + name;
            ::SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                removeTree(full);
            } else {
                ::DeleteFileW(full.c_str());
            }
        } while (::FindNextFileW(search, &entry));
        ::FindClose(search);
    }
    ::RemoveDirectoryW(folder.c_str());
}

}  // namespace

std::string buildFilePath(const char* unixPath) {
    std::string path = std::string("Z:") + unixPath;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

void* exportOf(const char* method) {
    const HMODULE module = korvixModule();
    EXPECT_NE(module, nullptr) << "Korvix.dll did not load: " << ::GetLastError();
    if (!module) return nullptr;
    const std::string name = std::string("Java_com_vyk_util_jni_Korvix_") + method;
    void* function = reinterpret_cast<void*>(::GetProcAddress(module, name.c_str()));
    EXPECT_NE(function, nullptr) << "no export " << name;
    return function;
}

void KorvixTest::TearDown() {
    EXPECT_EQ(vm.outstandingAcquisitions(), 0) << "strings or arrays not given back";
    EXPECT_FALSE(vm.exceptionPending()) << vm.pendingExceptionClass();
    EXPECT_EQ(vm.callsWithPendingException(), 0);
}

jstring KorvixTest::java(const std::wstring& text) {
    return vm.newString(std::u16string(text.begin(), text.end()));
}

ScratchFolder::ScratchFolder() {
    static int serial = 0;
    path_ = temporaryFolder() + L"\\korvix-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
            std::to_wstring(++serial);
    removeTree(path_);
    ::CreateDirectoryW(path_.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() {
    removeTree(path_);
}

void writeFile(const std::wstring& path, const std::string& bytes) {
    const tavro::UniqueHandle file = tavro::adoptFileHandle(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file) << "cannot create file: " << ::GetLastError();
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
}

std::string readFile(const std::wstring& path) {
    const tavro::UniqueHandle file = tavro::adoptFileHandle(::CreateFileW(
        path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return {};
    std::string bytes(::GetFileSize(file.get(), nullptr), '\0');
    DWORD read = 0;
    if (!bytes.empty() && !::ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr)) {
        return {};
    }
    bytes.resize(read);
    return bytes;
}

std::string narrow(const std::wstring& ascii) {
    return std::string(ascii.begin(), ascii.end());
}

StdoutCapture::StdoutCapture() : path_(temporaryFolder() + L"\\korvix-stdout-" +
                                       std::to_wstring(::GetCurrentProcessId()) + L".txt") {
    std::fflush(stdout);
    saved_ = ::_dup(1);
    const int capture = ::_wopen(path_.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, 0600);
    ::_dup2(capture, 1);
    ::_close(capture);
}

StdoutCapture::~StdoutCapture() {
    finish();
}

std::string StdoutCapture::finish() {
    if (saved_ < 0) return {};
    std::fflush(stdout);
    ::_dup2(saved_, 1);
    ::_close(saved_);
    saved_ = -1;
    std::string written = readFile(path_);
    ::DeleteFileW(path_.c_str());
    return written;
}

}  // namespace korvix::test
