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

// Waits for libldap's first use within the bound of a click that started then: the configured
// NETWORK_TIMEOUT + TIMEOUT, known before libldap has read its configuration only from the same
// files and variables, which are read here only while it is still at work.
bool AwaitLibldapFirstUseForClick(Clock::time_point clickStart);

} // namespace quindral
