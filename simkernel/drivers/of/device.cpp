// Real model: drivers/of/device.c of 5.10 — matching a device's node against a driver's table,
// the "of:N<name>T<type>C<compatible>..." modalias (blanks in compatibles become '_'), and the
// OF_* uevent variables.
#include "simkernel/drivers/of/of_host.h"
#include "simkernel/drivers/of/of_private.h"

#include <platform/device.h>
#include <platform/errno.h>
#include <platform/kobject.h>
#include <platform/of_device.h>
#include <platform/string.h>

#include <cstdio>

namespace {

using sim::of::of_node_short_name;

// of_device_get_modalias(): the length the whole alias needs; as much as fits in len bytes of
// str (a compatible that does not fit whole is left out, and so are those after it).
ssize_t of_device_get_modalias(struct device *dev, char *str, ssize_t len) {
    if (!dev || !dev->of_node)
        return -ENODEV;
    struct device_node *np = dev->of_node;
    std::string name(of_node_short_name(np));
    const char *type = of_node_get_device_type(np);
    // The type prints as the kernel's %s prints a null pointer.
    ssize_t csize =
        snprintf(str, len > 0 ? len : 0, "of:N%sT%s", name.c_str(), type ? type : "(null)");
    ssize_t tsize = csize;
    len -= csize;
    if (str)
        str += csize;

    struct property *p;
    const char *compat;
    of_property_for_each_string(np, "compatible", p, compat) {
        csize = strlen(compat) + 1;
        tsize += csize;
        if (csize > len || !str) {
            // Nothing is written once one compatible did not fit.
            len = -1;
            continue;
        }
        csize = snprintf(str, len, "C%s", compat);
        for (char *c = str; c;) {
            c = strchr(c, ' ');
            if (c)
                *c++ = '_';
        }
        len -= csize;
        str += csize;
    }
    return tsize;
}

}  // namespace

extern "C" {

const struct of_device_id *of_match_device(const struct of_device_id *matches,
                                           const struct device *dev) {
    if (!matches || !dev || !dev->of_node)
        return nullptr;
    return of_match_node(matches, dev->of_node);
}

const void *of_device_get_match_data(const struct device *dev) {
    // A device without a driver has no table to match against.
    if (!dev || !dev->driver)
        return nullptr;
    const struct of_device_id *match = of_match_device(dev->driver->of_match_table, dev);
    return match ? match->data : nullptr;
}

ssize_t of_device_modalias(struct device *dev, char *str, ssize_t len) {
    ssize_t sl = of_device_get_modalias(dev, str, len - 2);
    if (sl < 0)
        return sl;
    if (len < sl + 2)
        return -ENOMEM;
    str[sl++] = '\n';
    str[sl] = 0;
    return sl;
}

void of_device_uevent(struct device *dev, struct kobj_uevent_env *env) {
    if (!dev || !dev->of_node)
        return;
    struct device_node *np = dev->of_node;
    std::string name(of_node_short_name(np));
    add_uevent_var(env, "OF_NAME=%s", name.c_str());
    add_uevent_var(env, "OF_FULLNAME=%s", sim::of_node_path(np).c_str());
    if (const char *type = of_node_get_device_type(np))
        add_uevent_var(env, "OF_TYPE=%s", type);

    // A compatible may hold anything, commas too: one variable per string.
    int seen = 0;
    struct property *p;
    const char *compat;
    of_property_for_each_string(np, "compatible", p, compat) {
        add_uevent_var(env, "OF_COMPATIBLE_%d=%s", seen, compat);
        seen++;
    }
    add_uevent_var(env, "OF_COMPATIBLE_N=%d", seen);

    seen = 0;
    std::lock_guard<std::mutex> g(sim::of::of_mutex());
    for (const sim::of::AliasProp &ap : sim::of::aliases_lookup()) {
        if (ap.np == np) {
            add_uevent_var(env, "OF_ALIAS_%d=%s", seen, ap.alias.c_str());
            seen++;
        }
    }
}

int of_device_uevent_modalias(struct device *dev, struct kobj_uevent_env *env) {
    if (!dev || !dev->of_node)
        return -ENODEV;
    // In two steps: "MODALIAS=", then the alias written over its terminating NUL.
    if (add_uevent_var(env, "MODALIAS="))
        return -ENOMEM;
    int room = (int)sizeof(env->buf) - env->buflen;
    ssize_t sl = of_device_get_modalias(dev, &env->buf[env->buflen - 1], room);
    if (sl >= room)
        return -ENOMEM;
    env->buflen += sl;
    return 0;
}

}  // extern "C"
