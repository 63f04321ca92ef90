#pragma once

// Counts the allocations of a test program through a replaced global operator new, so that
// a test can show that some code allocates nothing at all. Link allocation_counter.cpp into
// the test program to enable it; it then counts for the whole program.

namespace tolvek::testing {

[[nodiscard]] long allocations_so_far();

} // namespace tolvek::testing
