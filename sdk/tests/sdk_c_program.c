/*
 * A program written in C against tolvek_sdk.dll, as an application in C would use it. Each
 * scenario checks every entry point it touches, writes a line for each failed check, and
 * ends with "<scenario>: all checks passed" and exit code 0, or exit code 1.
 *
 *   sdk_c_program interface    version, status texts, null arguments
 *   sdk_c_program producer     create, publish, live viewers, a second producer, release
 *   sdk_c_program monitors     the helper's service installed for this user: connect, ping,
 *                              monitors, a refused mode, destroy, a lost connection, restore
 *   sdk_c_program no-service   the helper's service not installed
 */

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "all_statuses.h"
#include "tolvek_sdk.h"

static int g_failures = 0;

static void check(int holds, const char* what, int line)
{
    if (!holds) {
        ++g_failures;
        printf("line %d: failed: %s\n", line, what);
    }
}

#define CHECK(condition) check((condition) != 0, #condition, __LINE__)

static void check_status(tolvek_status actual, tolvek_status expected, const char* call, int line)
{
    if (actual != expected) {
        ++g_failures;
        printf("line %d: %s gave %d (%s: %s), expected %d (%s)\n", line, call, (int)actual,
               tolvek_status_text(actual), tolvek_last_error_text(), (int)expected,
               tolvek_status_text(expected));
    }
}

#define CHECK_STATUS(call, expected) check_status((call), (expected), #call, __LINE__)

/* The call was refused as TOLVEK_ERROR_INVALID_ARGUMENT with exactly this text. */
static void check_invalid(tolvek_status actual, const char* text, const char* call, int line)
{
    check_status(actual, TOLVEK_ERROR_INVALID_ARGUMENT, call, line);
    if (strcmp(tolvek_last_error_text(), text) != 0) {
        ++g_failures;
        printf("line %d: %s left the text \"%s\", expected \"%s\"\n", line, call,
               tolvek_last_error_text(), text);
    }
}

#define CHECK_INVALID(call, text) check_invalid((call), (text), #call, __LINE__)

/* Whether this thread's last error text holds `part`. */
static int last_error_holds(const char* part)
{
    return strstr(tolvek_last_error_text(), part) != NULL;
}

/* ---- interface ---------------------------------------------------------------------------- */

static void check_interface(void)
{
    static const tolvek_status statuses[] = TOLVEK_ALL_STATUSES;
    size_t i;
    unsigned char frame[16] = {0};
    size_t count = 0;
    int32_t lost = 0;
    void* event = NULL;
    uint32_t viewers = 0;
    tolvek_monitor monitors[TOLVEK_DISPLAY_MAX_MONITORS];
    char version[16];

    CHECK(tolvek_version() == TOLVEK_SDK_VERSION);
    CHECK(strcmp(tolvek_status_text(TOLVEK_OK), "ok") == 0);
    for (i = 0; i < sizeof statuses / sizeof statuses[0]; ++i) {
        const char* text = tolvek_status_text(statuses[i]);
        CHECK(text != NULL && text[0] != '\0' && strcmp(text, "unknown status") != 0);
    }
    CHECK(strcmp(tolvek_status_text(12345), "unknown status") == 0);
    CHECK(strstr(tolvek_status_text(TOLVEK_ERROR_NOT_INSTALLED), "not installed") != NULL);
    CHECK(strcmp(tolvek_status_text(TOLVEK_ERROR_ANOTHER_PRODUCER_RUNNING),
                 "another producer is running") == 0);
    CHECK(strcmp(tolvek_last_error_text(), "") == 0);

    /* Every handle given as null. The scenarios that hold a real handle give its calls' other
     * pointers as null. */
    CHECK_INVALID(tolvek_display_connect(0, NULL, NULL, NULL),
                  "tolvek_display_connect: client is null");
    CHECK_INVALID(tolvek_display_ping(NULL, version, sizeof version),
                  "tolvek_display_ping: client is null");
    CHECK_INVALID(tolvek_display_create_monitor(NULL, 1920, 1080, 1),
                  "tolvek_display_create_monitor: client is null");
    CHECK_INVALID(tolvek_display_destroy_monitor(NULL, 1),
                  "tolvek_display_destroy_monitor: client is null");
    CHECK_INVALID(tolvek_display_restore(NULL), "tolvek_display_restore: client is null");
    CHECK_INVALID(tolvek_display_monitors(NULL, monitors, 4, &count),
                  "tolvek_display_monitors: client is null");
    CHECK_INVALID(tolvek_display_connection_lost(NULL, &lost),
                  "tolvek_display_connection_lost: client is null");
    CHECK_INVALID(tolvek_display_lost_event(NULL, &event),
                  "tolvek_display_lost_event: client is null");
    CHECK_INVALID(tolvek_producer_create(NULL), "tolvek_producer_create: producer is null");
    CHECK_INVALID(tolvek_producer_publish(NULL, frame, sizeof frame),
                  "tolvek_producer_publish: producer is null");
    CHECK_INVALID(tolvek_producer_live_viewers(NULL, &viewers),
                  "tolvek_producer_live_viewers: producer is null");
    tolvek_display_close(NULL);
    tolvek_producer_release(NULL);
}

