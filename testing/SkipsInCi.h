#pragma once

namespace quindral::testing {

// In CI (CI=true in the environment) every test must run: one that skips fails the run, and is
// named. Elsewhere a skip stays a skip, named at the end of the run so that nobody misses it.
bool InCi();

// What a test program exits with when it skipped a test outside CI (ctest's SKIP_RETURN_CODE).
inline constexpr int kSkippedExit = 77;

// Runs every GoogleTest test: RUN_ALL_TESTS()'s status, or when a test skipped, 1 in CI and
// kSkippedExit elsewhere; the skipped tests are named either way.
int RunAllTestsNamingSkips();

} // namespace quindral::testing
