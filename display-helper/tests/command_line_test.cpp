#include "command_line.h"

#include <gtest/gtest.h>

namespace tolvek {
namespace {

TEST(CommandLine, known_words_with_exact_argument_counts_select_their_command)
{
    const Command service = select_command({"service", "S-1-5-18"});
    ASSERT_TRUE(std::holds_alternative<ServiceCommand>(service));
    EXPECT_EQ(std::get<ServiceCommand>(service).sid, "S-1-5-18");

    const Command install = select_command({"install", "s-1-5-21-1-2-3-1000"});
    ASSERT_TRUE(std::holds_alternative<InstallCommand>(install));
    EXPECT_EQ(std::get<InstallCommand>(install).sid, "s-1-5-21-1-2-3-1000")
        << "the SID goes on as typed";

    EXPECT_TRUE(std::holds_alternative<UninstallCommand>(select_command({"uninstall"})));
}

TEST(CommandLine, anything_else_is_a_usage_error)
{
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"service"},
        {"service", "S-1-5-18", "extra"},
        {"install"},
        {"install", "S-1-5-18", "extra"},
        {"uninstall", "extra"},
        {"Service", "S-1-5-18"},
        {"UNINSTALL"},
        {"help"},
        {""},
    };
    for (const auto& arguments : cases) {
        EXPECT_TRUE(std::holds_alternative<UsageError>(select_command(arguments)))
            << "arguments: " << arguments.size();
    }
}

TEST(CommandLine, usage_text_is_exact)
{
    EXPECT_EQ(kUsage, "usage: tolvek-display-helper service|install <sid> | uninstall");
}

} // namespace
} // namespace tolvek
