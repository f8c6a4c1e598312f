// A stand-in QuickTime.qts: theQuickTimeDispatcher routes each routine code to a handler with
// the routine's own prototype; every call is recorded in the shared state, and the switches
// there make routines fail, block or answer with garbage above their 16-bit or byte result.
//
// The movie routines are modelled just far enough for a movie export: a source file whose
// content begins with "moov" is a movie (its duration the number after it), and an export writes
// a file at the data reference's path.
#include <quicktime/types.h>
#include <quicktime_standin/state.h>

#include "component_manager.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

using namespace quicktime;
namespace qs = quicktime_standin;

namespace {

qs::State* sharedState = nullptr;
HANDLE sharedMapping = nullptr;
// The call being served on this thread. A TLS slot of its own, given back at unload: a C++
// thread_local would take a slot per load that is never returned, and tests load often.
DWORD currentCallSlot = TLS_OUT_OF_INDEXES;

qs::Call* currentCall() {
    return static_cast<qs::Call*>(::TlsGetValue(currentCallSlot));
}

void serve(qs::Call* call) {
    ::TlsSetValue(currentCallSlot, call);
}

qs::State& state() {
    return *sharedState;
}

// A result register as the handlers fill it: whole, so garbage can sit above a narrow answer.
using Answer = std::uintptr_t;
constexpr Answer kGarbage = static_cast<Answer>(0xA5A5A5A5A5A5A5A5ull);

Answer answer16(int error) {
    Answer value = static_cast<std::uint16_t>(error);
    if (state().control.garbageInHighBits) value |= kGarbage & ~static_cast<Answer>(0xFFFF);
    return value;
}

Answer answerByte(unsigned byte) {
    Answer value = static_cast<std::uint8_t>(byte);
    if (state().control.garbageInHighBits) value |= kGarbage & ~static_cast<Answer>(0xFF);
    return value;
}

std::optional<int> failure() {
    const qs::Call* call = currentCall();
    for (const qs::Failure& f : state().control.failures) {
        if (f.code != 0 && call && f.code == call->code) return f.result;
    }
    return std::nullopt;
}

template <typename T>
std::uint64_t widened(T value) {
    if constexpr (std::is_pointer_v<T> || std::is_null_pointer_v<T>) {
        return reinterpret_cast<std::uintptr_t>(value);
    } else if constexpr (std::is_floating_point_v<T>) {
        const double wide = value;
        std::uint64_t bits;
        std::memcpy(&bits, &wide, sizeof bits);
        return bits;
    } else {
        return static_cast<std::uint64_t>(static_cast<std::int64_t>(value));
    }
}

template <typename... T>
void record(T... arguments) {
    qs::Call* call = currentCall();
    if (!call) return;
    const std::uint64_t values[] = {widened(arguments)...};
    for (std::size_t i = 0; i < sizeof...(T) && i < qs::kMaxArguments; ++i) call->arguments[i] = values[i];
    call->argumentCount = static_cast<std::uint32_t>(sizeof...(T));
}

void recordMore(std::uint32_t index, std::uint64_t value) {
    qs::Call* call = currentCall();
    if (!call || index >= qs::kMaxArguments) return;
    call->arguments[index] = value;
    if (call->argumentCount <= index) call->argumentCount = index + 1;
}

void recordText(const char* text) {
    qs::Call* call = currentCall();
    if (call && text) ::lstrcpynA(call->text, text, qs::kTextSize);
}

qs::Call* beginCall(std::uint32_t code) {
    const LONG index = ::InterlockedIncrement(&state().callCount) - 1;
    if (index >= static_cast<LONG>(qs::kMaxCalls)) return nullptr;
    qs::Call& call = state().calls[index];
    call.code = code;
    call.threadId = ::GetCurrentThreadId();
    return &call;
}

std::wstring wideFromUtf8(const std::string& text) {
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

// --- the movie model ------------------------------------------------------------------------

struct StandInMovie {
    long duration;
};
struct StandInString {
    std::string text;
};
struct StandInHandle {
    char* master;  // what a Handle points at
    std::string path;
};

std::mutex modelLock;
std::vector<std::string> sourcePaths;  // FSSpec parID and movie file reference number: index + 1
std::vector<std::unique_ptr<StandInMovie>> movies;
std::vector<std::unique_ptr<StandInString>> strings;
std::vector<std::unique_ptr<StandInHandle>> handles;

std::string readAll(const std::string& path) {
    std::string bytes;
    const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    char buffer[256];
    DWORD read = 0;
    if (::ReadFile(file, buffer, sizeof buffer, &read, nullptr)) bytes.assign(buffer, read);
    ::CloseHandle(file);
    return bytes;
}

const std::string* sourcePath(long index) {
    const std::lock_guard<std::mutex> lock(modelLock);
    if (index < 1 || static_cast<std::size_t>(index) > sourcePaths.size()) return nullptr;
    return &sourcePaths[static_cast<std::size_t>(index - 1)];
}

constexpr OSErr kFileNotFound = -43;
constexpr OSErr kIoError = -36;
constexpr OSErr kParameterError = -50;
constexpr OSErr kNoMovieFound = -2048;
constexpr OSErr kBadComponentSelector = static_cast<OSErr>(0x8002);

Component const kExporter = reinterpret_cast<Component>(static_cast<std::uintptr_t>(0x5000));
ComponentInstance const kExporterInstance = reinterpret_cast<ComponentInstance>(static_cast<std::uintptr_t>(0x6000));

// --- handlers, each with its routine's prototype (narrow results as whole registers) ----------

extern "C" {

Answer QUICKTIME_CALL standinInitializeQtml(long flags) {
    record(flags);
    if (auto f = failure()) return answer16(*f);
    return answer16(0);
}

void QUICKTIME_CALL standinTerminateQtml() {}

Answer QUICKTIME_CALL standinReleasesLazyReference() {
    return answerByte(state().control.releaseAnswer);
}

Answer QUICKTIME_CALL standinNativePathNameToFSSpec(char* name, FSSpec* fileSpec, long flags) {
    record(name, fileSpec, flags);
    recordText(name);
    if (auto f = failure()) return answer16(*f);
    if (!name || !fileSpec) return answer16(kParameterError);
    if (::GetFileAttributesA(name) == INVALID_FILE_ATTRIBUTES) return answer16(kFileNotFound);
    const std::lock_guard<std::mutex> lock(modelLock);
    sourcePaths.emplace_back(name);
    *fileSpec = FSSpec{};
    fileSpec->vRefNum = -1;
    fileSpec->parID = static_cast<long>(sourcePaths.size());
    const std::size_t length = std::min<std::size_t>(std::strlen(name), 63);
    fileSpec->name[0] = static_cast<unsigned char>(length);
    std::memcpy(fileSpec->name + 1, name, length);
    return answer16(0);
}

Answer QUICKTIME_CALL standinEnterMovies() {
    if (auto f = failure()) return answer16(*f);
    return answer16(0);
}

void QUICKTIME_CALL standinExitMovies() {}

long QUICKTIME_CALL standinGetMovieDuration(Movie movie) {
    record(movie);
    return movie ? reinterpret_cast<StandInMovie*>(movie)->duration : 0;
}

Answer QUICKTIME_CALL standinNewMovieFromFile(Movie* movie, short refNum, short* resId, StringPtr resName,
                                              short flags, Boolean* changed) {
    record(movie, refNum, resId, resName, flags, changed);
    if (resId) recordMore(6, widened(*resId));  // the resource id handed in
    if (auto f = failure()) return answer16(*f);
    const std::string* path = sourcePath(refNum);
    if (!movie || !path) return answer16(kParameterError);
    const std::string content = readAll(*path);
    if (content.compare(0, 4, "moov") != 0) return answer16(kNoMovieFound);
    const std::lock_guard<std::mutex> lock(modelLock);
    movies.push_back(std::make_unique<StandInMovie>(StandInMovie{std::atol(content.c_str() + 4)}));
    *movie = reinterpret_cast<Movie>(movies.back().get());
    if (resId) *resId = 128;
    return answer16(0);
}

Answer QUICKTIME_CALL standinOpenMovieFile(const FSSpec* fileSpec, short* refNum, SInt8 permission) {
    record(fileSpec, refNum, permission);
    if (auto f = failure()) return answer16(*f);
    if (!fileSpec || !refNum || !sourcePath(fileSpec->parID)) return answer16(kFileNotFound);
    *refNum = static_cast<short>(fileSpec->parID);
    return answer16(0);
}

Answer QUICKTIME_CALL standinNewDataReference(CFStringRef path, QTPathStyle style, UInt32 flags, Handle* dataRef,
                                              OSType* dataRefType) {
    record(path, style, flags, dataRef, dataRefType);
    if (auto f = failure()) return answer16(*f);
    if (!path || !dataRef || !dataRefType) return answer16(kParameterError);
    const std::lock_guard<std::mutex> lock(modelLock);
    handles.push_back(std::make_unique<StandInHandle>());
    StandInHandle& handle = *handles.back();
    handle.path = reinterpret_cast<const StandInString*>(path)->text;
    handle.master = handle.path.data();
    *dataRef = &handle.master;
    *dataRefType = fourCharCode("alis");
    return answer16(0);
}

CFStringRef QUICKTIME_CALL standinCFStringCreateWithCString(CFAllocatorRef allocator, const char* text,
                                                            CFStringEncoding encoding) {
    record(allocator, text, encoding);
    recordText(text);
    if (failure() || !text) return nullptr;
    const std::lock_guard<std::mutex> lock(modelLock);
    strings.push_back(std::make_unique<StandInString>(StandInString{text}));
    return reinterpret_cast<CFStringRef>(strings.back().get());
}

// The export component's one request this model serves: export to a data reference. The
// block's fields are recorded after the two arguments.
long QUICKTIME_CALL standinCallComponentWithParameters(ComponentInstance instance, ComponentParameters* parameters) {
    record(instance, parameters);
    if (auto f = failure()) return *f;
    if (instance != kExporterInstance || !parameters) return kBadComponentSelector;
    if (parameters->what != kMovieExportToDataRefSelect) return kBadComponentSelector;
    const auto& block = *reinterpret_cast<const MovieExportToDataRefParameters*>(parameters);
    const std::uint64_t fields[] = {widened(block.flags),      widened(block.paramSize),     widened(block.what),
                                    widened(block.dataRef),    widened(block.dataRefType),  widened(block.theMovie),
                                    widened(block.onlyThisTrack), widened(block.startTime), widened(block.duration)};
    for (std::uint32_t i = 0; i < 9; ++i) recordMore(2 + i, fields[i]);
    if (!block.dataRef || !*block.dataRef) return kParameterError;
    const std::string destination(*block.dataRef);
    const HANDLE file = ::CreateFileW(wideFromUtf8(destination).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return kIoError;
    const std::string content = "m4v " + std::to_string(block.duration);
    DWORD written = 0;
    ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    ::CloseHandle(file);
    return 0;
}

Component QUICKTIME_CALL standinFindNextComponent(Component previous, ComponentDescription* looking) {
    record(previous, looking);
    if (!looking) return nullptr;
    recordMore(2, looking->componentType);
    recordMore(3, looking->componentSubType);
    recordMore(4, looking->componentManufacturer);
    recordMore(5, looking->componentFlags);
    recordMore(6, looking->componentFlagsMask);
    if (failure() || state().control.noExporter) return nullptr;
    const bool exporter = looking->componentType == fourCharCode("spit") &&
                          looking->componentSubType == fourCharCode("M4VP") &&
                          looking->componentManufacturer == fourCharCode("appl");
    return exporter && !previous ? kExporter : nullptr;
}

Answer QUICKTIME_CALL standinCloseComponent(ComponentInstance instance) {
    record(instance);
    if (auto f = failure()) return answer16(*f);
    return answer16(0);
}

Answer QUICKTIME_CALL standinOpenAComponent(Component component, ComponentInstance* instance) {
    record(component, instance);
    if (auto f = failure()) return answer16(*f);
    if (component != kExporter || !instance) return answer16(kParameterError);
    *instance = kExporterInstance;
    return answer16(0);
}

void QUICKTIME_CALL standinDisposeHandle(Handle handle) {
    record(handle);
    hostDisposeHandle(handle);
}

// Any other routine code: nothing happens, and a cdecl caller cleans its own arguments.
Answer QUICKTIME_CALL standinUnmodelledRoutine() {
    return answer16(0);
}

std::int64_t QUICKTIME_CALL standinProbe(std::int32_t a, std::int64_t b, double c, std::int32_t d, float e,
                                         std::int64_t f, double g, std::int32_t h) {
    record(a, b, c, d, e, f, g, h);
    return b + f + a + d + h;
}

// Where theQuickTimeDispatcher jumps for a routine code; records the call first.
void* QUICKTIME_CALL standinHandlerFor(std::uint32_t code) {
    serve(beginCall(code));
    if (code == state().control.blockCode) {
        const HANDLE blocked = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, qs::blockedEventName().c_str());
        const HANDLE release = ::OpenEventW(SYNCHRONIZE, FALSE, qs::releaseEventName().c_str());
        if (blocked) ::SetEvent(blocked);
        if (release) ::WaitForSingleObject(release, INFINITE);
        if (blocked) ::CloseHandle(blocked);
        if (release) ::CloseHandle(release);
    }
    if (state().control.probe) return reinterpret_cast<void*>(&standinProbe);
    switch (code) {
        case 0x001D0008: return reinterpret_cast<void*>(&standinInitializeQtml);
        case 0x001D0009: return reinterpret_cast<void*>(&standinTerminateQtml);
        case 0x001D0059: return reinterpret_cast<void*>(&standinReleasesLazyReference);
        case 0x001D002E: return reinterpret_cast<void*>(&standinNativePathNameToFSSpec);
        case 0x00020001: return reinterpret_cast<void*>(&standinEnterMovies);
        case 0x00020002: return reinterpret_cast<void*>(&standinExitMovies);
        case 0x0002002B: return reinterpret_cast<void*>(&standinGetMovieDuration);
        case 0x000200F0: return reinterpret_cast<void*>(&standinNewMovieFromFile);
        case 0x00020192: return reinterpret_cast<void*>(&standinOpenMovieFile);
        case 0x000203EA: return reinterpret_cast<void*>(&standinNewDataReference);
        case 0x003201DB: return reinterpret_cast<void*>(&standinCFStringCreateWithCString);
        case 0x00010000: return reinterpret_cast<void*>(&standinCallComponentWithParameters);
        case 0x00010004: return reinterpret_cast<void*>(&standinFindNextComponent);
        case 0x00010008: return reinterpret_cast<void*>(&standinCloseComponent);
        case 0x0001002D: return reinterpret_cast<void*>(&standinOpenAComponent);
        case 0x00150032: return reinterpret_cast<void*>(&standinDisposeHandle);
        default:
            if (void* hosted = hostRoutine(code)) return hosted;
            return reinterpret_cast<void*>(&standinUnmodelledRoutine);
    }
}

// _CallComponent: the binding looks it up and never calls it.
long QUICKTIME_CALL standinCallComponent() {
    serve(beginCall(qs::kCallComponentCode));
    return kBadComponentSelector;
}

// _CallComponentFunctionWithStorage: recorded; the probe switch makes it answer the sum of its
// argument values, so a caller sees its result come back.
long QUICKTIME_CALL standinCallComponentFunctionWithStorage(Handle storage, ComponentParameters* parameters,
                                                            ComponentFunctionUPP handler) {
    serve(beginCall(qs::kCallComponentFunctionWithStorageCode));
    record(storage, parameters, reinterpret_cast<void*>(handler));
    if (auto f = failure()) return *f;
    if (state().host.enabled) return hostCallWithStorage(storage, parameters, handler);
    return static_cast<long>(reinterpret_cast<std::uintptr_t>(storage) + reinterpret_cast<std::uintptr_t>(parameters) +
                             reinterpret_cast<std::uintptr_t>(handler));
}

}  // extern "C"

bool openSharedState(HMODULE self) {
    currentCallSlot = ::TlsAlloc();
    if (currentCallSlot == TLS_OUT_OF_INDEXES) return false;
    sharedMapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(qs::State),
                                         qs::stateMappingName().c_str());
    if (!sharedMapping) return false;
    sharedState = static_cast<qs::State*>(::MapViewOfFile(sharedMapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(qs::State)));
    if (!sharedState) return false;
    ::InterlockedIncrement(&sharedState->loads);
    ::GetModuleFileNameA(self, sharedState->loadedFrom, qs::kTextSize);
    return true;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) return openSharedState(self) ? TRUE : FALSE;
    if (reason == DLL_PROCESS_DETACH && sharedState) {
        ::InterlockedIncrement(&sharedState->unloads);
        ::UnmapViewOfFile(sharedState);
        ::CloseHandle(sharedMapping);
        sharedState = nullptr;
        ::TlsFree(currentCallSlot);
    }
    return TRUE;
}