/* ---- producer ----------------------------------------------------------------------------- */

/* What a camera sees of the published frames and what it writes to count as a viewer: the
 * sections' layout, the contract with every producer and camera. */
#define FRAME_SECTION_SIZE 11059456u
#define FRAME_LATEST_SLOT_OFFSET 24u
#define FRAME_COUNTER_OFFSET 32u
#define FRAME_SLOT_PIXELS_OFFSET(slot) (64u + (slot)*3686464u + 64u)
#define VIEWER_SECTION_SIZE 576u
#define VIEWER_SLOT_OWNER_OFFSET(slot) (64u + (slot)*64u)
#define VIEWER_SLOT_HEARTBEAT_OFFSET(slot) (64u + (slot)*64u + 8u)

static unsigned char* map_section(const wchar_t* name, DWORD access, size_t size, HANDLE* mapping)
{
    void* view = NULL;
    *mapping = OpenFileMappingW(access, FALSE, name);
    if (*mapping != NULL) {
        view = MapViewOfFile(*mapping, access, 0, 0, size);
    }
    return (unsigned char*)view;
}

static void unmap_section(unsigned char* view, HANDLE mapping)
{
    if (view != NULL) {
        UnmapViewOfFile(view);
    }
    if (mapping != NULL) {
        CloseHandle(mapping);
    }
}

