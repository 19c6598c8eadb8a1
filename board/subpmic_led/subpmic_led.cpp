// Driver of the sub-PMIC's flash LED block: two LEDs that strobe as camera flashes or stay lit as
// torches. It registers them in the flash LED class under the node's "led-name", with the limits
// the board's node sets (within what the part can do), and programs the part's registers.
// Currents are in mA and flash times in ms; SUBPMIC_LED1 and SUBPMIC_LED2 are the part's two
// channels.
#include "hw/subpmic_led.h"
#include "ledhub/subpmic_led.h"

#include <platform/err.h>
#include <platform/errno.h>
#include <platform/module.h>
#include <platform/mutex.h>
#include <platform/of.h>
#include <platform/platform_device.h>

// The part's current and time settings, one register per channel.
enum subpmic_led_field {
    SUBPMIC_LED_FIELD_FLASH_CURR,
    SUBPMIC_LED_FIELD_FLASH_TIME,
    SUBPMIC_LED_FIELD_TORCH_CURR,
    SUBPMIC_LED_FIELDS,
};

static const struct {
    u8 reg;                  // the first channel's; the second channel's follows it
    u32 step;                // uA or us
    u32 part_max;            // what the part can do
    const char *limit_prop;  // the node's own limit, within that
} subpmic_led_fields[SUBPMIC_LED_FIELDS] = {
    {SUBPMIC_LED_REG_FLASH_CURR(0), SUBPMIC_LED_FLASH_STEP_UA,
     (SUBPMIC_LED_FLASH_MAX_CODE + 1) * SUBPMIC_LED_FLASH_STEP_UA, "flash-max-microamp"},
    {SUBPMIC_LED_REG_FLASH_TIMEOUT(0), SUBPMIC_LED_TIMEOUT_STEP_US,
     (SUBPMIC_LED_TIMEOUT_MAX_CODE + 1) * SUBPMIC_LED_TIMEOUT_STEP_US, "flash-max-timeout-us"},
    {SUBPMIC_LED_REG_TORCH_CURR(0), SUBPMIC_LED_TORCH_STEP_UA,
     (SUBPMIC_LED_TORCH_MAX_CODE + 1) * SUBPMIC_LED_TORCH_STEP_UA, "torch-max-microamp"},
};

struct subpmic_led_chip {
    struct device *dev;
    const char *name;
    u32 max[SUBPMIC_LED_FIELDS];  // the limits of subpmic_led_fields on this board
    // Serialises register updates, the read-modify-write of the enables above all.
    struct mutex lock;
};

static struct subpmic_led_chip *subpmic_led_chip_of(struct subpmic_led_dev *led,
                                                    enum SUBPMIC_LED_ID id) {
    void *chip = subpmic_led_get_private(led);

    if (IS_ERR_OR_NULL(chip) || id >= SUBPMIC_LED_MAX)
        return nullptr;
    return (struct subpmic_led_chip *)chip;
}

// The register code for val units when the field has steps of step units up to max units
// (rounded down to a step), or -EINVAL outside one step to max.
static int subpmic_led_code(int val, unsigned int unit, u32 step, u32 max) {
    long long v = (long long)val * unit;

    if (val <= 0 || v < step || v > max)
        return -EINVAL;
    return (int)(v / step) - 1;
}

static int subpmic_led_write(struct subpmic_led_chip *chip, u8 reg, int code) {
    int ret;

    if (code < 0)
        return code;
    mutex_lock(&chip->lock);
    ret = subpmic_led_hw_write(reg, (u8)code);
    mutex_unlock(&chip->lock);
    return ret;
}

// Sets one LED's field to val mA or ms.
static int subpmic_led_set_field(struct subpmic_led_dev *led, enum SUBPMIC_LED_ID id,
                                 enum subpmic_led_field field, int val) {
    struct subpmic_led_chip *chip = subpmic_led_chip_of(led, id);

    if (!chip)
        return -EINVAL;
    return subpmic_led_write(
        chip, (u8)(subpmic_led_fields[field].reg + id),
        subpmic_led_code(val, 1000, subpmic_led_fields[field].step, chip->max[field]));
}

static int subpmic_led_set_flash_curr(struct subpmic_led_dev *led, enum SUBPMIC_LED_ID id, int ma) {
    return subpmic_led_set_field(led, id, SUBPMIC_LED_FIELD_FLASH_CURR, ma);
}

static int subpmic_led_set_flash_time(struct subpmic_led_dev *led, enum SUBPMIC_LED_ID id, int ms) {
    return subpmic_led_set_field(led, id, SUBPMIC_LED_FIELD_FLASH_TIME, ms);
}

static int subpmic_led_set_torch_curr(struct subpmic_led_dev *led, enum SUBPMIC_LED_ID id, int ma) {
    return subpmic_led_set_field(led, id, SUBPMIC_LED_FIELD_TORCH_CURR, ma);
}

