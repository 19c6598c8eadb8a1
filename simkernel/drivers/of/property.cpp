// Real model: the property reads of drivers/of/property.c of 5.10 with their error codes:
// -EINVAL (no such property), -ENODATA (no value, or no string at that index), -EOVERFLOW
// (too short, or longer than the caller allows), -EILSEQ (a string without its NUL).
#include "simkernel/drivers/of/of_host.h"
#include "simkernel/drivers/of/of_private.h"

#include <platform/err.h>
#include <platform/errno.h>
#include <platform/printk.h>
#include <platform/string.h>

namespace {

u32 be32_at(const void *p) {
    u32 v;
    memcpy(&v, p, sizeof(v));
    return __builtin_bswap32(v);
}

// The property's value if it is at least min and (max: unless 0) at most max bytes long.
const void *of_find_property_value_of_size(const struct device_node *np, const char *propname,
                                           u64 min, u64 max, size_t *len) {
    struct property *prop = of_find_property(np, propname, nullptr);
    if (!prop)
        return ERR_PTR(-EINVAL);
    if (!prop->value)
        return ERR_PTR(-ENODATA);
    if ((u64)prop->length < min)
        return ERR_PTR(-EOVERFLOW);
    if (max && (u64)prop->length > max)
        return ERR_PTR(-EOVERFLOW);
    if (len)
        *len = prop->length;
    return prop->value;
}

}  // namespace

extern "C" {

int of_property_read_u32_index(const struct device_node *np, const char *propname, u32 index,
                               u32 *out_value) {
    // In 64 bits: index + 1 must not wrap to a size every property has.
    const void *val = of_find_property_value_of_size(
        np, propname, ((u64)index + 1) * sizeof(*out_value), 0, nullptr);
    if (IS_ERR(val))
        return PTR_ERR(val);
    *out_value = be32_at(static_cast<const char *>(val) + (u64)index * sizeof(u32));
    return 0;
}

int of_property_read_variable_u32_array(const struct device_node *np, const char *propname,
                                        u32 *out_values, size_t sz_min, size_t sz_max) {
    size_t sz;
    const void *val = of_find_property_value_of_size(
        np, propname, (u64)sz_min * sizeof(*out_values), (u64)sz_max * sizeof(*out_values), &sz);
    if (IS_ERR(val))
        return PTR_ERR(val);
    if (!sz_max)
        sz = sz_min;
    else
        sz /= sizeof(*out_values);
    const char *p = static_cast<const char *>(val);
    for (size_t i = 0; i < sz; i++)
        out_values[i] = be32_at(p + i * sizeof(u32));
    return (int)sz;
}

int of_property_read_u64(const struct device_node *np, const char *propname, u64 *out_value) {
    const void *p = of_find_property_value_of_size(np, propname, sizeof(*out_value), 0, nullptr);
    if (IS_ERR(p))
        return PTR_ERR(p);
    const char *c = static_cast<const char *>(p);
    *out_value = ((u64)be32_at(c) << 32) | be32_at(c + 4);
    return 0;
}

int of_property_read_string(const struct device_node *np, const char *propname,
                            const char **out_string) {
    const struct property *prop = of_find_property(np, propname, nullptr);
    if (!prop)
        return -EINVAL;
    if (!prop->value)
        return -ENODATA;
    if (strnlen(static_cast<const char *>(prop->value), prop->length) >= (size_t)prop->length)
        return -EILSEQ;
    *out_string = static_cast<const char *>(prop->value);
    return 0;
}

int of_property_read_string_helper(const struct device_node *np, const char *propname,
                                   const char **out_strs, size_t sz, int skip) {
    const struct property *prop = of_find_property(np, propname, nullptr);
    if (!prop)
        return -EINVAL;
    if (!prop->value)
        return -ENODATA;
    // A negative index would report a string it never hands out.
    if (skip < 0)
        return -EINVAL;
    const char *p = static_cast<const char *>(prop->value);
    const char *end = p + prop->length;
    int i;
    size_t l;
    for (i = 0; p < end && (!out_strs || (size_t)i < (size_t)skip + sz); i++, p += l) {
        l = strnlen(p, end - p) + 1;
        if (p + l > end)
            return -EILSEQ;
        if (out_strs && i >= skip)
            *out_strs++ = p;
    }
    i -= skip;
    return i <= 0 ? -ENODATA : i;
}

int of_property_read_string_index(const struct device_node *np, const char *propname, int index,
                                  const char **output) {
    int rc = of_property_read_string_helper(np, propname, output, 1, index);
    return rc < 0 ? rc : 0;
}

int of_property_match_string(const struct device_node *np, const char *propname,
                             const char *string) {
    const struct property *prop = of_find_property(np, propname, nullptr);
    if (!string)
        return -EINVAL;
    if (!prop)
        return -EINVAL;
    if (!prop->value)
        return -ENODATA;
    const char *p = static_cast<const char *>(prop->value);
    const char *end = p + prop->length;
    size_t l;
    for (int i = 0; p < end; i++, p += l) {
        l = strnlen(p, end - p) + 1;
        if (p + l > end)
            return -EILSEQ;
        if (!strcmp(string, p))
            return i;
    }
    return -ENODATA;
}

int of_property_count_elems_of_size(const struct device_node *np, const char *propname,
                                    int elem_size) {
    struct property *prop = of_find_property(np, propname, nullptr);
    if (!prop)
        return -EINVAL;
    if (!prop->value)
        return -ENODATA;
    if (elem_size <= 0)
        return -EINVAL;
    if (prop->length % elem_size != 0) {
        pr_err("OF: size of %s in node %s is not a multiple of %d\n", propname,
               sim::of_node_path(np).c_str(), elem_size);
        return -EINVAL;
    }
    return prop->length / elem_size;
}

}  // extern "C"
