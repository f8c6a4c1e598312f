// A fresh temporary folder per test, removed with everything in it afterwards.
#pragma once

#include <windows.h>

#include <string>

class TestFolder {
public:
    TestFolder() {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        static unsigned serial = 0;
        path_ = std::wstring(temp) + L"reelwright-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(++serial);
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~TestFolder() { removeTree(path_); }
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    const std::wstring& path() const { return path_; }
    std::wstring file(const std::wstring& name) const { return path_ + L"\\" + name; }
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

private:
    static void removeTree(const std::wstring& folder) {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = found.cFileName;
                if (name == L"." || name == L"..") continue;
                const std::wstring full = folder + L"\\" + name;
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    removeTree(full);
                } else {
                    DeleteFileW(full.c_str());
                }
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        RemoveDirectoryW(folder.c_str());
    }

    std::wstring path_;
};
