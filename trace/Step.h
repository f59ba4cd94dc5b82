#pragma once

namespace quindral {

// Runs one step of an operation that carries on past failures: whatever the step throws abandons
// that step alone, and the caller goes on with its next step. Nothing is reported.
template <class Body> void RunStep(Body&& body) noexcept {
    try {
        body();
    } catch (...) {
    }
}

} // namespace quindral
