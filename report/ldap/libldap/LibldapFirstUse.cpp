#include "report/ldap/libldap/LibldapFirstUse.h"

#include "report/ldap/libldap/LdapConfiguration.h"
#include "report/ldap/plumbing/Errand.h"

#include <condition_variable>
#include <cstdlib>
#include <ldap.h>
#include <mutex>
#include <resolv.h>
#include <thread>

// libldap's own TLS initialisation, exported by every libldap since 2.4. Without it, the first
// handshake initialises a lock that the same handshake already holds.
extern "C" int ldap_pvt_tls_init(int do_threads);

namespace quindral {

namespace {

struct FirstUse {
    std::mutex mutex;
    std::condition_variable changed;
    bool complete = false;
    std::thread thread;
};

// Never destroyed: the end of the program decides what becomes of the thread.
FirstUse& State() {
    static auto* state = new FirstUse;
    return *state;
}

// How long the program's end waits for a first use still at work.
constexpr auto kEndWait = std::chrono::seconds(1);

// Runs when the program ends, before any library's own destructor: libldap's frees the very
// configuration and host name that the first use may still be making, and ends TLS beneath it.
// So the end waits for the first use and joins its thread; should it still be at work (a hosts
// source or a configuration file that hangs), the process ends here with its status, its own
// output flushed (libldap reads its configuration with fgets, and may hold a stream's lock while
// it waits), and no destructor runs beside the thread.
void EndFirstUse(int status, void*) {
    FirstUse& state = State();
    std::unique_lock<std::mutex> lock(state.mutex);
    if (!state.changed.wait_for(lock, kEndWait, [&] { return state.complete; })) {
        FlushOwnOutput();
        std::_Exit(status);
    }
    lock.unlock();
    state.thread.join();
}

// libldap's initialisation looks up this host's own name through the system resolver, which
// cannot be made to wait on anything else, and with nameservers that do not answer it waits
// seconds for every name of the search list. It wants that name only for SASL, which this program
// never uses, and to check the certificate of ldaps://localhost against it. So this thread's own
// resolver asks no nameserver: the name is what the hosts file (and every other source but DNS)
// makes of it, as on a host that serves itself, and the lookup never waits on the network.
void Initialise() {
    if (res_init() == 0) {
        _res.nscount = 0;
    }
    int version = 0;
    ldap_get_option(nullptr, LDAP_OPT_PROTOCOL_VERSION, &version);
    ldap_pvt_tls_init(0);
}

} // namespace

void StartLibldapFirstUse() {
    static std::once_flag started;
    std::call_once(started, [] {
        FirstUse& state = State();
        state.thread = std::thread([&state] {
            Initialise();
            const std::lock_guard<std::mutex> lock(state.mutex);
            state.complete = true;
            state.changed.notify_all();
        });
        // Handlers run in the reverse order of their registration, and libldap's destructor runs
        // after them all: this one runs before it.
        on_exit(EndFirstUse, nullptr);
    });
}

bool AwaitLibldapFirstUse(Clock::time_point deadline) {
    StartLibldapFirstUse();
    FirstUse& state = State();
    std::unique_lock<std::mutex> lock(state.mutex);
    return state.changed.wait_until(lock, deadline, [&] { return state.complete; });
}

bool AwaitLibldapFirstUseForClick(Clock::time_point clickStart) {
    if (AwaitLibldapFirstUse(clickStart)) {
        return true;
    }
    const auto expected = TimeoutsBeforeFirstUse();
    return AwaitLibldapFirstUse(clickStart + expected.connect + expected.search);
}

} // namespace quindral
