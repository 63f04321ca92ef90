#pragma once

// Connects to the helper's service as its user may: opens the pipe, starting the service
// first when the pipe does not exist (install grants the user the rights to start and query
// it, and nothing more is asked for), waits for a free instance when the pipe is busy,
// checks that the service's own process serves the pipe before anything is written, and
// proves the connection with a ping. Every wait ends at one deadline.

#include <chrono>
#include <memory>

#include "monitor_client.h"

namespace tolvek::display {

class HelperConnector final : public Connector {
public:
    HelperConnector(std::chrono::milliseconds wait_limit, std::chrono::milliseconds reply_limit);

    [[nodiscard]] ClientResult<std::unique_ptr<Connection>> connect(EndHandler on_end) override;

private:
    std::chrono::milliseconds wait_limit_;
    std::chrono::milliseconds reply_limit_;
};

} // namespace tolvek::display
