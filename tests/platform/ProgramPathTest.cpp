#include "platform/core/ProgramPath.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

TEST(ProgramPath, ExecutableDirectoryHoldsThisTestProgram)
{
    const std::filesystem::path dir = krp::platform::executableDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_TRUE(dir.is_absolute());
    bool found = false;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        found = found || entry.path().stem() == "krp_platform_core_test";
    EXPECT_TRUE(found) << dir.string();
}

}  // namespace
