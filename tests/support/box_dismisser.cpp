#include "tavro_test/box_dismisser.h"

namespace tavro::test {
namespace {

std::string utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(std::size_t(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), result.data(), size, nullptr, nullptr);
    return result;
}

std::string windowText(HWND window) {
    wchar_t text[1024] = {};
    ::GetWindowTextW(window, text, 1024);
    return utf8(text);
}

BOOL CALLBACK collectStatic(HWND child, LPARAM texts) {
    wchar_t className[64] = {};
    ::GetClassNameW(child, className, 64);
    const std::string text = windowText(child);
    if (std::wstring(className) == L"Static" && !text.empty())
        reinterpret_cast<std::vector<std::string>*>(texts)->push_back(text);
    return TRUE;
}

}  // namespace

void PrintTo(const Box& box, std::ostream* out) { *out << "box \"" << box.caption << "\": \"" << box.text << "\""; }

BoxDismisser::BoxDismisser(DWORD processId) : processId_(processId), thread_([this] { watch(); }) {}

BoxDismisser::~BoxDismisser() {
    stop_ = true;
    thread_.join();
}

std::vector<Box> BoxDismisser::boxes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
}

std::vector<std::string> BoxDismisser::texts() {
    std::vector<std::string> result;
    for (const auto& box : boxes()) result.push_back(box.text);
    return result;
}

void BoxDismisser::watch() {
    while (!stop_) {
        ::EnumWindows(&BoxDismisser::visit, reinterpret_cast<LPARAM>(this));
        ::Sleep(20);
    }
}

BOOL CALLBACK BoxDismisser::visit(HWND window, LPARAM self) {
    static_cast<BoxDismisser*>(reinterpret_cast<void*>(self))->consider(window);
    return TRUE;
}

void BoxDismisser::consider(HWND window) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    wchar_t className[64] = {};
    ::GetClassNameW(window, className, 64);
    if (owner != processId_ || std::wstring(className) != L"#32770" || !::IsWindowVisible(window)) return;
    if (!handled_.insert(window).second) return;
    std::vector<std::string> texts;
    ::EnumChildWindows(window, &collectStatic, reinterpret_cast<LPARAM>(&texts));
    {
        std::lock_guard<std::mutex> lock(mutex_);
        boxes_.push_back({windowText(window), texts.empty() ? "" : texts.front()});
    }
    ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

}  // namespace tavro::test