static void check_producer(void)
{
    tolvek_producer* producer = NULL;
    tolvek_producer* second = (tolvek_producer*)&producer; /* set to null by a failed create */
    uint32_t viewers = 99;
    unsigned char* frame = (unsigned char*)malloc(TOLVEK_FRAME_SIZE);
    HANDLE frame_mapping = NULL;
    HANDLE viewer_mapping = NULL;
    unsigned char* frames = NULL;
    unsigned char* record = NULL;
    size_t i;

    if (frame == NULL) {
        CHECK(frame != NULL);
        return;
    }
    for (i = 0; i < TOLVEK_FRAME_SIZE; ++i) {
        frame[i] = (unsigned char)(i * 7u + 3u);
    }

    CHECK_STATUS(tolvek_producer_create(&producer), TOLVEK_OK);
    CHECK(producer != NULL);
    CHECK(strcmp(tolvek_last_error_text(), "") == 0);
    if (producer == NULL) {
        free(frame);
        return;
    }
    CHECK_INVALID(tolvek_producer_publish(producer, frame, TOLVEK_FRAME_SIZE - 1),
                  "tolvek_producer_publish: a frame is 3686400 bytes (1280 x 720 pixels of 4 "
                  "bytes), not 3686399");
    CHECK_INVALID(tolvek_producer_publish(producer, NULL, TOLVEK_FRAME_SIZE),
                  "tolvek_producer_publish: pixels is null");
    CHECK_INVALID(tolvek_producer_live_viewers(producer, NULL),
                  "tolvek_producer_live_viewers: viewers is null");

    frames =
        map_section(L"Local\\TolvekVcamFrames", FILE_MAP_READ, FRAME_SECTION_SIZE, &frame_mapping);
    CHECK(frames != NULL);
    if (frames != NULL) {
        CHECK(*(volatile uint64_t*)(frames + FRAME_COUNTER_OFFSET) == 0);
        CHECK_STATUS(tolvek_producer_publish(producer, frame, TOLVEK_FRAME_SIZE), TOLVEK_OK);
        CHECK(*(volatile uint64_t*)(frames + FRAME_COUNTER_OFFSET) == 1);
        {
            const uint32_t slot = *(volatile uint32_t*)(frames + FRAME_LATEST_SLOT_OFFSET);
            CHECK(slot < 3);
            CHECK(slot < 3 &&
                  memcmp(frames + FRAME_SLOT_PIXELS_OFFSET(slot), frame, TOLVEK_FRAME_SIZE) == 0);
        }
    }

    CHECK_STATUS(tolvek_producer_live_viewers(producer, &viewers), TOLVEK_OK);
    CHECK(viewers == 0);
    /* A streaming camera holds a slot of the viewer record with a fresh heartbeat. */
    record = map_section(L"Local\\TolvekVcamViewers", FILE_MAP_WRITE, VIEWER_SECTION_SIZE,
                         &viewer_mapping);
    CHECK(record != NULL);
    if (record != NULL) {
        *(volatile uint64_t*)(record + VIEWER_SLOT_HEARTBEAT_OFFSET(0)) = GetTickCount64();
        InterlockedCompareExchange64((volatile LONG64*)(record + VIEWER_SLOT_OWNER_OFFSET(0)),
                                     (LONG64)1000001, 0);
        CHECK_STATUS(tolvek_producer_live_viewers(producer, &viewers), TOLVEK_OK);
        CHECK(viewers == 1);
    }

    CHECK_STATUS(tolvek_producer_create(&second), TOLVEK_ERROR_ANOTHER_PRODUCER_RUNNING);
    CHECK(second == NULL);
    CHECK(strcmp(tolvek_last_error_text(), "another producer is running") == 0);

    tolvek_producer_release(producer);
    producer = NULL;
    CHECK_STATUS(tolvek_producer_create(&producer), TOLVEK_OK);
    CHECK(producer != NULL);
    /* The sections were kept open here, as a camera keeps them: the new producer carries on. */
    if (producer != NULL && frames != NULL) {
        CHECK_STATUS(tolvek_producer_publish(producer, frame, TOLVEK_FRAME_SIZE), TOLVEK_OK);
        CHECK(*(volatile uint64_t*)(frames + FRAME_COUNTER_OFFSET) == 2);
    }
    tolvek_producer_release(producer);

    unmap_section(record, viewer_mapping);
    unmap_section(frames, frame_mapping);
    free(frame);
}

/* ---- monitors ----------------------------------------------------------------------------- */

static volatile LONG g_lost_calls = 0;

static void TOLVEK_SDK_CALL on_lost(void* context)
{
    InterlockedIncrement(&g_lost_calls);
    SetEvent((HANDLE)context);
}

/* Ends the process of the helper's running service from outside, as a crash would. */
static int end_service_process(void)
{
    int ended = 0;
    SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager != NULL
                            ? OpenServiceW(manager, L"TolvekDisplayHelper", SERVICE_QUERY_STATUS)
                            : NULL;
    SERVICE_STATUS_PROCESS status;
    DWORD needed = 0;
    if (service != NULL && QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, (BYTE*)&status,
                                                sizeof status, &needed)) {
        HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, status.dwProcessId);
        if (process != NULL) {
            ended = TerminateProcess(process, 1) != FALSE;
            CloseHandle(process);
        }
    }
    if (service != NULL) {
        CloseServiceHandle(service);
    }
    if (manager != NULL) {
        CloseServiceHandle(manager);
    }
    return ended;
}

