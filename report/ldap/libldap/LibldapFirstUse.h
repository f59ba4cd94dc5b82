#pragma once

#include "report/ldap/plumbing/Clock.h"

namespace quindral {

// libldap's first use in this process: its global initialisation (its configuration read, this
// host's own name looked up) and its TLS initialisation, made once on a thread of its own, so that
// however long it takes it never holds a click past the click's bound. Start it as early as
// possible (the directory access starts it when it is made); calling it again does nothing.
void StartLibldapFirstUse();

// Waits for libldap's first use until the deadline at most, starting it if need be. True once it
// is complete; nothing of libldap may be used before.
bool AwaitLibldapFirstUse(Clock::time_point deadline);

} // namespace quindral
