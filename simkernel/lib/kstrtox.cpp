// Number and boolean parsers (a real model: lib/kstrtox.c and the simple_strto* of
// lib/vsprintf.c, rule for rule).
#include <climits>

#include <platform/errno.h>
#include <platform/kstrtox.h>
#include <platform/uaccess.h>

namespace {

constexpr unsigned int KSTRTOX_OVERFLOW = 1U << 31;

char lower(char c) {
    return static_cast<char>(c | 0x20);
}
bool is_xdigit(char c) {
    return (c >= '0' && c <= '9') || (lower(c) >= 'a' && lower(c) <= 'f');
}

const char *parse_integer_fixup_radix(const char *s, unsigned int *base) {
    if (*base == 0) {
        if (s[0] == '0') {
            if (lower(s[1]) == 'x' && is_xdigit(s[2]))
                *base = 16;
            else
                *base = 8;
        } else {
            *base = 10;
        }
    }
    if (*base == 16 && s[0] == '0' && lower(s[1]) == 'x')
        s += 2;
    return s;
}

// Number of digits parsed, with KSTRTOX_OVERFLOW set if the value did not fit in 64 bits.
unsigned int parse_integer(const char *s, unsigned int base, unsigned long long *p) {
    unsigned long long res = 0;
    unsigned int rv = 0;
    for (;; s++) {
        unsigned int c = static_cast<unsigned char>(*s);
        unsigned int lc = c | 0x20;
        unsigned int val;
        if (c >= '0' && c <= '9')
            val = c - '0';
        else if (lc >= 'a' && lc <= 'f')
            val = lc - 'a' + 10;
        else
            break;
        if (val >= base)
            break;
        // Only near the top of the range can one more digit overflow (base 16 at most).
        if (res & (~0ULL << 60)) {
            if (res > (ULLONG_MAX - val) / base)
                rv |= KSTRTOX_OVERFLOW;
        }
        res = res * base + val;
        rv++;
    }
    *p = res;
    return rv;
}

int do_kstrtoull(const char *s, unsigned int base, unsigned long long *res) {
    unsigned long long value;
    s = parse_integer_fixup_radix(s, &base);
    unsigned int rv = parse_integer(s, base, &value);
    if (rv & KSTRTOX_OVERFLOW)
        return -ERANGE;
    if (rv == 0)
        return -EINVAL;
    s += rv;
    if (*s == '\n')
        s++;
    if (*s)
        return -EINVAL;
    *res = value;
    return 0;
}

}  // namespace