/* Whether the client's list is exactly these serials, in this order. */
static int holds_serials(const tolvek_display_client* client, const uint32_t* serials,
                         size_t expected)
{
    tolvek_monitor monitors[TOLVEK_DISPLAY_MAX_MONITORS];
    size_t count = 99;
    size_t i;
    if (tolvek_display_monitors(client, monitors, TOLVEK_DISPLAY_MAX_MONITORS, &count) !=
            TOLVEK_OK ||
        count != expected) {
        return 0;
    }
    for (i = 0; i < count; ++i) {
        if (monitors[i].serial != serials[i]) {
            return 0;
        }
    }
    return 1;
}

static void check_monitors(void)
{
    HANDLE lost_called = CreateEventW(NULL, FALSE, FALSE, NULL);
    tolvek_display_client* client = NULL;
    char version[16];
    char tiny[3];
    tolvek_monitor monitors[TOLVEK_DISPLAY_MAX_MONITORS];
    size_t count = 0;
    int32_t lost = -1;
    void* event = NULL;
    static const uint32_t both[] = {1, 2};
    static const uint32_t second_only[] = {2};

    CHECK_STATUS(
        tolvek_display_connect(TOLVEK_DISPLAY_DEFAULT_WAIT_MS, on_lost, lost_called, &client),
        TOLVEK_OK);
    CHECK(client != NULL);
    if (client == NULL) {
        CloseHandle(lost_called);
        return;
    }

    CHECK_STATUS(tolvek_display_ping(client, version, sizeof version), TOLVEK_OK);
    CHECK(strcmp(version, "0.0.0") == 0);
    CHECK_STATUS(tolvek_display_ping(client, NULL, 0), TOLVEK_OK);
    CHECK_STATUS(tolvek_display_ping(client, tiny, sizeof tiny), TOLVEK_ERROR_BUFFER_TOO_SMALL);
    CHECK(tiny[0] == '\0');
    CHECK(last_error_holds("needs 6 bytes; the buffer has 3"));
    CHECK_INVALID(tolvek_display_ping(client, NULL, sizeof version),
                  "tolvek_display_ping: version is null");

    CHECK_STATUS(tolvek_display_create_monitor(client, 1920, 1080, 1), TOLVEK_OK);
    CHECK_STATUS(tolvek_display_create_monitor(client, 2560, 1440, 2), TOLVEK_OK);
    CHECK_STATUS(tolvek_display_create_monitor(client, 1921, 1080, 3), TOLVEK_ERROR_REFUSED);
    CHECK(last_error_holds("1921x1080"));
    CHECK_STATUS(tolvek_display_create_monitor(client, 1920, 1080, 2), TOLVEK_ERROR_REFUSED);

    CHECK_STATUS(tolvek_display_monitors(client, monitors, TOLVEK_DISPLAY_MAX_MONITORS, &count),
                 TOLVEK_OK);
    CHECK(count == 2);
    CHECK(monitors[0].width == 1920 && monitors[0].height == 1080 && monitors[0].serial == 1);
    CHECK(monitors[1].width == 2560 && monitors[1].height == 1440 && monitors[1].serial == 2);
    count = 0;
    CHECK_STATUS(tolvek_display_monitors(client, NULL, 0, &count), TOLVEK_ERROR_BUFFER_TOO_SMALL);
    CHECK(count == 2);
    memset(monitors, 0, sizeof monitors);
    CHECK_STATUS(tolvek_display_monitors(client, monitors, 1, &count),
                 TOLVEK_ERROR_BUFFER_TOO_SMALL);
    CHECK(count == 2 && monitors[0].serial == 1 && monitors[1].serial == 0);

    CHECK_INVALID(tolvek_display_monitors(client, monitors, 4, NULL),
                  "tolvek_display_monitors: count is null");
    CHECK_INVALID(tolvek_display_monitors(client, NULL, 4, &count),
                  "tolvek_display_monitors: monitors is null");

    CHECK_STATUS(tolvek_display_connection_lost(client, &lost), TOLVEK_OK);
    CHECK(lost == 0);
    CHECK_INVALID(tolvek_display_connection_lost(client, NULL),
                  "tolvek_display_connection_lost: lost is null");
    CHECK_INVALID(tolvek_display_lost_event(client, NULL),
                  "tolvek_display_lost_event: event is null");
    CHECK_STATUS(tolvek_display_lost_event(client, &event), TOLVEK_OK);
    CHECK(event != NULL && WaitForSingleObject((HANDLE)event, 0) == WAIT_TIMEOUT);
    CHECK_STATUS(tolvek_display_restore(client), TOLVEK_OK); /* nothing to do */

    /* With the service's process gone, the client notices on its own within a second. */
    CHECK(end_service_process());
    CHECK(WaitForSingleObject((HANDLE)event, 5000) == WAIT_OBJECT_0);
    CHECK(WaitForSingleObject(lost_called, 5000) == WAIT_OBJECT_0);
    CHECK(g_lost_calls == 1);
    CHECK_STATUS(tolvek_display_connection_lost(client, &lost), TOLVEK_OK);
    CHECK(lost == 1);
    CHECK_STATUS(tolvek_display_create_monitor(client, 1920, 1080, 3),
                 TOLVEK_ERROR_CONNECTION_LOST);
    CHECK_STATUS(tolvek_display_ping(client, version, sizeof version),
                 TOLVEK_ERROR_CONNECTION_LOST);
    /* Off the list while lost; the restore brings back the other one. */
    CHECK_STATUS(tolvek_display_destroy_monitor(client, 1), TOLVEK_OK);
    CHECK(holds_serials(client, second_only, 1));
    CHECK_STATUS(tolvek_display_restore(client), TOLVEK_OK);
    CHECK(WaitForSingleObject((HANDLE)event, 0) == WAIT_TIMEOUT);
    CHECK_STATUS(tolvek_display_connection_lost(client, &lost), TOLVEK_OK);
    CHECK(lost == 0);
    CHECK(holds_serials(client, second_only, 1));

    CHECK_STATUS(tolvek_display_create_monitor(client, 1920, 1080, 1), TOLVEK_OK);
    CHECK_STATUS(tolvek_display_destroy_monitor(client, 2), TOLVEK_OK);
    CHECK_STATUS(tolvek_display_destroy_monitor(client, 7), TOLVEK_ERROR_UNKNOWN_SERIAL);
    CHECK(holds_serials(client, both, 1));

    tolvek_display_close(client);
    CHECK(g_lost_calls == 1);
    CloseHandle(lost_called);
}

