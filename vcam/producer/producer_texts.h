#pragma once

// The texts of the producer's failures that carry no system message. Platform-free, so that
// what reports them elsewhere (the C interface's status texts) words them the same way.

namespace tolvek::vcam {

inline constexpr char kAnotherProducerRunningText[] = "another producer is running";

} // namespace tolvek::vcam
