// The public client over its platform-free logic (monitor_client.h) and the Windows
// connection to the helper (helper_connector_win.h): the lost-connection event and callback,
// and the one place where running out of memory becomes an error value.

#include <windows.h>

#include <new>
#include <utility>

#include "client_errors.h"
#include "helper_connector_win.h"
#include "monitor_client.h"
#include "tolvek/display_client.h"
#include "tolvek/error_text_win.h"
#include "tolvek/owners_win.h"

namespace tolvek::display {
namespace {

// Runs a call of the client; memory exhaustion, the only thing that throws inside, becomes
// an error.
template <class Call>
auto guarded(Call&& call) -> decltype(call())
{
    try {
        return call();
    } catch (const std::bad_alloc&) {
        return out_of_memory_error();
    }
}

} // namespace

struct DisplayClient::Parts {
    ClientOptions options;
    UniqueHandle lost_event;             // manual reset, signalled while lost
    std::unique_ptr<MonitorClient> core; // goes first: its threads signal the event
};

DisplayClient::DisplayClient(std::unique_ptr<Parts> parts) : parts_(std::move(parts)) {}

DisplayClient::~DisplayClient() = default;

ClientResult<std::unique_ptr<DisplayClient>> DisplayClient::connect(const ClientOptions& options)
{
    return guarded([&]() -> ClientResult<std::unique_ptr<DisplayClient>> {
        auto parts = std::make_unique<Parts>();
        parts->options = options;
        parts->lost_event.reset(CreateEventW(nullptr, TRUE /* manual reset */, FALSE, nullptr));
        if (!parts->lost_event) {
            return ClientError{ErrorKind::system, "no event for a lost connection: " +
                                                      win32_error_text(GetLastError())};
        }
        const Parts& shared = *parts;
        LostNotices notices{[&shared](bool lost) {
                                lost ? SetEvent(shared.lost_event.get())
                                     : ResetEvent(shared.lost_event.get());
                            },
                            [&shared] {
                                if (shared.options.on_lost != nullptr) {
                                    shared.options.on_lost(shared.options.context);
                                }
                            }};
        parts->core = std::make_unique<MonitorClient>(
            std::make_unique<HelperConnector>(options.wait_limit, options.reply_limit),
            std::move(notices));
        TOLVEK_TRY(parts->core->open());
        return std::unique_ptr<DisplayClient>{new DisplayClient(std::move(parts))};
    });
}

ClientResult<std::string> DisplayClient::ping()
{
    return guarded([&] { return parts_->core->ping(); });
}

ClientResult<Monitor> DisplayClient::create(std::uint32_t width, std::uint32_t height,
                                            std::uint32_t serial)
{
    return guarded([&] { return parts_->core->create(width, height, serial); });
}

ClientStatus DisplayClient::destroy(std::uint32_t serial)
{
    return guarded([&] { return parts_->core->destroy(serial); });
}

ClientStatus DisplayClient::restore()
{
    return guarded([&] { return parts_->core->restore(); });
}

std::vector<Monitor> DisplayClient::monitors() const
{
    try {
        return parts_->core->monitors();
    } catch (const std::bad_alloc&) {
        return {}; // nothing to show without memory; the client itself is unchanged
    }
}

bool DisplayClient::connection_lost() const
{
    return parts_->core->connection_lost();
}

void* DisplayClient::lost_event() const
{
    return parts_->lost_event.get();
}

} // namespace tolvek::display