extern "C" {

int kstrtoull(const char *s, unsigned int base, unsigned long long *res) {
    if (s[0] == '+')
        s++;
    return do_kstrtoull(s, base, res);
}

int kstrtoll(const char *s, unsigned int base, long long *res) {
    unsigned long long tmp;
    int rv;
    if (s[0] == '-') {
        rv = do_kstrtoull(s + 1, base, &tmp);
        if (rv < 0)
            return rv;
        // -tmp must be negative or zero: tmp up to 2^63 fits.
        if (static_cast<long long>(0ULL - tmp) > 0)
            return -ERANGE;
        *res = static_cast<long long>(0ULL - tmp);
    } else {
        rv = kstrtoull(s, base, &tmp);
        if (rv < 0)
            return rv;
        if (static_cast<long long>(tmp) < 0)
            return -ERANGE;
        *res = static_cast<long long>(tmp);
    }
    return 0;
}

int kstrtouint(const char *s, unsigned int base, unsigned int *res) {
    unsigned long long tmp;
    int rv = kstrtoull(s, base, &tmp);
    if (rv < 0)
        return rv;
    if (tmp != static_cast<unsigned int>(tmp))
        return -ERANGE;
    *res = static_cast<unsigned int>(tmp);
    return 0;
}

int kstrtoint(const char *s, unsigned int base, int *res) {
    long long tmp;
    int rv = kstrtoll(s, base, &tmp);
    if (rv < 0)
        return rv;
    if (tmp != static_cast<int>(tmp))
        return -ERANGE;
    *res = static_cast<int>(tmp);
    return 0;
}

int kstrtou16(const char *s, unsigned int base, u16 *res) {
    unsigned long long tmp;
    int rv = kstrtoull(s, base, &tmp);
    if (rv < 0)
        return rv;
    if (tmp != static_cast<u16>(tmp))
        return -ERANGE;
    *res = static_cast<u16>(tmp);
    return 0;
}

int kstrtos16(const char *s, unsigned int base, s16 *res) {
    long long tmp;
    int rv = kstrtoll(s, base, &tmp);
    if (rv < 0)
        return rv;
    if (tmp != static_cast<s16>(tmp))
        return -ERANGE;
    *res = static_cast<s16>(tmp);
    return 0;
}

int kstrtou8(const char *s, unsigned int base, u8 *res) {
    unsigned long long tmp;
    int rv = kstrtoull(s, base, &tmp);
    if (rv < 0)
        return rv;
    if (tmp != static_cast<u8>(tmp))
        return -ERANGE;
    *res = static_cast<u8>(tmp);
    return 0;
}

int kstrtos8(const char *s, unsigned int base, s8 *res) {
    long long tmp;
    int rv = kstrtoll(s, base, &tmp);
    if (rv < 0)
        return rv;
    if (tmp != static_cast<s8>(tmp))
        return -ERANGE;
    *res = static_cast<s8>(tmp);
    return 0;
}

int kstrtobool(const char *s, bool *res) {
    if (!s)
        return -EINVAL;
    switch (s[0]) {
        case 'y':
        case 'Y':
        case '1':
            *res = true;
            return 0;
        case 'n':
        case 'N':
        case '0':
            *res = false;
            return 0;
        case 'o':
        case 'O':
            switch (s[1]) {
                case 'n':
                case 'N':
                    *res = true;
                    return 0;
                case 'f':
                case 'F':
                    *res = false;
                    return 0;
                default:
                    break;
            }
            break;
        default:
            break;
    }
    return -EINVAL;
}

// The user text is cut to what the longest valid text of the type needs: sign, 64 binary
// digits, newline and NUL (lib/kstrtox.c's kstrto_from_user).
#define KSTRTO_FROM_USER(name, parse, type)                                      \
    int name(const char __user *s, size_t count, unsigned int base, type *res) { \
        char buf[1 + sizeof(type) * 8 + 1 + 1];                                  \
        if (count > sizeof(buf) - 1)                                             \
            count = sizeof(buf) - 1;                                             \
        if (copy_from_user(buf, s, count))                                       \
            return -EFAULT;                                                      \
        buf[count] = '\0';                                                       \
        return parse(buf, base, res);                                            \
    }

KSTRTO_FROM_USER(kstrtoull_from_user, kstrtoull, unsigned long long)
KSTRTO_FROM_USER(kstrtoll_from_user, kstrtoll, long long)
KSTRTO_FROM_USER(kstrtouint_from_user, kstrtouint, unsigned int)
KSTRTO_FROM_USER(kstrtoint_from_user, kstrtoint, int)

int kstrtobool_from_user(const char __user *s, size_t count, bool *res) {
    // Enough to tell the accepted texts apart, a newline and the NUL.
    char buf[4];
    if (count > sizeof(buf) - 1)
        count = sizeof(buf) - 1;
    if (copy_from_user(buf, s, count))
        return -EFAULT;
    buf[count] = '\0';
    return kstrtobool(buf, res);
}

unsigned long long simple_strtoull(const char *cp, char **endp, unsigned int base) {
    unsigned long long result;
    cp = parse_integer_fixup_radix(cp, &base);
    unsigned int rv = parse_integer(cp, base, &result);
    cp += rv & ~KSTRTOX_OVERFLOW;
    if (endp)
        *endp = const_cast<char *>(cp);
    return result;
}

unsigned long simple_strtoul(const char *cp, char **endp, unsigned int base) {
    return simple_strtoull(cp, endp, base);
}

long long simple_strtoll(const char *cp, char **endp, unsigned int base) {
    if (*cp == '-')
        return static_cast<long long>(0ULL - simple_strtoull(cp + 1, endp, base));
    return static_cast<long long>(simple_strtoull(cp, endp, base));
}

long simple_strtol(const char *cp, char **endp, unsigned int base) {
    return simple_strtoll(cp, endp, base);
}

}  // extern "C"
