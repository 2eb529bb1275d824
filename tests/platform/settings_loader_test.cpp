// The decoder-path setting (environment variable / registry value), per platform backend. (The
// loader's system texts: through the exports, tests/integration/exports_test.cpp.)
#include <gtest/gtest.h>

#include <string>

#include "platform/settings.h"
#include "test_platform.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace kesto::platform {
namespace {

using test::SetDecoderLibrarySetting;

#if defined(_WIN32)
// 260 bytes of UTF-16 with the terminating zero that RegSetValueEx stores.
constexpr std::size_t kLongestPath = 129;
#else
constexpr std::size_t kLongestPath = 260;
#endif

class DecoderLibrarySetting : public ::testing::Test {
  protected:
    void TearDown() override { SetDecoderLibrarySetting(nullptr); }
};

TEST_F(DecoderLibrarySetting, UsedUpToTheLengthLimitAndIgnoredBeyond) {
    SetDecoderLibrarySetting(nullptr);
    EXPECT_FALSE(ConfiguredDecoderLibraryPath().has_value());

    const std::string longest(kLongestPath, 'p');
    SetDecoderLibrarySetting(longest.c_str());
    EXPECT_EQ(ConfiguredDecoderLibraryPath(), longest);

    SetDecoderLibrarySetting((longest + "p").c_str());
    EXPECT_FALSE(ConfiguredDecoderLibraryPath().has_value());
}

#if defined(_WIN32)
void SetRawValue(DWORD type, const void* data, DWORD size) {
    ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, "Software\\Corvexa\\Kesto", "MalvoVideoDecoderLib",
                              type, data, size),
              ERROR_SUCCESS);
}

TEST_F(DecoderLibrarySetting, OnlyAPlainStringCounts) {
    const char expandable[] = "%SystemRoot%\\decoder.dll";
    SetRawValue(REG_EXPAND_SZ, expandable, sizeof expandable);
    EXPECT_FALSE(ConfiguredDecoderLibraryPath().has_value());
    const DWORD number = 7;
    SetRawValue(REG_DWORD, &number, sizeof number);
    EXPECT_FALSE(ConfiguredDecoderLibraryPath().has_value());
}
#endif

}  // namespace
}  // namespace kesto::platform
