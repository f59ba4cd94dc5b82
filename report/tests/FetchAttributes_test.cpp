#include "FakeDirectory.h"
#include "TempDirectory.h"
#include "report/FetchAttributes.h"
#include "trace/LogFile.h"

#include <gtest/gtest.h>

namespace quindral {
namespace {

using testing::FakeDirectory;
using Attributes = FakeDirectory::Attributes;
using V = DirectoryValue;

std::string Lines(std::initializer_list<std::string> lines) {
    std::string text;
    for (const auto& line : lines) {
        text += line + "\r\n";
    }
    return text;
}

Attributes FullRootDse() {
    return {
        {"dnsHostName", V::Text("dc1.corp.example")},
        {"serverName", V::Text("CN=DC1,CN=Servers,CN=Site,CN=Sites,CN=Configuration,DC=corp")},
        {"ldapServiceName", V::Text("corp.example:dc1$@CORP.EXAMPLE")},
        {"dsServiceName", V::Text("CN=NTDS Settings,CN=DC1")},
        {"namingContexts", V::List({V::Text("DC=corp"), V::Text("CN=Configuration,DC=corp"),
                                    V::Text("CN=Schema,CN=Configuration,DC=corp")})},
        {"defaultNamingContext", V::Text("DC=corp")},
        {"schemaNamingContext", V::Text("CN=Schema,CN=Configuration,DC=corp")},
        {"configurationNamingContext", V::Text("CN=Configuration,DC=corp")},
        {"altServer", V::List({V::Text("ldap://dc2.corp.example"), V::Text("ldap://dc3")})},
    };
}

const std::string kFullReport = Lines({
    "Contacting GC://rootDSE",
    "  dnsHostName: dc1.corp.example",
    "  serverName: CN=DC1,CN=Servers,CN=Site,CN=Sites,CN=Configuration,DC=corp",
    "  ldapServiceName: corp.example:dc1$@CORP.EXAMPLE",
    "  dsServiceName: CN=NTDS Settings,CN=DC1",
    "  namingContexts: ",
    "    DC=corp",
    "    CN=Configuration,DC=corp",
    "    CN=Schema,CN=Configuration,DC=corp",
    "  defaultNamingContext: DC=corp",
    "  schemaNamingContext: CN=Schema,CN=Configuration,DC=corp",
    "  configurationNamingContext: CN=Configuration,DC=corp",
    "  altServer: ",
    "    ldap://dc2.corp.example",
    "    ldap://dc3",
});

class FetchAttributesTest : public ::testing::Test {
protected:
    testing::TempDirectory dir;
    StringTextHolder pane;
    TraceSink sink{pane, LogFilePathIn(dir.path())};
    FakeDirectory directory;

