/* Feeds the camera one frame and holds a monitor for a moment, on tolvek_sdk.dll. Writes one
 * line for each, with the outcome. */

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tolvek_sdk.h"

static void feed_camera(void)
{
    tolvek_producer* producer = NULL;
    unsigned char* frame = NULL;
    uint32_t viewers = 0;
    tolvek_status status = tolvek_producer_create(&producer);
    if (status == TOLVEK_OK) {
        frame = (unsigned char*)malloc(TOLVEK_FRAME_SIZE);
        status = frame != NULL ? TOLVEK_OK : TOLVEK_ERROR_OUT_OF_MEMORY;
    }
    if (status == TOLVEK_OK) {
        memset(frame, 0x40, TOLVEK_FRAME_SIZE);
        status = tolvek_producer_publish(producer, frame, TOLVEK_FRAME_SIZE);
    }
    if (status == TOLVEK_OK) {
        status = tolvek_producer_live_viewers(producer, &viewers);
    }
    if (status == TOLVEK_OK) {
        printf("camera: published a frame to %u viewers\n", (unsigned)viewers);
    } else {
        printf("camera: %s (%s)\n", tolvek_status_text(status), tolvek_last_error_text());
    }
    free(frame);
    tolvek_producer_release(producer);
}

static void hold_monitor(void)
{
    tolvek_display_client* client = NULL;
    char version[16] = "";
    tolvek_monitor monitors[TOLVEK_DISPLAY_MAX_MONITORS];
    size_t count = 0;
    tolvek_status status =
        tolvek_display_connect(TOLVEK_DISPLAY_DEFAULT_WAIT_MS, NULL, NULL, &client);
    if (status == TOLVEK_OK) {
        status = tolvek_display_ping(client, version, sizeof version);
    }
    if (status == TOLVEK_OK) {
        status = tolvek_display_create_monitor(client, 2560, 1440, 2);
    }
    if (status == TOLVEK_OK) {
        status = tolvek_display_monitors(client, monitors, TOLVEK_DISPLAY_MAX_MONITORS, &count);
    }
    if (status == TOLVEK_OK && count == 1) {
        printf("monitors: helper %s holds %ux%u as serial %u\n", version,
               (unsigned)monitors[0].width, (unsigned)monitors[0].height,
               (unsigned)monitors[0].serial);
    } else {
        printf("monitors: %s (%s)\n", tolvek_status_text(status), tolvek_last_error_text());
    }
    tolvek_display_close(client);
}

int main(void)
{
    if (tolvek_version() < TOLVEK_SDK_VERSION) {
        printf("tolvek_sdk.dll is older than its header\n");
        return 1;
    }
    printf("sdk %s\n", TOLVEK_SDK_VERSION_TEXT);
    feed_camera();
    hold_monitor();
    return 0;
}
