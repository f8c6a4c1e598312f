// Captures what the process writes to its standard output (fd 1) between construction and
// text(): the DLL under test and this program share one C runtime stdout.
#pragma once

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include <cstdio>
#include <iostream>
#include <string>

class StdoutCapture {
public:
    StdoutCapture() {
        wchar_t folder[MAX_PATH];
        GetTempPathW(MAX_PATH, folder);
        GetTempFileNameW(folder, L"out", 0, path_);
        std::cout.flush();
        std::fflush(stdout);
        saved_ = _dup(1);
        _wsopen_s(&file_, path_, _O_RDWR | _O_BINARY | _O_TRUNC, _SH_DENYNO, _S_IREAD | _S_IWRITE);
        _dup2(file_, 1);
    }
    ~StdoutCapture() {
        restore();
        DeleteFileW(path_);
    }
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    // Everything written so far, with the text mode's "\r\n" turned back into "\n".
    std::string text() {
        restore();
        std::string raw;
        if (FILE* f = _wfopen(path_, L"rb")) {
            char block[4096];
            size_t got;
            while ((got = std::fread(block, 1, sizeof block, f)) > 0) raw.append(block, got);
            std::fclose(f);
        }
        std::string lines;
        for (size_t i = 0; i < raw.size(); ++i)
            if (!(raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n')) lines += raw[i];
        return lines;
    }

private:
    void restore() {
        if (saved_ < 0) return;
        std::cout.flush();
        std::fflush(stdout);
        _dup2(saved_, 1);
        _close(saved_);
        _close(file_);
        saved_ = -1;
    }

    wchar_t path_[MAX_PATH] = {};
    int saved_ = -1;
    int file_ = -1;
};