    std::string Run(const Attributes& attributes, std::string_view prefix = "GC") {
        directory.Add(std::string(prefix) + "://rootDSE", attributes);
        FetchAttributes(prefix, directory, sink);
        return pane.Text();
    }
    std::string Log() const { return testing::ReadFile(sink.LogFilePath()); }
};

TEST_F(FetchAttributesTest, FullReportInOrderInPaneAndLog) {
    EXPECT_EQ(Run(FullRootDse()), kFullReport);
    EXPECT_EQ(Log(), "********************\r\n" + kFullReport);
    EXPECT_EQ(directory.boundPaths, std::vector<std::string>{"GC://rootDSE"});
}

TEST_F(FetchAttributesTest, FailedBindGivesExactlyTheTwoNullLines) {
    const std::string expected = Lines({"  namingContexts: <null>", "  altServer: <null>"});
    FetchAttributes("NOSUCH", directory, sink);
    EXPECT_EQ(pane.Text(), expected);
    EXPECT_EQ(Log(), "********************\r\n" + expected);
    EXPECT_EQ(directory.boundPaths, std::vector<std::string>{"NOSUCH://rootDSE"});
}

TEST_F(FetchAttributesTest, ProviderPrefixIsUsedAsGiven) {
    auto report = Run(FullRootDse(), "LDAP");
    EXPECT_EQ(report.substr(0, report.find("\r\n")), "Contacting LDAP://rootDSE");
}

// Each case changes the full root entry and names the report lines that change.
struct Shape {
    const char* name;
    void (*change)(Attributes&);
    std::string expectedFromNamingContexts; // the report from the namingContexts line on
};

const Shape kShapes[] = {
    {"OneNamingContextAsText", [](Attributes& a) { a["namingContexts"] = V::Text("DC=only"); },
     Lines({"  namingContexts: DC=only"})},
    {"EmptyList", [](Attributes& a) { a["namingContexts"] = V::List({}); },
     Lines({"  namingContexts: "})},
    {"NamingContextsAbsent", [](Attributes& a) { a.erase("namingContexts"); },
     Lines({"  namingContexts: <null>"})},
    {"NamingContextsNumberIsNull", [](Attributes& a) { a["namingContexts"] = V::Integer(3); },
     Lines({"  namingContexts: <null>"})},
    {"ElementsWithoutTextFormAreMissingNullsAreEmpty",
     [](Attributes& a) {
         a["namingContexts"] = V::List({V::Text("a"), V::Object(), V::Null(), V::Integer(7),
                                        V::List({V::Text("nested")}), V::Text("z")});
     },
     Lines({"  namingContexts: ", "    a", "    ", "    7", "    z"})},
    {"LowerBoundAboveZeroSkipsIndicesBelowIt",
     [](Attributes& a) {
         a["namingContexts"] = V::List({V::Text("a"), V::Text("b")}, 1);
     },
     Lines({"  namingContexts: ", "    a", "    b"})},
    {"NegativeLowerBoundWalksFromZero",
     [](Attributes& a) {
         a["namingContexts"] = V::List({V::Text("a"), V::Text("b")}, -1);
     },
     Lines({"  namingContexts: ", "    b"})},
};

void PrintTo(const Shape& shape, std::ostream* out) {
    *out << shape.name;
}

class ReportShapes : public FetchAttributesTest, public ::testing::WithParamInterface<Shape> {};

TEST_P(ReportShapes, NamingContextsListingRule) {
    auto attributes = FullRootDse();
    GetParam().change(attributes);
    const std::string report = Run(attributes);
    const auto from = report.find("  namingContexts: ");
    const auto to = report.find("  defaultNamingContext: ");
    ASSERT_NE(from, std::string::npos);
    ASSERT_NE(to, std::string::npos);
    EXPECT_EQ(report.substr(from, to - from), GetParam().expectedFromNamingContexts);
    EXPECT_EQ(report.substr(0, from), kFullReport.substr(0, kFullReport.find("  namingContexts")));
}

INSTANTIATE_TEST_SUITE_P(Shapes, ReportShapes, ::testing::ValuesIn(kShapes),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FetchAttributesTest, AltServerAbsentAfterANamingContextsListIsNull) {
    auto attributes = FullRootDse();
    attributes.erase("altServer");
    const std::string report = Run(attributes);
    EXPECT_TRUE(report.ends_with("  configurationNamingContext: CN=Configuration,DC=corp\r\n"
                                 "  altServer: <null>\r\n"))
        << report;
}

TEST_F(FetchAttributesTest, SingleValuesThatCannotBeShownLeaveOnlyTheirOwnLineOut) {
    auto attributes = FullRootDse();
    attributes.erase("serverName");
    attributes["ldapServiceName"] = V::Null();
    attributes["dsServiceName"] = V::List({V::Text("x"), V::Text("y")});
    attributes["defaultNamingContext"] = V::Integer(12);
    attributes["schemaNamingContext"] = V::Object();
    attributes["configurationNamingContext"] = V::Boolean(true);
    const std::string report = Run(attributes);
    EXPECT_EQ(report, Lines({
                          "Contacting GC://rootDSE",
                          "  dnsHostName: dc1.corp.example",
                          "  ldapServiceName: ",
                          "  namingContexts: ",
                          "    DC=corp",
                          "    CN=Configuration,DC=corp",
                          "    CN=Schema,CN=Configuration,DC=corp",
                          "  defaultNamingContext: 12",
                          "  configurationNamingContext: True",
                          "  altServer: ",
                          "    ldap://dc2.corp.example",
                          "    ldap://dc3",
                      }));
}

class PathlessDirectory final : public Directory {
    class Object final : public DirectoryObject {
        std::optional<std::string> ADsPath() const override { throw std::runtime_error("gone"); }
        std::optional<DirectoryValue> Get(std::string_view name) const override {
            if (name == "dnsHostName") {
                return V::Text("h");
            }
            throw std::runtime_error("connection lost");
        }
    };
    std::shared_ptr<DirectoryObject> Bind(std::string_view) override {
        return std::make_shared<Object>();
    }
};

TEST_F(FetchAttributesTest, ThrowingDirectoryAbandonsOnlyTheFailingSteps) {
    PathlessDirectory failing;
    FetchAttributes("GC", failing, sink);
    EXPECT_EQ(pane.Text(),
              Lines({"  dnsHostName: h", "  namingContexts: <null>", "  altServer: <null>"}));
}

TEST_F(FetchAttributesTest, TwoRunsInARowPaneShowsTheSecondLogHoldsBoth) {
    Run(FullRootDse());
    auto second = FullRootDse();
    second["dnsHostName"] = V::Text("dc2.corp.example");
    const std::string report = Run(second);
    EXPECT_NE(report.find("  dnsHostName: dc2.corp.example\r\n"), std::string::npos);
    EXPECT_EQ(report.find("dc1.corp.example\r\n"), std::string::npos);
    EXPECT_EQ(Log(),
              "********************\r\n" + kFullReport + "********************\r\n" + report);
}

TEST_F(FetchAttributesTest, DirectoryObjectIsReleasedWhenTheRunReturns) {
    Run(FullRootDse());
    EXPECT_TRUE(directory.lastBound.expired());
}

TEST_F(FetchAttributesTest, ListsLongerThanASixteenBitIndexAreWalkedToTheEnd) {
    std::vector<V> values;
    for (int i = 0; i < 40000; ++i) {
        values.push_back(V::Text("DC=n" + std::to_string(i)));
    }
    auto attributes = FullRootDse();
    attributes["altServer"] = V::List(std::move(values));
    const std::string report = Run(attributes);
    EXPECT_TRUE(report.ends_with("    DC=n39998\r\n    DC=n39999\r\n"));
    EXPECT_NE(report.find("    DC=n32768\r\n"), std::string::npos);
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 15 - 2 + 40000);
}

} // namespace
} // namespace quindral
