#pragma once

namespace quindral {

// Makes sure libldap is initialised in this process, once, however many threads ask, and without
// waiting on a resolver that does not answer longer than it must. Call it before anything else
// of libldap; it returns at once after the first time.
void InitialiseLibldap();

} // namespace quindral
