#include <tavro_test/fault_sweep.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace tavro::test {

namespace {

// The head of OBJECT_TYPE_INFORMATION: the type's name.
struct UNICODE_STRING_VIEW {
    USHORT length;
    USHORT capacity;
    const wchar_t* text;
};

// The sweep's state: which pass fails, on which thread, and what failed.
struct SweepState {
    std::atomic<DWORD> thread{0};  // 0: no sweep runs
    int passes = 0;
    int failAt = 0;  // 0: none fails (the counting run)
    std::string failed;
};
SweepState sweep;

// The library's own handles, opened through its opening imports.
std::mutex handleBookLock;
std::unordered_map<void*, int> handleBook;

struct ProcessCounts {
    std::size_t ownHandles = 0;
    DWORD handles = 0;
    DWORD gdiObjects = 0;
    DWORD userObjects = 0;
    std::size_t blocks = 0;
};

// This process's entries of the system's handle table.
std::vector<USHORT> ownHandleValues() {
    struct HandleEntry {
        ULONG processId;
        BYTE objectType;
        BYTE flags;
        USHORT handle;
        void* object;
        ACCESS_MASK access;
    };
    using QuerySystemInformation = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
    constexpr ULONG kSystemHandleInformation = 16;
    constexpr LONG kInfoLengthMismatch = LONG(0xC0000004);
    static const auto query = reinterpret_cast<QuerySystemInformation>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    static std::vector<BYTE> table(1 << 20);
    ULONG length = 0;
    LONG status = 0;
    while ((status = query(kSystemHandleInformation, table.data(), ULONG(table.size()), &length)) == kInfoLengthMismatch) {
        table.resize(table.size() * 2);
    }
    std::vector<USHORT> own;
    if (status != 0) return own;
    const ULONG count = *reinterpret_cast<const ULONG*>(table.data());
    const auto* entries = reinterpret_cast<const HandleEntry*>(table.data() + sizeof(void*));
    for (ULONG i = 0; i < count; ++i) {
        if (entries[i].processId == ::GetCurrentProcessId()) own.push_back(entries[i].handle);
    }
    return own;
}

// The kind of object behind one of this process's handles ("Event", "Key", ...).
std::string handleKind(USHORT value) {
    using QueryObject = LONG(WINAPI*)(HANDLE, ULONG, void*, ULONG, ULONG*);
    static const auto query = reinterpret_cast<QueryObject>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
    constexpr ULONG kObjectTypeInformation = 2;
    alignas(8) BYTE buffer[1024] = {};
    if (query(reinterpret_cast<HANDLE>(std::uintptr_t(value)), kObjectTypeInformation, buffer, sizeof buffer, nullptr) != 0) {
        return "?";
    }
    const auto* name = reinterpret_cast<const UNICODE_STRING_VIEW*>(buffer);
    std::string kind;
    for (USHORT i = 0; i < name->length / 2; ++i) kind += char(name->text[i]);
    // Named objects (keys, named events) say which they are.
    constexpr ULONG kObjectNameInformation = 1;
    alignas(8) BYTE named[2048] = {};
    if (query(reinterpret_cast<HANDLE>(std::uintptr_t(value)), kObjectNameInformation, named, sizeof named, nullptr) == 0) {
        const auto* objectName = reinterpret_cast<const UNICODE_STRING_VIEW*>(named);
        if (objectName->length) {
            kind += " ";
            for (USHORT i = 0; i < objectName->length / 2; ++i) kind += char(objectName->text[i]);
        }
    }
    return kind;
}

ProcessCounts processCounts(const SweepOptions& options) {
    ProcessCounts counts;
    counts.ownHandles = libraryHandleCount();
    if (options.processHandles) counts.handles = DWORD(openHandleCount());
    counts.gdiObjects = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
    counts.userObjects = ::GetGuiResources(::GetCurrentProcess(), GR_USEROBJECTS);
    counts.blocks = AllocationFaults::outstanding();
    return counts;
}

// One run of the scenario with pass `failAt` failing (0: none).
int runOnce(const std::function<void()>& scenario, int failAt) {
    sweep.passes = 0;
    sweep.failAt = failAt;
    sweep.failed.clear();
    sweep.thread = ::GetCurrentThreadId();
    scenario();
    sweep.thread = 0;
    return sweep.passes;
}

}  // namespace

