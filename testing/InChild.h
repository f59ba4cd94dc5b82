#pragma once

#ifndef _WIN32
#include <functional>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace quindral::testing {

// What work returns, computed in a child process that an alarm ends after the given seconds:
// nothing when the child did not end by itself, as when a call in it blocked.
inline std::optional<std::string> InChildWithin(unsigned seconds,
                                                const std::function<std::string()>& work) {
    int out[2];
    if (::pipe(out) != 0) {
        return std::nullopt;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::alarm(seconds);
        const std::string result = work();
        const bool written =
            ::write(out[1], result.data(), result.size()) == static_cast<ssize_t>(result.size());
        ::_exit(written ? 0 : 1);
    }
    ::close(out[1]);
    std::string result;
    char buffer[256];
    for (ssize_t got; (got = ::read(out[0], buffer, sizeof buffer)) > 0;) {
        result.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(out[0]);
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        return std::nullopt;
    }
    return result;
}

} // namespace quindral::testing
#endif
