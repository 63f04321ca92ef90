#include "registration_command.h"

#include <gtest/gtest.h>

namespace tolvek::vcam {
namespace {

RegistrationCommand select(std::vector<std::u16string> arguments)
{
    return select_registration_command(arguments);
}

TEST(RegistrationCommand, register_alone_takes_the_module_beside_the_tool)
{
    const auto command = select({u"register"});
    ASSERT_TRUE(std::holds_alternative<RegisterCamera>(command));
    EXPECT_FALSE(std::get<RegisterCamera>(command).module_path.has_value());
}

TEST(RegistrationCommand, register_with_a_path_keeps_it_as_typed)
{
    const std::u16string path = u"..\\d\u00e9p\\tolvek_vcam.dll";
    const auto command = select({u"register", path});
    ASSERT_TRUE(std::holds_alternative<RegisterCamera>(command));
    EXPECT_EQ(std::get<RegisterCamera>(command).module_path, path);
}

TEST(RegistrationCommand, unregister_takes_no_arguments)
{
    EXPECT_TRUE(std::holds_alternative<UnregisterCamera>(select({u"unregister"})));
    EXPECT_TRUE(std::holds_alternative<RegistrationUsageError>(select({u"unregister", u"x.dll"})));
}

TEST(RegistrationCommand, anything_else_is_a_usage_error)
{
    for (const auto& arguments : std::vector<std::vector<std::u16string>>{
             {},
             {u"Register"},
             {u"install"},
             {u"register", u""}, // an empty path would name the current folder
             {u"register", u"a.dll", u"b.dll"},
             {u"unregister "},
         }) {
        EXPECT_TRUE(std::holds_alternative<RegistrationUsageError>(select(arguments)))
            << arguments.size() << " arguments";
    }
}

} // namespace
} // namespace tolvek::vcam
