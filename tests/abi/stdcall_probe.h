// Calls a function exactly as a 32-bit caller of a __stdcall function does, and measures what
// the callee did to the stack: a callee with another convention, or one that reads a different
// argument list, leaves a difference the x86_64 build can never show.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#if defined(__i386__)

extern "C" std::int32_t tavroCallPushed(const void* function, const std::uint32_t* words, std::uint32_t bytes,
                                        std::uint32_t* result);

namespace tavro::test {

template <typename R>
struct StdcallOutcome {
    // The callee's result (its raw eax for a void function).
    std::conditional_t<std::is_void_v<R>, std::uint32_t, R> result;
    // Argument bytes the callee left on the stack: 0 when it took exactly its own arguments;
    // their whole size when it is __cdecl.
    std::int32_t bytesLeft;
    std::uint32_t argumentBytes;
};

// Every argument in 4-byte slots, an 8-byte one in two, low word first.
template <typename T>
void pushArgument(std::vector<std::uint32_t>& words, T value) {
    static_assert(std::is_trivially_copyable_v<T> && sizeof(T) <= 8);
    std::uint32_t slots[2] = {};
    std::memcpy(slots, &value, sizeof(T));
    words.insert(words.end(), slots, slots + (sizeof(T) + 3) / 4);
}

template <typename R, typename... A, typename... V>
StdcallOutcome<R> callAsStdcall(R(__stdcall* function)(A...), V... values) {
    static_assert(sizeof(StdcallOutcome<R>::result) <= 4, "a 32-bit result");
    std::vector<std::uint32_t> words;
    (pushArgument<A>(words, static_cast<A>(values)), ...);
    words.push_back(0);  // keeps data() valid for a function without arguments
    const auto bytes = static_cast<std::uint32_t>((words.size() - 1) * 4);
    std::uint32_t raw = 0;
    const std::int32_t left = tavroCallPushed(reinterpret_cast<const void*>(function), words.data(), bytes, &raw);
    StdcallOutcome<R> outcome{};
    std::memcpy(&outcome.result, &raw, sizeof(outcome.result));  // a narrower result is the low bytes of eax
    outcome.bytesLeft = left;
    outcome.argumentBytes = bytes;
    return outcome;
}

}  // namespace tavro::test

#endif
