// Not a test: what a forwarded call and a binding cost, measured side by side in one run.
//   1. a bound forwarded call (hook test, slot load, indirect jump) against a plain indirect
//      call of the same function;
//   2. InitializeQTML + TerminateQTML with the stand-in QuickTime.qts, which every
//      convertForIPod pays: locate, load, bind, QuickTime's own init and terminate, unload.
// Usage: quicktime_forwarding_benchmark <folder holding QuickTime.qts>
#include <quicktime/services_binding.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

using namespace quicktime;

namespace {

extern "C" __attribute__((noinline)) long QUICKTIME_CALL plainDuration(Movie movie) {
    return static_cast<long>(reinterpret_cast<std::uintptr_t>(movie) & 1);
}

template <typename Body>
double nanosecondsPer(long iterations, Body&& body) {
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < iterations; ++i) body(i);
    const std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
    return elapsed.count() / static_cast<double>(iterations);
}

}  // namespace

int main(int argc, char** argv) {
    constexpr long kCalls = 50'000'000;
    volatile long sink = 0;

    // 1. The forwarding entry bound straight to plainDuration, next to calling it through a pointer.
    const EntryPoint savedDispatcher = quickTimeServicesBinding.dispatcher.load();
    const FirstCallHook savedHook = quickTimeServicesBinding.firstCallHook.load();
    quickTimeServicesBinding.dispatcher.store(reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(&plainDuration)));
    quickTimeServicesBinding.firstCallHook.store(nullptr);
    long (*volatile plain)(Movie) = &plainDuration;
    long (*volatile forwarded)(Movie) = &services::GetMovieDuration;
    // The best of five rounds each, interleaved, as the machine is shared.
    double plainNs = 1e9, forwardedNs = 1e9;
    for (int round = 0; round < 5; ++round) {
        plainNs = std::min(plainNs, nanosecondsPer(kCalls, [&](long i) { sink = sink + plain(reinterpret_cast<Movie>(i)); }));
        forwardedNs = std::min(
            forwardedNs, nanosecondsPer(kCalls, [&](long i) { sink = sink + forwarded(reinterpret_cast<Movie>(i)); }));
    }
    std::printf("plain indirect call:      %6.2f ns\n", plainNs);
    std::printf("bound forwarded call:     %6.2f ns  (+%.2f ns)\n", forwardedNs, forwardedNs - plainNs);
    quickTimeServicesBinding.dispatcher.store(savedDispatcher);
    quickTimeServicesBinding.firstCallHook.store(savedHook);

    // 2. Load and bind, as every conversion does.
    if (argc < 2) return 0;
    const char* key = "Software\\Apple Computer, Inc.\\QuickTime";
    const std::string folder = argv[1];
    if (::RegSetKeyValueA(HKEY_LOCAL_MACHINE, key, "QuickTime.qts folder", REG_SZ, folder.c_str(),
                          static_cast<DWORD>(folder.size() + 1)) != ERROR_SUCCESS) {
        std::printf("cannot set the registry value\n");
        return 1;
    }
    // The i686 runtime of the stand-in takes a TLS slot per load that it never gives back (a
    // process has 1088), so the loop stays well below that.
    constexpr long kBindings = 400;
    long failures = 0;
    const double bindUs = nanosecondsPer(kBindings, [&](long) {
                              failures += services::InitializeQTML(0) != 0;
                              services::TerminateQTML();
                          }) / 1000.0;
    const std::string library = folder + "\\QuickTime.qts";
    const double loadUs = nanosecondsPer(kBindings, [&](long) { ::FreeLibrary(::LoadLibraryA(library.c_str())); }) / 1000.0;
    const double locateUs =
        nanosecondsPer(kBindings, [&](long) { sink = sink + static_cast<long>(services::locateQuickTimeFolder(247).size()); }) /
        1000.0;
    ::RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, key, "QuickTime.qts folder");
    std::printf("InitializeQTML + TerminateQTML (load, bind, unload): %.1f us per conversion (%ld failed)\n", bindUs,
                failures);
    std::printf("of which LoadLibraryA + FreeLibrary alone: %.1f us, locating the folder alone: %.1f us\n", loadUs,
                locateUs);
    return failures == 0 ? 0 : 1;
}
