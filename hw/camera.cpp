// Thin model of the camera module: it holds no optics, only the road from the camera stack's
// flash requests to the camera driver's handlers, guarded so a driver can detach while
// requests run.
#include "hw/camera.h"

#include "hw/camera_model.h"
#include "hw/component.h"

#include <cerrno>
#include <mutex>
#include <shared_mutex>
#include <string>

// After the standard headers: platform/ defines attribute macros libstdc++ also uses.
#include <platform/of.h>

namespace {

struct Camera {
    // Shared while a request runs through the driver, exclusive to attach and detach.
    std::shared_mutex lock;
    const camera_hw_flash_ops *ops = nullptr;
    void *ctx = nullptr;
    unsigned requests = 0;  // guarded by stats_lock
    std::mutex stats_lock;
};

Camera &camera() {
    static Camera c;
    return c;
}

void camera_boot() {
    struct device_node *np = of_find_compatible_node(nullptr, nullptr, "phonesim,camera");
    bool present = np && of_device_is_available(np);
    of_node_put(np);
    {
        std::lock_guard g(camera().stats_lock);
        camera().requests = 0;
    }
    if (present)
        hw::component_add({"camera", hw::camera_describe, nullptr});
}

}  // namespace

HW_MODEL(camera, camera_boot, nullptr);

extern "C" int camera_hw_attach(const struct camera_hw_flash_ops *ops, void *ctx) {
    Camera &c = camera();
    std::unique_lock g(c.lock);
    if (c.ops)
        return -EBUSY;
    c.ops = ops;
    c.ctx = ctx;
    return 0;
}

extern "C" void camera_hw_detach(void *ctx) {
    Camera &c = camera();
    std::unique_lock g(c.lock);
    if (c.ctx == ctx) {
        c.ops = nullptr;
        c.ctx = nullptr;
    }
}

namespace hw {

int camera_flash_request(CameraFlashOp op, uint32_t led, int value) {
    Camera &c = camera();
    std::shared_lock g(c.lock);
    if (!c.ops)
        return -ENODEV;
    {
        std::lock_guard s(c.stats_lock);
        c.requests++;
    }
    const camera_hw_flash_ops *ops = c.ops;
    // A driver may leave out any of its operations.
    auto set = [&](int (*fn)(void *, uint32_t, int)) {
        return fn ? fn(c.ctx, led, value) : -EOPNOTSUPP;
    };
    auto toggle = [&](int (*fn)(void *, uint32_t, bool)) {
        return fn ? fn(c.ctx, led, value != 0) : -EOPNOTSUPP;
    };
    switch (op) {
        case CameraFlashOp::flash_curr:
            return set(ops->flash_curr);
        case CameraFlashOp::flash_time:
            return set(ops->flash_time);
        case CameraFlashOp::torch_curr:
            return set(ops->torch_curr);
        case CameraFlashOp::flash_enable:
            return toggle(ops->flash_enable);
        case CameraFlashOp::torch_enable:
            return toggle(ops->torch_enable);
    }
    return -EOPNOTSUPP;
}

std::string camera_describe() {
    Camera &c = camera();
    bool bound;
    {
        std::shared_lock g(c.lock);
        bound = c.ops != nullptr;
    }
    std::lock_guard s(c.stats_lock);
    return std::string("camera: ") + (bound ? "driver bound" : "no driver") + ", " +
           std::to_string(c.requests) + " flash requests\n";
}

}  // namespace hw
