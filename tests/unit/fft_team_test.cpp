// The team a long transform asks for, under each platform's OpenMP rule.
#include <gtest/gtest.h>

#include "fft/fft_team.h"

namespace kesto::fft {
namespace {

TEST(FftHostTeam, SharedRuntimeKeepsTheHostsSettingOwnRuntimeReadsTheEnvironmentNow) {
    EXPECT_EQ(HostTeam(3, true, "8"), 3);     // Linux: the host's omp_set_num_threads counts
    EXPECT_EQ(HostTeam(3, false, "8"), 8);    // Windows: the environment as it is now
    EXPECT_EQ(HostTeam(3, false, "4,2"), 4);  // nested teams listed: the outer one
    EXPECT_EQ(HostTeam(3, false, std::nullopt), 3);
    for (const char* unusable : {"", "0", "many", "6x"})
        EXPECT_EQ(HostTeam(3, false, std::string(unusable)), 3) << unusable;
}

}  // namespace
}  // namespace kesto::fft
