// Host side of the camera: flash requests as the camera stack makes them.
#pragma once

#include <cstdint>
#include <string>

namespace hw {

enum class CameraFlashOp { flash_curr, flash_time, flash_enable, torch_curr, torch_enable };

// Runs one request through the attached camera driver: its result, or -ENODEV when no camera
// driver is bound. value is mA, ms, or 0/1 for off/on.
int camera_flash_request(CameraFlashOp op, uint32_t led, int value);
// "camera: driver bound, 3 flash requests" or "camera: no driver".
std::string camera_describe();

}  // namespace hw
