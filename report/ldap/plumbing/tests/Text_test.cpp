#include "report/ldap/plumbing/Text.h"

#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

namespace quindral {
namespace {

TEST(ValidUtf8, KeepsValidTextAndReplacesEveryBrokenSequence) {
    const std::string replacement = "\xEF\xBF\xBD";
    EXPECT_EQ(ValidUtf8("plain DC=x"), "plain DC=x");
    EXPECT_EQ(ValidUtf8("Z\xC3\xBCrich \xE6\x9D\xB1 \xF0\x9F\x98\x80"),
              "Z\xC3\xBCrich \xE6\x9D\xB1 \xF0\x9F\x98\x80");
    EXPECT_EQ(ValidUtf8(std::string("a\0b\r\nc", 6)), std::string("a\0b\r\nc", 6));
    EXPECT_EQ(ValidUtf8("\xFF"), replacement);
    EXPECT_EQ(ValidUtf8("a\xC3"), "a" + replacement);            // truncated at end
    EXPECT_EQ(ValidUtf8("\xC0\xAF"), replacement + replacement); // overlong
    EXPECT_EQ(ValidUtf8("\xED\xA0\x80"), replacement + replacement + replacement); // surrogate
    EXPECT_EQ(ValidUtf8("\xF4\x90\x80\x80"), std::string() + replacement + replacement +
                                                 replacement + replacement); // above U+10FFFF
    EXPECT_EQ(ValidUtf8("\xE6\x9D"
                        "x"),
              replacement + replacement + "x");
}

TEST(TextHelpers, TrimSplitAndCompareNames) {
    const std::pair<std::string, std::string> trims[] = {
        {"  a b \t\r\n", "a b"}, {"\t\n", ""}, {"", ""}, {"x", "x"}};
    for (const auto& [text, trimmed] : trims) {
        EXPECT_EQ(Trimmed(text), trimmed) << text;
    }
    const struct {
        std::string list;
        std::string separators;
        std::vector<std::string> items;
    } splits[] = {{" a, b ,,c ", ",", {"a", "b", "c"}},
                  {"files  dns\t", " ", {"files", "dns"}},
                  {"a;b,c", ",;", {"a", "b", "c"}},
                  {" , ", ",", {}}};
    for (const auto& row : splits) {
        EXPECT_EQ(SplitList(row.list, row.separators), row.items) << row.list;
    }
    const struct {
        std::string a;
        std::string b;
        bool same;
    } names[] = {{"DC1.Quindral.TEST", "dc1.quindral.test", true},
                 {"dc1", "dc1.", false},
                 {"\xC3\x9C", "\xC3\xBC", false}, // ASCII case only
                 {"", "", true}};
    for (const auto& row : names) {
        EXPECT_EQ(SameName(row.a, row.b), row.same) << row.a << " " << row.b;
    }
}

} // namespace
} // namespace quindral