// Sets or clears one enable bit. The part clears a flash bit itself when the strobe times out,
// so the register is read back rather than remembered; a timeout it latched is reported here.
static int subpmic_led_update_enable(struct subpmic_led_chip *chip, u8 bit, bool on) {
    u8 enable, status;
    int ret, i;

    mutex_lock(&chip->lock);
    ret = subpmic_led_hw_read(SUBPMIC_LED_REG_STATUS, &status);
    if (ret)
        goto out;
    for (i = 0; i < SUBPMIC_LED_HW_CHANNELS; i++)
        if (status & SUBPMIC_LED_FLASH_TIMEOUT_FLAG(i))
            dev_info(chip->dev, "led%d: flash ended by its timeout\n", i + 1);
    ret = subpmic_led_hw_read(SUBPMIC_LED_REG_ENABLE, &enable);
    if (ret)
        goto out;
    enable = on ? (u8)(enable | bit) : (u8)(enable & ~bit);
    ret = subpmic_led_hw_write(SUBPMIC_LED_REG_ENABLE, enable);
out:
    mutex_unlock(&chip->lock);
    return ret;
}

static int subpmic_led_set_flash_enable(struct subpmic_led_dev *led, enum SUBPMIC_LED_ID id,
                                        bool on) {
    struct subpmic_led_chip *chip = subpmic_led_chip_of(led, id);

    if (!chip)
        return -EINVAL;
    return subpmic_led_update_enable(chip, SUBPMIC_LED_FLASH_EN(id), on);
}

static int subpmic_led_set_torch_enable(struct subpmic_led_dev *led, enum SUBPMIC_LED_ID id,
                                        bool on) {
    struct subpmic_led_chip *chip = subpmic_led_chip_of(led, id);

    if (!chip)
        return -EINVAL;
    return subpmic_led_update_enable(chip, SUBPMIC_LED_TORCH_EN(id), on);
}

static const struct subpmic_led_ops subpmic_led_ops = {
    .set_led_flash_curr = subpmic_led_set_flash_curr,
    .set_led_flash_time = subpmic_led_set_flash_time,
    .set_led_flash_enable = subpmic_led_set_flash_enable,
    .set_led_torch_curr = subpmic_led_set_torch_curr,
    .set_led_torch_enable = subpmic_led_set_torch_enable,
};

// A limit from the node, at most what the part can do; the part's own without one.
static u32 subpmic_led_limit(struct device_node *np, const char *prop, u32 part_max) {
    u32 val;

    if (of_property_read_u32(np, prop, &val) || val > part_max)
        return part_max;
    return val;
}

// Devres action, run after the class registration has ended: nothing can reach the LEDs then.
static void subpmic_led_all_off(void *data) {
    struct subpmic_led_chip *chip = (struct subpmic_led_chip *)data;

    mutex_lock(&chip->lock);
    subpmic_led_hw_write(SUBPMIC_LED_REG_ENABLE, 0);
    mutex_unlock(&chip->lock);
}

static int subpmic_led_probe(struct platform_device *pdev) {
    struct device *dev = &pdev->dev;
    struct subpmic_led_chip *chip;
    struct subpmic_led_dev *led;
    int ret, i;

    chip = (struct subpmic_led_chip *)devm_kzalloc(dev, sizeof(*chip), GFP_KERNEL);
    if (!chip)
        return -ENOMEM;
    chip->dev = dev;
    mutex_init(&chip->lock);

    // The name is registered as is, so it must live as long as the registration: the node's
    // property does.
    ret = of_property_read_string(dev->of_node, "led-name", &chip->name);
    if (ret) {
        dev_err(dev, "no led-name\n");
        return -EINVAL;
    }
    for (i = 0; i < SUBPMIC_LED_FIELDS; i++)
        chip->max[i] = subpmic_led_limit(dev->of_node, subpmic_led_fields[i].limit_prop,
                                         subpmic_led_fields[i].part_max);

    // Start from dark LEDs; this is also the check that the part answers.
    ret = subpmic_led_hw_write(SUBPMIC_LED_REG_ENABLE, 0);
    if (ret) {
        dev_err(dev, "sub-PMIC does not answer: %d\n", ret);
        return ret;
    }
    ret = devm_add_action_or_reset(dev, subpmic_led_all_off, chip);
    if (ret)
        return ret;

    // With this device as parent, the class ends the registration when it is unbound.
    led = subpmic_led_register(chip->name, dev, &subpmic_led_ops, chip);
    if (IS_ERR(led)) {
        dev_err(dev, "register %s failed: %ld\n", chip->name, PTR_ERR(led));
        return (int)PTR_ERR(led);
    }
    platform_set_drvdata(pdev, chip);
    dev_info(dev, "flash LEDs registered as %s\n", chip->name);
    return 0;
}

static const struct of_device_id subpmic_led_of_match[] = {
    {.compatible = "phonesim,subpmic-led"},
    {},
};
MODULE_DEVICE_TABLE(of, subpmic_led_of_match);

static struct platform_driver subpmic_led_driver = {
    .probe = subpmic_led_probe,
    .driver =
        {
            .name = "subpmic-led",
            .of_match_table = subpmic_led_of_match,
        },
};
module_platform_driver(subpmic_led_driver);

MODULE_DESCRIPTION("Sub-PMIC flash LED driver");
MODULE_LICENSE("GPL v2");
