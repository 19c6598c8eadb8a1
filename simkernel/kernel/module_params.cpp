// Module parameters (kernel/params.c): a real model of parse_args() and the int, uint and bool
// parameter operations, as load_module() applies insmod's arguments.
#include "simkernel/kernel/module_params.h"

#include <cctype>
#include <cstdio>
#include <string>

#include <platform/errno.h>
#include <platform/kstrtox.h>
#include <platform/mm.h>
#include <platform/moduleparam.h>
#include <platform/printk.h>

#define KERNEL_PARAM_OPS_FL_NOARG (1 << 0)

extern "C" {

int param_set_int(const char *val, const struct kernel_param *kp) {
    return kstrtoint(val, 0, static_cast<int *>(kp->arg));
}

int param_set_uint(const char *val, const struct kernel_param *kp) {
    return kstrtouint(val, 0, static_cast<unsigned int *>(kp->arg));
}

int param_set_bool(const char *val, const struct kernel_param *kp) {
    // No value means true: "insmod m.ko flag" sets flag.
    return kstrtobool(val ? val : "1", static_cast<bool *>(kp->arg));
}

// The values as /sys/module/NAME/parameters/ shows them, with a newline.
int param_get_int(char *buffer, const struct kernel_param *kp) {
    return snprintf(buffer, PAGE_SIZE, "%i\n", *static_cast<int *>(kp->arg));
}

int param_get_uint(char *buffer, const struct kernel_param *kp) {
    return snprintf(buffer, PAGE_SIZE, "%u\n", *static_cast<unsigned int *>(kp->arg));
}

int param_get_bool(char *buffer, const struct kernel_param *kp) {
    return snprintf(buffer, PAGE_SIZE, "%c\n", *static_cast<bool *>(kp->arg) ? 'Y' : 'N');
}

const struct kernel_param_ops param_ops_int = {0, param_set_int, param_get_int, nullptr};
const struct kernel_param_ops param_ops_uint = {0, param_set_uint, param_get_uint, nullptr};
const struct kernel_param_ops param_ops_bool = {KERNEL_PARAM_OPS_FL_NOARG, param_set_bool,
                                                param_get_bool, nullptr};
}

namespace sim {
namespace {

// parameq(): dashes and underscores are interchangeable in parameter names.
bool parameq(std::string_view a, const char *b) {
    size_t i = 0;
    for (; i < a.size() && b[i]; i++) {
        char x = a[i] == '-' ? '_' : a[i], y = b[i] == '-' ? '_' : b[i];
        if (x != y)
            return false;
    }
    return i == a.size() && !b[i];
}

// next_arg(): one "param[=value]" word; double quotes group spaces and are dropped.
bool next_arg(std::string_view &args, std::string *param, std::string *val, bool *has_val) {
    size_t i = 0;
    while (i < args.size() && std::isspace(static_cast<unsigned char>(args[i])))
        i++;
    if (i == args.size())
        return false;
    std::string word;
    bool in_quote = false;
    for (; i < args.size(); i++) {
        char c = args[i];
        if (c == '"') {
            in_quote = !in_quote;
            continue;
        }
        if (!in_quote && std::isspace(static_cast<unsigned char>(c)))
            break;
        word += c;
    }
    args.remove_prefix(i);
    size_t eq = word.find('=');
    *has_val = eq != std::string::npos;
    *param = word.substr(0, eq);
    *val = *has_val ? word.substr(eq + 1) : std::string();
    return true;
}

}  // namespace

int module_parse_args(const char *modname, std::string_view args, const struct kernel_param *kp,
                      size_t num) {
    std::string param, val;
    bool has_val;
    while (next_arg(args, &param, &val, &has_val)) {
        const struct kernel_param *p = nullptr;
        for (size_t i = 0; i < num && !p; i++)
            if (parameq(param, kp[i].name))
                p = &kp[i];
        if (!p) {
            printk(KERN_WARNING "%s: unknown parameter '%s' ignored\n", modname, param.c_str());
            continue;
        }
        int ret = !has_val && !(p->ops->flags & KERNEL_PARAM_OPS_FL_NOARG)
                      ? -EINVAL
                      : p->ops->set(has_val ? val.c_str() : nullptr, p);
        if (ret == -ENOSPC) {
            printk(KERN_ERR "%s: `%s' too large for parameter `%s'\n", modname, val.c_str(),
                   param.c_str());
            return ret;
        }
        if (ret) {
            printk(KERN_ERR "%s: `%s' invalid for parameter `%s'\n", modname, val.c_str(),
                   param.c_str());
            return ret;
        }
    }
    return 0;
}

}  // namespace sim
