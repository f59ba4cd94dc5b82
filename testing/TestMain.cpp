// The main of the GoogleTest programs: every test, with skips named (and failing in CI).

#include "SkipsInCi.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return quindral::testing::RunAllTestsNamingSkips();
}
