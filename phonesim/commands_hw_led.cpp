// hw subcommands of the flash LEDs: `hw camera ...` makes flash requests as the camera stack
// does, through the camera driver and the flash LED class down to the LED part; `hw led` shows
// what the part is doing.
#include "phonesim/commands_hw.h"

#include "hw/camera_model.h"
#include "hw/subpmic_led_model.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <string>

namespace phonesim {
namespace {

struct CameraSub {
    const char *name;
    hw::CameraFlashOp op;
    const char *value;  // what the value argument is called
    bool toggle;        // on|off instead of a number
};

constexpr CameraSub camera_subs[] = {
    {"flash-curr", hw::CameraFlashOp::flash_curr, "MA", false},
    {"flash-time", hw::CameraFlashOp::flash_time, "MS", false},
    {"flash", hw::CameraFlashOp::flash_enable, "on|off", true},
    {"torch-curr", hw::CameraFlashOp::torch_curr, "MA", false},
    {"torch", hw::CameraFlashOp::torch_enable, "on|off", true},
};

template <typename T>
bool parse_number(const std::string &s, T *out) {
    const char *end = s.data() + s.size();
    auto [p, ec] = std::from_chars(s.data(), end, *out);
    return !s.empty() && ec == std::errc() && p == end;
}

int camera_usage(Invocation &inv) {
    std::string u = "usage: hw camera";
    const char *sep = " ";
    for (const CameraSub &s : camera_subs) {
        u += sep + std::string(s.name) + " LED " + s.value;
        sep = " | ";
    }
    inv.error(u);
    return 1;
}

int cmd_camera(Invocation &inv) {
    if (inv.args.size() != 5)
        return camera_usage(inv);
    for (const CameraSub &s : camera_subs) {
        if (inv.args[2] != s.name)
            continue;
        uint32_t led;
        int value;
        if (!parse_number(inv.args[3], &led)) {
            inv.error("usage: hw camera " + std::string(s.name) + " LED " + s.value);
            return 1;
        }
        const std::string &v = inv.args[4];
        bool ok = s.toggle ? (v == "on" || v == "off") : parse_number(v, &value);
        if (!ok) {
            inv.error("usage: hw camera " + std::string(s.name) + " LED " + s.value);
            return 1;
        }
        if (s.toggle)
            value = v == "on";
        int r = hw::camera_flash_request(s.op, led, value);
        if (r < 0) {
            inv.error(std::string("camera: ") + std::strerror(-r));
            return 1;
        }
        return 0;
    }
    return camera_usage(inv);
}

int cmd_led(Invocation &inv) {
    if (inv.args.size() != 2) {
        inv.error("usage: hw led");
        return 1;
    }
    if (!hw::subpmic_led_present()) {
        inv.error(std::string("led: ") + std::strerror(ENODEV));
        return 1;
    }
    inv.out.write(hw::subpmic_led_describe());
    return 0;
}

}  // namespace

std::vector<HwCommand> hw_led_commands() {
    return {
        {"camera", cmd_camera,
         "hw camera flash-curr|flash-time|flash|torch-curr|torch LED VALUE\n"
         "                         a flash request of the camera stack: current in mA,\n"
         "                         flash time in ms, or on|off; LED 1 or 2"},
        {"led", cmd_led,
         "hw led                 the flash LEDs' currents, timeout, enables and output"},
    };
}

}  // namespace phonesim
