// Dismisses the message boxes of one process (this one, or a child) as they appear, with OK,
// and remembers their captions and texts (UTF-8).
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace tavro::test {

struct Box {
    std::string caption;
    std::string text;
};

void PrintTo(const Box& box, std::ostream* out);

class BoxDismisser {
public:
    explicit BoxDismisser(DWORD processId = ::GetCurrentProcessId());
    ~BoxDismisser();
    BoxDismisser(const BoxDismisser&) = delete;
    BoxDismisser& operator=(const BoxDismisser&) = delete;

    std::vector<Box> boxes();
    std::vector<std::string> texts();

private:
    void watch();
    static BOOL CALLBACK visit(HWND window, LPARAM self);
    void consider(HWND window);

    DWORD processId_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<Box> boxes_;
    std::set<HWND> handled_;
    std::thread thread_;
};

}  // namespace tavro::test
