#include "korvix_test_support.h"

namespace korvix::test {

HMODULE korvixLibrary() {
    static const HMODULE module = ::LoadLibraryA(buildFilePath(KORVIX_DLL_PATH).c_str());
    return module;
}

void* exportOf(const char* method) {
    const HMODULE module = korvixLibrary();
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

std::string narrow(const std::wstring& ascii) {
    return std::string(ascii.begin(), ascii.end());
}

}  // namespace korvix::test
