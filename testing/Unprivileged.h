#pragma once

#ifndef _WIN32
#include <functional>
#include <grp.h>
#include <optional>
#include <sys/wait.h>
#include <unistd.h>

namespace quindral::testing {

// Whether check holds for an unprivileged user: as root, whom permissions do not stop, it runs in
// a child that has become nobody first; otherwise here. Nothing when the child could not become
// nobody or did not end by itself.
inline std::optional<bool> HoldsUnprivileged(const std::function<bool()>& check) {
    if (::geteuid() != 0) {
        return check();
    }
    const pid_t child = ::fork();
    if (child < 0) {
        return std::nullopt;
    }
    if (child == 0) {
        constexpr uid_t kNobody = 65534;
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
            ::_exit(2);
        }
        ::_exit(check() ? 0 : 1);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) == 2) {
        return std::nullopt;
    }
    return WEXITSTATUS(status) == 0;
}

} // namespace quindral::testing
#endif
