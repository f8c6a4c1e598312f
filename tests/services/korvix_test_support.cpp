#include "korvix_test_support.h"

#include <tavro_test/import_patch.h>

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

namespace {

// One copy per process, in a folder of its own; every load of it is a new instance once the
// last one was freed.
const std::wstring& freshCopyPath() {
    static const ScratchFolder folder(L"korvix_fresh");
    static const std::wstring path = [] {
        const std::wstring copy = folder.file(L"KorvixFresh.dll");
        const std::string original = buildFilePath(KORVIX_DLL_PATH);
        EXPECT_TRUE(::CopyFileW(std::wstring(original.begin(), original.end()).c_str(), copy.c_str(), FALSE))
            << ::GetLastError();
        return copy;
    }();
    return path;
}

}  // namespace

FreshKorvix::FreshKorvix(JavaVM* vm) : module_(::LoadLibraryW(freshCopyPath().c_str())) {
    EXPECT_NE(module_, nullptr) << "the copy of Korvix.dll did not load: " << ::GetLastError();
    if (!module_) return;
    EXPECT_EQ(::GetModuleHandleW(freshCopyPath().c_str()), module_);
    using OnLoad = jint(JNICALL*)(JavaVM*, void*);
    const auto onLoad = reinterpret_cast<OnLoad>(reinterpret_cast<void*>(::GetProcAddress(module_, "JNI_OnLoad")));
    EXPECT_NE(onLoad, nullptr);
    if (onLoad) {
        EXPECT_EQ(onLoad(vm, nullptr), JNI_VERSION_1_4);
    }
}

FreshKorvix::~FreshKorvix() {
    if (!module_) return;
    ::FreeLibrary(module_);
    EXPECT_EQ(::GetModuleHandleW(freshCopyPath().c_str()), nullptr) << "the copy stayed loaded";
}

void* FreshKorvix::exportIn(HMODULE module, const char* name) {
    if (!module) return nullptr;
    const std::string full = std::string("Java_com_vyk_util_jni_Korvix_") + name;
    void* function = reinterpret_cast<void*>(::GetProcAddress(module, full.c_str()));
    EXPECT_NE(function, nullptr) << "no export " << full;
    return function;
}

std::size_t sweepAllocations(tavro::test::JavaVmStandIn& vm,
                             const std::function<void(const FreshKorvix&, bool starved)>& scenario) {
    auto expectVmClean = [&vm](const char* run) {
        EXPECT_FALSE(vm.exceptionPending()) << run << ": " << vm.pendingExceptionClass();
        if (vm.exceptionPending()) vm.clearException();
        EXPECT_EQ(vm.outstandingAcquisitions(), 0) << run << ": strings or arrays not given back";
    };
    std::size_t count = 0;
    {
        const FreshKorvix korvix(vm.vm());
        tavro::test::AllocationFailure allocations(korvix.module());
        EXPECT_TRUE(allocations.active());
        allocations.failAt(0);
        scenario(korvix, false);
        count = allocations.allocations();
        expectVmClean("counting run");
    }
    EXPECT_GT(count, 0u) << "the scenario allocates nothing: the sweep shows nothing";
    for (std::size_t point = 1; point <= count && !::testing::Test::HasFatalFailure(); ++point) {
        SCOPED_TRACE("allocation " + std::to_string(point) + " of " + std::to_string(count) + " refused");
        const FreshKorvix korvix(vm.vm());
        {
            tavro::test::AllocationFailure allocations(korvix.module());
            allocations.failAt(point);
            scenario(korvix, true);
            EXPECT_TRUE(allocations.refused());
        }
        expectVmClean("run without memory");
        scenario(korvix, false);
        expectVmClean("next run");
    }
    return count;
}

std::string narrow(const std::wstring& ascii) {
    return std::string(ascii.begin(), ascii.end());
}

}  // namespace korvix::test
