// The frame producer's entry points of the C interface: each runs one call of
// tolvek::vcam::FrameProducer at the boundary (c_boundary.h).

#include <windows.h>

#include <cstddef>
#include <memory>
#include <string>

#include "c_boundary.h"
#include "frame_producer_win.h"
#include "tolvek_sdk.h"

using tolvek::sdk::EntryPoint;
using tolvek::sdk::Failure;
using tolvek::sdk::Outcome;
using tolvek::sdk::run_at_boundary;
using tolvek::vcam::FrameProducer;

// The handle a C program holds.
struct tolvek_producer {
    std::unique_ptr<FrameProducer> producer;
};

namespace {

static_assert(TOLVEK_FRAME_WIDTH == tolvek::vcam::kFrameWidth &&
              TOLVEK_FRAME_HEIGHT == tolvek::vcam::kFrameHeight &&
              TOLVEK_FRAME_BYTES_PER_PIXEL == tolvek::vcam::kBytesPerPixel &&
              TOLVEK_FRAME_STRIDE == tolvek::vcam::kFrameStride &&
              TOLVEK_FRAME_SIZE == tolvek::vcam::kFrameSize &&
              TOLVEK_FRAME_RATE == tolvek::vcam::kFrameRate);

// A failed FrameProducer::create as the C interface reports it, with the producer's text.
Failure create_failure(HRESULT result)
{
    tolvek_status status = TOLVEK_ERROR_SYSTEM;
    if (result == tolvek::vcam::kAnotherProducerRunning) {
        status = TOLVEK_ERROR_ANOTHER_PRODUCER_RUNNING;
    } else if (result == E_OUTOFMEMORY || result == HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY) ||
               result == HRESULT_FROM_WIN32(ERROR_OUTOFMEMORY)) {
        status = TOLVEK_ERROR_OUT_OF_MEMORY;
    }
    return {status, tolvek::vcam::producer_failure_text(result)};
}

} // namespace

extern "C" {

TOLVEK_SDK_API tolvek_status TOLVEK_SDK_CALL tolvek_producer_create(tolvek_producer** producer)
{
    return run_at_boundary(__func__, [&](const EntryPoint& entry) -> Outcome {
        TOLVEK_TRY(entry.require(producer, "producer"));
        *producer = nullptr;
        // Made first, so that a producer, which holds the session's lock, is never dropped for
        // want of memory after it was created.
        auto handle = std::make_unique<tolvek_producer>();
        if (const HRESULT result = FrameProducer::create(handle->producer); FAILED(result)) {
            return create_failure(result);
        }
        *producer = handle.release();
        return {};
    });
}

TOLVEK_SDK_API tolvek_status TOLVEK_SDK_CALL tolvek_producer_publish(tolvek_producer* producer,
                                                                     const void* pixels,
                                                                     size_t size)
{
    return run_at_boundary(__func__, [&](const EntryPoint& entry) -> Outcome {
        TOLVEK_TRY(entry.require(producer, "producer"));
        TOLVEK_TRY(entry.require(pixels, "pixels"));
        if (size != TOLVEK_FRAME_SIZE) {
            return entry.invalid_argument("a frame is " + std::to_string(TOLVEK_FRAME_SIZE) +
                                          " bytes (1280 x 720 pixels of 4 bytes), not " +
                                          std::to_string(size));
        }
        producer->producer->publish(tolvek::vcam::ConstFramePixels{
            static_cast<const std::byte*>(pixels), tolvek::vcam::kFrameSize});
        return {};
    });
}

TOLVEK_SDK_API tolvek_status TOLVEK_SDK_CALL tolvek_producer_live_viewers(tolvek_producer* producer,
                                                                          uint32_t* viewers)
{
    return run_at_boundary(__func__, [&](const EntryPoint& entry) -> Outcome {
        TOLVEK_TRY(entry.require(producer, "producer"));
        TOLVEK_TRY(entry.require(viewers, "viewers"));
        *viewers = producer->producer->live_viewers();
        return {};
    });
}

TOLVEK_SDK_API void TOLVEK_SDK_CALL tolvek_producer_release(tolvek_producer* producer)
{
    delete producer; // the producer's destructor throws nothing
}

} // extern "C"
