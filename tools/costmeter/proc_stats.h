// What the kernel knows of this process: CPU time per thread and in all, resident memory.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace kesto::costmeter {

struct ThreadCpu {
    std::string name;
    double seconds = 0;  // on a CPU since the thread began
};

// Every live thread of the process by its id (Linux thread id).
std::map<int, ThreadCpu> SampleThreads();

// User + system CPU seconds of the whole process, ended threads included.
double ProcessCpuSeconds();

// Resident set size in bytes.
uint64_t ResidentBytes();

// The calling thread's Linux id.
int CurrentThreadId();

}  // namespace kesto::costmeter
