// The camera module's flash control as the phone's camera stack reaches it: the camera driver
// attaches its handlers here when it binds, and a flash request from the camera stack (phonesim's
// `hw camera ...`) runs through them, so it takes the road a capture's flash takes on a device.
#pragma once

#include <cstdint>

// LED numbers are the camera's own: 1 for the first flash LED, 2 for the second.
struct camera_hw_flash_ops {
    int (*flash_curr)(void *ctx, uint32_t led, int ma);
    int (*flash_time)(void *ctx, uint32_t led, int ms);
    int (*flash_enable)(void *ctx, uint32_t led, bool on);
    int (*torch_curr)(void *ctx, uint32_t led, int ma);
    int (*torch_enable)(void *ctx, uint32_t led, bool on);
};

extern "C" {
// 0, or -EBUSY while another driver is attached.
int camera_hw_attach(const struct camera_hw_flash_ops *ops, void *ctx);
// Waits for requests running through the handlers to finish; none starts after it.
void camera_hw_detach(void *ctx);
}
