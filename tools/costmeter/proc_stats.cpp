#include "proc_stats.h"

#include <dirent.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace kesto::costmeter {

std::map<int, ThreadCpu> SampleThreads() {
    std::map<int, ThreadCpu> threads;
    DIR* dir = opendir("/proc/self/task");
    if (dir == nullptr) return threads;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        const std::string base = std::string("/proc/self/task/") + entry->d_name;
        // schedstat: nanoseconds on a CPU, first field; finer than stat's clock ticks.
        std::ifstream schedstat(base + "/schedstat");
        unsigned long long runNs = 0;
        if (!(schedstat >> runNs)) continue;  // the thread ended meanwhile
        ThreadCpu cpu;
        cpu.seconds = static_cast<double>(runNs) * 1e-9;
        std::ifstream comm(base + "/comm");
        std::getline(comm, cpu.name);
        threads[std::atoi(entry->d_name)] = cpu;
    }
    closedir(dir);
    return threads;
}

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

uint64_t ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    uint64_t size = 0, resident = 0;
    statm >> size >> resident;
    return resident * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
}

int CurrentThreadId() {
    return static_cast<int>(syscall(SYS_gettid));
}

}  // namespace kesto::costmeter
