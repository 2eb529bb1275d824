#include "alloc_counter.h"

#include <execinfo.h>
#include <link.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>

// glibc's own entry points, which its public malloc family forwards to as well.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* pointer);
}

namespace {

// Initial-exec TLS of the executable: reading it allocates nothing, so it is safe in here.
thread_local uint64_t t_allocations = 0;
thread_local uint64_t t_foreign = 0;
thread_local bool t_attribute = false;
thread_local bool t_walking = false;

// The foreign library's address range, [begin, end).
std::atomic<uintptr_t> g_foreignBegin{0};
std::atomic<uintptr_t> g_foreignEnd{0};

bool FromForeignLibrary() {
    const uintptr_t begin = g_foreignBegin.load(std::memory_order_relaxed);
    const uintptr_t end = g_foreignEnd.load(std::memory_order_relaxed);
    void* frames[64];
    t_walking = true;  // the unwinder's own first-use allocations are counted plainly
    const int depth = backtrace(frames, 64);
    t_walking = false;
    for (int i = 0; i < depth; ++i) {
        const auto address = reinterpret_cast<uintptr_t>(frames[i]);
        if (address >= begin && address < end) return true;
    }
    return false;
}

void Count() {
    if (t_attribute && !t_walking && FromForeignLibrary()) {
        ++t_foreign;
    } else {
        ++t_allocations;
    }
}

struct RangeSearch {
    const char* name;
    uintptr_t begin;
    uintptr_t end;
};

int FindRange(dl_phdr_info* info, size_t, void* data) {
    auto* search = static_cast<RangeSearch*>(data);
    if (info->dlpi_name == nullptr || std::strstr(info->dlpi_name, search->name) == nullptr) {
        return 0;
    }
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        if (segment.p_type != PT_LOAD) continue;
        const uintptr_t begin = info->dlpi_addr + segment.p_vaddr;
        const uintptr_t end = begin + segment.p_memsz;
        if (search->begin == 0 || begin < search->begin) search->begin = begin;
        if (end > search->end) search->end = end;
    }
    return 1;
}

}  // namespace

namespace kesto::costmeter {

uint64_t ThreadAllocations() {
    return t_allocations;
}

uint64_t ThreadForeignAllocations() {
    return t_foreign;
}

bool SetForeignLibrary(const std::string& name) {
    RangeSearch search{name.c_str(), 0, 0};
    dl_iterate_phdr(FindRange, &search);
    g_foreignBegin = search.begin;
    g_foreignEnd = search.end;
    return search.end > search.begin;
}

void AttributeThreadAllocations(bool on) {
    if (on) {
        void* warmUp[4];
        backtrace(warmUp, 4);  // loads the unwinder now rather than inside an allocation
    }
    t_attribute = on;
}

}  // namespace kesto::costmeter

extern "C" {

void* malloc(size_t size) {
    Count();
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) {
    Count();
    return __libc_calloc(count, size);
}

void* realloc(void* pointer, size_t size) {
    Count();
    return __libc_realloc(pointer, size);
}

void free(void* pointer) {
    __libc_free(pointer);
}

void* memalign(size_t alignment, size_t size) {
    Count();
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) {
    Count();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** result, size_t alignment, size_t size) {
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) {
        return EINVAL;
    }
    Count();
    void* pointer = __libc_memalign(alignment, size);
    if (pointer == nullptr && size != 0) {
        return ENOMEM;
    }
    *result = pointer;
    return 0;
}

}  // extern "C"
