#include "report/ldap/plumbing/Errand.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace quindral {

namespace {

std::atomic<int> errandsAtWork{0};

void EndBesideErrands(int status, void*) {
    if (errandsAtWork.load() > 0) {
        FlushOwnOutput();
        std::_Exit(status);
    }
}

} // namespace

void FlushOwnOutput() {
    for (FILE* stream : {stdout, stderr}) {
        if (ftrylockfile(stream) == 0) {
            fflush_unlocked(stream);
            funlockfile(stream);
        }
    }
}

void StartErrandThread(std::function<void()> task) {
    static std::once_flag registered;
    std::call_once(registered, [] { on_exit(EndBesideErrands, nullptr); });
    ++errandsAtWork;
    std::thread([task = std::move(task)] {
        task();
        --errandsAtWork;
    }).detach();
}

} // namespace quindral