static void check_no_service(void)
{
    tolvek_display_client* client = (tolvek_display_client*)&client; /* set to null */
    CHECK_STATUS(tolvek_display_connect(2000, NULL, NULL, &client), TOLVEK_ERROR_NOT_INSTALLED);
    CHECK(client == NULL);
    CHECK(last_error_holds("the display helper is not installed"));
    CHECK(last_error_holds("TolvekDisplayHelper"));
}

int main(int argc, char** argv)
{
    setvbuf(stdout, NULL, _IONBF, 0); /* every line out before a crash */
    if (argc != 2) {
        printf("usage: sdk_c_program interface|producer|monitors|no-service\n");
        return 2;
    }
    if (strcmp(argv[1], "interface") == 0) {
        check_interface();
    } else if (strcmp(argv[1], "producer") == 0) {
        check_producer();
    } else if (strcmp(argv[1], "monitors") == 0) {
        check_monitors();
    } else if (strcmp(argv[1], "no-service") == 0) {
        check_no_service();
    } else {
        printf("unknown scenario %s\n", argv[1]);
        return 2;
    }
    if (g_failures != 0) {
        printf("%s: %d checks failed\n", argv[1], g_failures);
        return 1;
    }
    printf("%s: all checks passed\n", argv[1]);
    return 0;
}