bool faultPointFails(const char* point) {
    if (sweep.thread.load(std::memory_order_relaxed) != ::GetCurrentThreadId()) return false;
    if (++sweep.passes != sweep.failAt) return false;
    sweep.failed = point;
    return true;
}

std::string failedPoint() { return sweep.failed; }

namespace detail {
void rememberHandle(void* handle) {
    const std::lock_guard<std::mutex> lock(handleBookLock);
    ++handleBook[handle];
}
void forgetHandle(void* handle) {
    const std::lock_guard<std::mutex> lock(handleBookLock);
    handleBook.erase(handle);
}
}  // namespace detail

unsigned long openHandleCount() { return static_cast<unsigned long>(ownHandleValues().size()); }

std::size_t libraryHandleCount() {
    const std::lock_guard<std::mutex> lock(handleBookLock);
    return handleBook.size();
}

bool operator==(const ProcessCounts& a, const ProcessCounts& b) {
    return a.ownHandles == b.ownHandles && a.handles == b.handles && a.gdiObjects == b.gdiObjects && a.userObjects == b.userObjects &&
           a.blocks == b.blocks;
}

std::string describe(const ProcessCounts& c) {
    return std::to_string(c.ownHandles) + " of its own handles, " + std::to_string(c.handles) + " handles, " + std::to_string(c.gdiObjects) + " GDI and " +
           std::to_string(c.userObjects) + " USER objects, " + std::to_string(c.blocks) + " blocks";
}

SweepSummary sweepFaults(const std::function<void()>& scenario, SweepOptions options) {
    SweepSummary summary;
    {
        SCOPED_TRACE("first run, nothing failing");
        runOnce(scenario, 0);
    }
    ProcessCounts expected = processCounts(options);
    {
        SCOPED_TRACE("counting run, nothing failing");
        summary.points = runOnce(scenario, 0);
        const ProcessCounts counted = processCounts(options);
        EXPECT_TRUE(counted == expected) << "the scenario leaks with nothing failing: it began with "
                                         << describe(expected) << " and left " << describe(counted);
        expected = counted;
    }
    for (int point = 1; point <= summary.points && !::testing::Test::HasFatalFailure(); ++point) {
        const std::string trace = "fault point " + std::to_string(point) + " of " + std::to_string(summary.points);
        SCOPED_TRACE(trace);
        runOnce(scenario, point);
        ++summary.runs;
        const std::string name = sweep.failed;
        if (name.empty()) ADD_FAILURE() << "the run passed fewer points than the counting run";
        ProcessCounts after = processCounts(options);
        if (after == expected) continue;
        // The first failure of its kind may make what the runtime keeps for good (the state
        // of a first exception, say): the same failure again must then cost nothing more.
        const std::vector<USHORT> handlesBefore = ownHandleValues();
        runOnce(scenario, point);
        const ProcessCounts again = processCounts(options);
        if (again == after) {
            std::printf("failing point %d (%s) made lasting state once: %s, then %s\n", point, name.c_str(),
                        describe(expected).c_str(), describe(after).c_str());
        } else {
            std::string kinds;
            for (const USHORT value : ownHandleValues()) {
                if (std::find(handlesBefore.begin(), handlesBefore.end(), value) == handlesBefore.end()) {
                    kinds += "\n  " + handleKind(value);
                }
            }
            ADD_FAILURE() << "failing point " << point << " (" << name << ") leaks: it began with "
                          << describe(expected) << ", had " << describe(after) << ", then " << describe(again)
                          << "; the handles it left again:" << kinds;
        }
        expected = again;
    }
    return summary;
}

// --- allocations ---------------------------------------------------------------------------

