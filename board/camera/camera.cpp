// Driver of the phone's camera module, as far as its flash goes: it finds the flash LED device
// that the node's "flash-led-device" names in the flash LED class, and runs the camera stack's
// flash requests through the class's camera calls. The camera numbers its LEDs from 1.
#include "hw/camera.h"
#include "ledhub/subpmic_led.h"

#include <platform/err.h>
#include <platform/errno.h>
#include <platform/module.h>
#include <platform/of.h>
#include <platform/platform_device.h>

struct camera_chip {
    struct device *dev;
    // Found by name, with a reference held until the camera lets go of it.
    struct subpmic_led_dev *led;
};

static enum SUBPMIC_LED_ID camera_led_id(u32 led) {
    // Numbers without an LED become ids the LED driver refuses.
    return (enum SUBPMIC_LED_ID)(led - 1);
}

static struct subpmic_led_dev *camera_led(void *ctx) {
    return ((struct camera_chip *)ctx)->led;
}

static int camera_flash_curr(void *ctx, u32 led, int ma) {
    return subpmic_camera_set_led_flash_curr(camera_led(ctx), camera_led_id(led), ma);
}

static int camera_flash_time(void *ctx, u32 led, int ms) {
    return subpmic_camera_set_led_flash_time(camera_led(ctx), camera_led_id(led), ms);
}

static int camera_flash_enable(void *ctx, u32 led, bool on) {
    return subpmic_camera_set_led_flash_enable(camera_led(ctx), camera_led_id(led), on);
}

static int camera_torch_curr(void *ctx, u32 led, int ma) {
    return subpmic_camera_set_led_torch_curr(camera_led(ctx), camera_led_id(led), ma);
}

static int camera_torch_enable(void *ctx, u32 led, bool on) {
    return subpmic_camera_set_led_torch_enable(camera_led(ctx), camera_led_id(led), on);
}

static const struct camera_hw_flash_ops camera_flash_ops = {
    .flash_curr = camera_flash_curr,
    .flash_time = camera_flash_time,
    .flash_enable = camera_flash_enable,
    .torch_curr = camera_torch_curr,
    .torch_enable = camera_torch_enable,
};

static void camera_put_led(void *data) {
    struct subpmic_led_dev *led = (struct subpmic_led_dev *)data;

    put_device(&led->dev);
}

static void camera_detach(void *data) {
    camera_hw_detach(data);
}

static int camera_probe(struct platform_device *pdev) {
    struct device *dev = &pdev->dev;
    struct camera_chip *cam;
    const char *led_name;
    int ret;

    ret = of_property_read_string(dev->of_node, "flash-led-device", &led_name);
    if (ret) {
        dev_err(dev, "no flash-led-device\n");
        return -EINVAL;
    }
    cam = (struct camera_chip *)devm_kzalloc(dev, sizeof(*cam), GFP_KERNEL);
    if (!cam)
        return -ENOMEM;
    cam->dev = dev;

    // The LED driver may not have registered yet: try again when it has.
    cam->led = subpmic_led_find_dev_by_name(led_name);
    if (!cam->led)
        return -EPROBE_DEFER;
    ret = devm_add_action_or_reset(dev, camera_put_led, cam->led);
    if (ret)
        return ret;

    ret = camera_hw_attach(&camera_flash_ops, cam);
    if (ret) {
        dev_err(dev, "flash control taken: %d\n", ret);
        return ret;
    }
    ret = devm_add_action_or_reset(dev, camera_detach, cam);
    if (ret)
        return ret;
    dev_info(dev, "flash on %s\n", led_name);
    return 0;
}

static const struct of_device_id camera_of_match[] = {
    {.compatible = "phonesim,camera"},
    {},
};
MODULE_DEVICE_TABLE(of, camera_of_match);

static struct platform_driver camera_driver = {
    .probe = camera_probe,
    .driver =
        {
            .name = "camera",
            .of_match_table = camera_of_match,
        },
};
module_platform_driver(camera_driver);

MODULE_DESCRIPTION("Camera flash control driver");
MODULE_LICENSE("GPL v2");
