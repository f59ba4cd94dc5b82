#include "report/ldap/plumbing/Text.h"

#include <gtest/gtest.h>

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

} // namespace
} // namespace quindral
