#ifndef TOLVEK_SDK_H
#define TOLVEK_SDK_H

/*
 * tolvek_sdk.dll: virtual monitors and the virtual camera from any language, in plain C.
 *
 * Monitors come from the display helper's service, TolvekDisplayHelper: connect, create
 * monitors of the modes you need, and keep the connection for as long as you want them. They
 * live exactly as long as the connection: closing the client, the program ending or crashing,
 * and the service stopping all take every monitor of the connection away.
 *
 * The camera, "Tolvek Camera", shows the frames that one producer of the desktop session
 * publishes: create the producer, publish 1280 x 720 frames at least ten times a second while
 * the picture should stay, and release it.
 *
 * Conventions
 * - Calling convention: every function, and the lost-connection callback, is __cdecl, the C
 *   default (TOLVEK_SDK_CALL). On 64-bit Windows there is only one convention; on 32-bit
 *   Windows declare them cdecl in a foreign function interface (ctypes.CDLL, P/Invoke with
 *   CallingConvention.Cdecl). The DLL exports the plain names below in both bitnesses.
 * - Failures are values: every function that can fail returns a tolvek_status, TOLVEK_OK (0)
 *   on success. tolvek_status_text() gives the general text of a status, and
 *   tolvek_last_error_text() the detailed one of this thread's last call, which names the
 *   system's reason (for instance why the service would not start). Nothing is thrown, and a
 *   null pointer where an object is needed is TOLVEK_ERROR_INVALID_ARGUMENT, never a crash.
 * - Handles are opaque. A handle is valid from the call that made it until it is closed or
 *   released; close and release take null and then do nothing.
 * - Texts are UTF-8 and end with a NUL.
 * - Loading the DLL does nothing but load it: no thread, no connection, no change to the
 *   process.
 *
 * Threads
 * - The display client: every function may be called from any thread, also at the same time
 *   as others on the same client. Calls that talk to the helper (ping, create, destroy,
 *   restore) take turns; connection_lost, lost_event and monitors never wait for them. Close a
 *   client only when no other call on it is in progress, and never from its lost-connection
 *   callback.
 * - The producer: create and release it on any thread; call publish and live_viewers from one
 *   thread at a time.
 * - The last error text belongs to the calling thread.
 */

#include <stddef.h>
#include <stdint.h>

#include "tolvek_sdk_version.h"

#if defined(_WIN32)
#define TOLVEK_SDK_CALL __cdecl
#if defined(TOLVEK_SDK_BUILDING)
#define TOLVEK_SDK_API
#else
#define TOLVEK_SDK_API __declspec(dllimport)
#endif
#else
#define TOLVEK_SDK_CALL
#define TOLVEK_SDK_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Status ------------------------------------------------------------------------------ */

/* The result of a call: one of the codes below. The numbers are stable. */
typedef int32_t tolvek_status;

enum tolvek_status_code {
    TOLVEK_OK = 0,

    /* Any call */
    TOLVEK_ERROR_INVALID_ARGUMENT = 1, /* a null pointer, or a value the call does not take */
    TOLVEK_ERROR_OUT_OF_MEMORY = 2,
    TOLVEK_ERROR_BUFFER_TOO_SMALL = 3, /* the call was made; its answer did not fit */
    TOLVEK_ERROR_SYSTEM = 4,           /* a system call failed; the last error text says why */
    TOLVEK_ERROR_INTERNAL = 5,         /* an unexpected failure inside the SDK */

    /* The display client */
    TOLVEK_ERROR_NOT_INSTALLED = 100,   /* the service TolvekDisplayHelper is not installed */
    TOLVEK_ERROR_ACCESS_DENIED = 101,   /* the service is installed for another user */
    TOLVEK_ERROR_START_FAILED = 102,    /* the service would not start, or stopped at once */
    TOLVEK_ERROR_PIPE_BUSY = 103,       /* every instance of the helper's pipe stayed busy */
    TOLVEK_ERROR_TIMED_OUT = 104,       /* a wait ran out; the last error text says which */
    TOLVEK_ERROR_IMPOSTOR = 105,        /* another program holds the helper's pipe name */
    TOLVEK_ERROR_CONNECTION_LOST = 106, /* the connection is gone; tolvek_display_restore */
    TOLVEK_ERROR_REFUSED = 107,         /* the helper does not take this mode or serial */
    TOLVEK_ERROR_LIMIT = 108,           /* the client already holds 4 monitors */
    TOLVEK_ERROR_MONITOR_FAILED = 109,  /* the helper could not make the monitor's device */
    TOLVEK_ERROR_UNKNOWN_SERIAL = 110,  /* the client holds no monitor of that serial */
    TOLVEK_ERROR_PROTOCOL = 111,        /* the helper's reply did not read; connection dropped */
    TOLVEK_ERROR_USAGE = 112,           /* not callable from there (the lost callback) */