namespace {

using Malloc = void*(__cdecl*)(size_t);
using Calloc = void*(__cdecl*)(size_t, size_t);
using Realloc = void*(__cdecl*)(void*, size_t);
using Free = void(__cdecl*)(void*);
using Strdup = char*(__cdecl*)(const char*);

struct Allocator {
    Malloc malloc = nullptr;
    Calloc calloc = nullptr;
    Realloc realloc = nullptr;
    Free free = nullptr;
    Strdup strdup = nullptr;
};
Allocator real;

// The module's live blocks. Its own threads allocate too, so the book takes a lock; the book's
// own memory comes from the test program's allocator, which is never patched.
std::mutex bookLock;
std::unordered_map<void*, bool> liveBlocks;

void remember(void* block) {
    if (!block) return;
    const std::lock_guard<std::mutex> lock(bookLock);
    liveBlocks[block] = true;
}
void forget(void* block) {
    if (!block) return;
    const std::lock_guard<std::mutex> lock(bookLock);
    liveBlocks.erase(block);
}

void* __cdecl faultingMalloc(size_t bytes) {
    if (faultPointFails("malloc")) return nullptr;
    void* block = real.malloc(bytes);
    remember(block);
    return block;
}
void* __cdecl faultingCalloc(size_t count, size_t bytes) {
    if (faultPointFails("calloc")) return nullptr;
    void* block = real.calloc(count, bytes);
    remember(block);
    return block;
}
void* __cdecl faultingRealloc(void* block, size_t bytes) {
    // A realloc to size 0 frees; only a growth or a new block can run out.
    if (bytes != 0 && faultPointFails("realloc")) return nullptr;
    void* moved = real.realloc(block, bytes);
    if (moved || bytes == 0) forget(block);
    remember(moved);
    return moved;
}
void __cdecl forgettingFree(void* block) {
    forget(block);
    real.free(block);
}
char* __cdecl faultingStrdup(const char* text) {
    if (faultPointFails("_strdup")) return nullptr;
    char* copy = real.strdup(text);
    remember(copy);
    return copy;
}

template <typename Function>
Function crtFunction(const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"msvcrt.dll"), name)));
}

}  // namespace

AllocationFaults::AllocationFaults(HMODULE module) {
    real.malloc = crtFunction<Malloc>("malloc");
    real.calloc = crtFunction<Calloc>("calloc");
    real.realloc = crtFunction<Realloc>("realloc");
    real.free = crtFunction<Free>("free");
    real.strdup = crtFunction<Strdup>("_strdup");
    const std::pair<const char*, void*> hooks[] = {
        {"malloc", reinterpret_cast<void*>(faultingMalloc)},   {"calloc", reinterpret_cast<void*>(faultingCalloc)},
        {"realloc", reinterpret_cast<void*>(faultingRealloc)}, {"free", reinterpret_cast<void*>(forgettingFree)},
        {"_strdup", reinterpret_cast<void*>(faultingStrdup)},
    };
    for (const auto& [name, hook] : hooks) {
        auto patch = std::make_unique<ImportPatch>(module, "msvcrt.dll", name, hook);
        if (patch->active()) patches_.push_back(std::move(patch));
    }
}

AllocationFaults::~AllocationFaults() {
    patches_.clear();
    const std::lock_guard<std::mutex> lock(bookLock);
    liveBlocks.clear();
}

bool AllocationFaults::active() const { return patches_.size() >= 4; }

std::size_t AllocationFaults::outstanding() {
    const std::lock_guard<std::mutex> lock(bookLock);
    return liveBlocks.size();
}

// --- imported platform calls ----------------------------------------------------------------

ImportFaults::ImportFaults(HMODULE module, const std::vector<FailingImportEntry>& table) {
    for (const FailingImportEntry& entry : table) {
        auto patch = std::make_unique<ImportPatch>(module, entry.dll, entry.function, entry.replacement);
        if (!patch->active()) {
            missing_.push_back(entry.function);
            continue;
        }
        *entry.real = patch->original();
        patches_.push_back(std::move(patch));
    }
}

}  // namespace tavro::test
