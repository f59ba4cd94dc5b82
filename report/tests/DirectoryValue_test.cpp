#include "report/DirectoryValue.h"

#include <gtest/gtest.h>

namespace quindral {
namespace {

TEST(DirectoryValue, TextFormFollowsTheOrdinaryRule) {
    EXPECT_EQ(DirectoryValue::Text("CN=x").ToText(), "CN=x");
    EXPECT_EQ(DirectoryValue::Empty().ToText(), "");
    EXPECT_EQ(DirectoryValue::Null().ToText(), "");
    EXPECT_EQ(DirectoryValue::Integer(-42).ToText(), "-42");
    EXPECT_EQ(DirectoryValue::Real(0.1).ToText(), "0.1");
    EXPECT_EQ(DirectoryValue::Real(2.5e20).ToText(), "2.5E+20");
    EXPECT_EQ(DirectoryValue::Boolean(true).ToText(), "True");
    EXPECT_EQ(DirectoryValue::Boolean(false).ToText(), "False");
    EXPECT_EQ(DirectoryValue::Object().ToText(), std::nullopt);
    EXPECT_EQ(DirectoryValue::NoTextForm().ToText(), std::nullopt);
    EXPECT_EQ(DirectoryValue::List({DirectoryValue::Text("a")}).ToText(), std::nullopt);
}

TEST(DirectoryValue, ListBoundsAndElements) {
    const auto empty = DirectoryValue::List({});
    EXPECT_EQ(empty.UpperBound(), -1);
    EXPECT_EQ(empty.Element(0), nullptr);

    const auto shifted =
        DirectoryValue::List({DirectoryValue::Text("a"), DirectoryValue::Text("b")}, 1);
    EXPECT_EQ(shifted.UpperBound(), 2);
    EXPECT_EQ(shifted.Element(0), nullptr);
    EXPECT_EQ(shifted.Element(2)->ToText(), "b");
    EXPECT_EQ(shifted.Element(3), nullptr);
    EXPECT_EQ(DirectoryValue::Text("a").Element(0), nullptr);
}

} // namespace
} // namespace quindral
