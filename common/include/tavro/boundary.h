// The one guard at every place where our code is called from outside (JNI exports, COM
// callbacks handed to the shell, component entries): an exception must never unwind into a
// Java VM frame or a system DLL, so it becomes the caller's documented failure answer.
#pragma once

#include <type_traits>
#include <utility>

namespace tavro {

// Runs `body` and answers its result, or `failure` when it throws anything.
template <typename Result, typename Body>
Result guardBoundary(Result failure, Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        return failure;
    }
}

// For boundaries that answer nothing: an exception is dropped.
template <typename Body>
void guardBoundary(Body&& body) noexcept {
    static_assert(std::is_void_v<decltype(std::forward<Body>(body)())>);
    try {
        std::forward<Body>(body)();
    } catch (...) {
    }
}

}  // namespace tavro
