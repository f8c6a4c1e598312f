// What the Korvix suites under Wine share: the real Korvix.dll with its exports found by their
// JNI names, a Java VM stand-in per test, a scratch folder, and standard output capture.
#pragma once

#include "java_vm_standin.h"

#include <tavro_test/scratch.h>

#include <windows.h>

#include <gtest/gtest.h>
#include <jni.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace korvix::test {

// Korvix.dll as the suites loaded it.
HMODULE korvixLibrary();

// The export for a native method of com.vyk.util.jni.Korvix; fails the test when missing.
void* exportOf(const char* method);

template <typename Function>
Function korvixExport(const char* method) {
    return reinterpret_cast<Function>(exportOf(method));
}

// Each test gets a fresh VM; afterwards every string and array the library took must have
// been given back, and no exception may be left pending.
class KorvixTest : public ::testing::Test {
protected:
    void TearDown() override;

    // A Java string from standard UTF-8.
    jstring java(const std::string& utf8) { return vm.newStringUtf8(utf8); }
    jstring java(const std::wstring& text);
    std::string utf8(jstring text) const { return vm.stringUtf8(text); }

    tavro::test::JavaVmStandIn vm;
    JNIEnv* env = vm.env();
    jclass korvixClass = vm.defineClass("com/vyk/util/jni/Korvix");
};

// A copy of Korvix.dll loaded apart from the one the suites share, as the Java VM loads it
// (JNI_OnLoad included): each one is a fresh library whose first uses all run again.
class FreshKorvix {
public:
    explicit FreshKorvix(JavaVM* vm);
    ~FreshKorvix();
    FreshKorvix(const FreshKorvix&) = delete;
    FreshKorvix& operator=(const FreshKorvix&) = delete;
    HMODULE module() const { return module_; }
    // The export for a native method of com.vyk.util.jni.Korvix; null when missing.
    template <typename Function>
    Function method(const char* name) const {
        return reinterpret_cast<Function>(exportIn(module_, name));
    }
    static void* exportIn(HMODULE module, const char* name);

private:
    HMODULE module_ = nullptr;
};

// Runs `scenario` on a fresh Korvix once to count the allocations it makes, then, for each of
// them, on another fresh Korvix with that allocation refused (`starved` true) and once more in
// the same load with memory again (`starved` false). After every run nothing may be pending in
// the Java VM and every string and array must have been given back. Answers the count.
std::size_t sweepAllocations(tavro::test::JavaVmStandIn& vm,
                             const std::function<void(const FreshKorvix&, bool starved)>& scenario);

using tavro::test::buildFilePath;
using tavro::test::readFile;
using tavro::test::ScratchFolder;
using tavro::test::StdoutCapture;
using tavro::test::writeFile;

std::string narrow(const std::wstring& ascii);  // ASCII paths for byte-form arguments

}  // namespace korvix::test