    /* The frame producer */
    TOLVEK_ERROR_ANOTHER_PRODUCER_RUNNING = 200 /* one producer per session at a time */
};

/* The general text of a status, such as "the display helper's service is not installed";
 * "unknown status" for a number that is none of the codes. Static: never freed, never
 * changed. */
TOLVEK_SDK_API const char* TOLVEK_SDK_CALL tolvek_status_text(tolvek_status status);

/* The detailed text of this thread's last call that returns a tolvek_status: empty after a
 * success, after a failure one line a person can act on, such as "the display helper is not
 * installed: there is no service TolvekDisplayHelper; ...". Valid until this thread's next
 * call that returns a tolvek_status; copy it to keep it. Never null. */
TOLVEK_SDK_API const char* TOLVEK_SDK_CALL tolvek_last_error_text(void);

/* The version of the loaded DLL, as TOLVEK_SDK_VERSION encodes it: compare the two to find a
 * DLL older than the header a program was built with. */
TOLVEK_SDK_API uint32_t TOLVEK_SDK_CALL tolvek_version(void);

/* ---- Virtual monitors -------------------------------------------------------------------- */

typedef struct tolvek_display_client tolvek_display_client;

/* A monitor the client holds. Every monitor runs at 60 Hz. */
typedef struct tolvek_monitor {
    uint32_t width;
    uint32_t height;
    uint32_t serial;
} tolvek_monitor;

/* The most monitors one client may hold. */
#define TOLVEK_DISPLAY_MAX_MONITORS 4
/* A wait limit for tolvek_display_connect that suits most programs: 10 seconds. */
#define TOLVEK_DISPLAY_DEFAULT_WAIT_MS 10000u

/* Called once for each lost connection, from the thread that noticed it: the client's own
 * watcher thread while no call is in progress, or the thread whose call met the loss, before
 * that call returns. Inside it only tolvek_display_connection_lost, tolvek_display_lost_event
 * and tolvek_display_monitors may be used on the client; other calls give TOLVEK_ERROR_USAGE,
 * and it must not close the client. */
typedef void(TOLVEK_SDK_CALL* tolvek_lost_callback)(void* context);

/* Connects to the display helper's service, starting it when it is not running (install lets
 * the user start it), and proves the connection with a ping. `wait_limit_ms` bounds the whole
 * wait for the service to start and for a free instance of its pipe (0: one attempt, no
 * waiting). `on_lost` may be null; otherwise it is called with `context` for every lost
 * connection. On success *client is the new client; on failure it is set to null. */
TOLVEK_SDK_API tolvek_status TOLVEK_SDK_CALL tolvek_display_connect(uint32_t wait_limit_ms,
                                                                    tolvek_lost_callback on_lost,
                                                                    void* context,
                                                                    tolvek_display_client** client);

/* Closes the connection: the helper lets go of every monitor of this client. Waits for a
 * lost-connection callback that is running. Null does nothing. */
TOLVEK_SDK_API void TOLVEK_SDK_CALL tolvek_display_close(tolvek_display_client* client);

/* Asks the helper for its version and writes it, with its NUL, into `version` of `capacity`
 * bytes (16 bytes hold "0.0.0"). `version` may be null when `capacity` is 0: the ping then
 * only proves the connection. A version that does not fit gives
 * TOLVEK_ERROR_BUFFER_TOO_SMALL and an empty text. */
TOLVEK_SDK_API tolvek_status TOLVEK_SDK_CALL tolvek_display_ping(tolvek_display_client* client,
                                                                 char* version, size_t capacity);

/* A monitor of this mode with this serial (not 0, not held yet). The helper takes even sides
 * of at most 5120 with at most 14,745,600 pixels, and at most TOLVEK_DISPLAY_MAX_MONITORS
 * monitors a client. */
