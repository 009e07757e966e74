#include "foundation/resources.h"
#include "foundation/unique_name.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace launcher {
namespace {

using testing::failureOf;

TEST(LoadResourceBytes, ReturnsTheBuiltInConfigurationByteForByte) {
    EXPECT_EQ(loadResourceBytes(builtinConfigResourceId), testing::readBytes(BUILTIN_CONFIG_FILE));
}

TEST(LoadResourceBytes, MissingResourceMeansAnIncompleteLauncher) {
    EXPECT_EQ(failureOf([] { loadResourceBytes(4242); }), "启动器资源不完整。");
}

TEST(NewUniqueHexName, GivesDistinctThirtyTwoDigitUpperCaseNames) {
    const std::string first = newUniqueHexName();
    const std::string second = newUniqueHexName();
    EXPECT_NE(first, second);
    for (const std::string& name : {first, second}) {
        EXPECT_EQ(name.size(), 32u) << name;
        EXPECT_EQ(name.find_first_not_of("0123456789ABCDEF"), std::string::npos) << name;
    }
}

} // namespace
} // namespace launcher