TOLVEK_SDK_API tolvek_status TOLVEK_SDK_CALL tolvek_display_create_monitor(
    tolvek_display_client* client, uint32_t width, uint32_t height, uint32_t serial);

/* Lets the monitor of this serial go. While the connection is lost this only takes it off the
 * list that tolvek_display_restore brings back, and succeeds. */
TOLVEK_SDK_API tolvek_status TOLVEK_SDK_CALL
tolvek_display_destroy_monitor(tolvek_display_client* client, uint32_t serial);

/* After a lost connection: connects again (starting the service again) and re-creates every
 * monitor of the list, with the same modes and serials, in the order they were made. All or
 * nothing: on failure nothing is held, the connection stays lost with the same list, and the
 * call may be tried again. Succeeds at once while the connection stands. */
TOLVEK_SDK_API tolvek_status TOLVEK_SDK_CALL tolvek_display_restore(tolvek_display_client* client);

/* The monitors held, or to be restored while the connection is lost, in creation order:
 * *count is their number, and the first min(*count, capacity) of them are written to
 * `monitors` (which may be null when `capacity` is 0). More than `capacity` gives
 * TOLVEK_ERROR_BUFFER_TOO_SMALL; an array of TOLVEK_DISPLAY_MAX_MONITORS always suffices. */
TOLVEK_SDK_API tolvek_status TOLVEK_SDK_CALL tolvek_display_monitors(
    const tolvek_display_client* client, tolvek_monitor* monitors, size_t capacity, size_t* count);

/* Whether the connection is lost: *lost is 1 from the moment the client noticed the loss (the
 * service stopped or died) until a successful restore, else 0. */
TOLVEK_SDK_API tolvek_status TOLVEK_SDK_CALL
tolvek_display_connection_lost(const tolvek_display_client* client, int32_t* lost);

/* A manual-reset event (a Windows HANDLE) that is signalled while the connection is lost and
 * reset by a successful restore. It belongs to the client: wait on it, never close it. Valid
 * until the client is closed. */
TOLVEK_SDK_API tolvek_status TOLVEK_SDK_CALL
tolvek_display_lost_event(const tolvek_display_client* client, void** event);

/* ---- The camera's frame producer --------------------------------------------------------- */

typedef struct tolvek_producer tolvek_producer;

/* The one frame format: 1280 x 720 pixels of 4 bytes each (blue, green, red, unused), rows of
 * 5120 bytes without gaps, the bottom row first. */
#define TOLVEK_FRAME_WIDTH 1280
#define TOLVEK_FRAME_HEIGHT 720
#define TOLVEK_FRAME_BYTES_PER_PIXEL 4
#define TOLVEK_FRAME_STRIDE 5120
#define TOLVEK_FRAME_SIZE 3686400u
/* Cameras take frames at this rate; one frame stays on show for just under 100 ms. */
#define TOLVEK_FRAME_RATE 30

/* Takes the session's producer lock and creates the camera's shared sections, or carries on in
 * them when a camera still holds them open. TOLVEK_ERROR_ANOTHER_PRODUCER_RUNNING while
 * another producer of this desktop session lives (in any process); once it has gone, however
 * it ended, the next create succeeds. On failure *producer is set to null. */
TOLVEK_SDK_API tolvek_status TOLVEK_SDK_CALL tolvek_producer_create(tolvek_producer** producer);

/* Publishes one frame of exactly TOLVEK_FRAME_SIZE bytes in the format above; a camera never
 * shows a frame half written. Any other size is TOLVEK_ERROR_INVALID_ARGUMENT and publishes
 * nothing. */
TOLVEK_SDK_API tolvek_status TOLVEK_SDK_CALL tolvek_producer_publish(tolvek_producer* producer,
                                                                     const void* pixels,
                                                                     size_t size);

/* The number of cameras streaming now, in *viewers. While it is 0 nobody sees a published
 * frame, so a producer may skip drawing and publishing. */
TOLVEK_SDK_API tolvek_status TOLVEK_SDK_CALL tolvek_producer_live_viewers(tolvek_producer* producer,
                                                                          uint32_t* viewers);

/* Ends the producer: cameras show their dark fill colour from just under 100 ms after its last
 * frame, and another producer may be created. Null does nothing. */
TOLVEK_SDK_API void TOLVEK_SDK_CALL tolvek_producer_release(tolvek_producer* producer);

#ifdef __cplusplus
}
#endif

#endif /* TOLVEK_SDK_H */
