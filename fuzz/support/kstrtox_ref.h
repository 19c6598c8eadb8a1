// A reference for the kernel's number parsers, written from lib/kstrtox.c's rules rather than
// its code: the digits are collected first and the value computed in 128 bits, so an
// overflow is seen by comparison instead of by the kernel's pre-multiplication test.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace fuzz::ref {

enum class Status { ok, einval, erange };

struct Parsed {
    Status status = Status::einval;
    unsigned __int128 value = 0;  // the magnitude, meaningful when ok
    bool negative = false;
};

inline int digit_value(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 99;
}

// Stops at the first NUL, as a C string does.
inline std::string_view c_string(std::string_view s) {
    size_t n = s.find('\0');
    return n == std::string_view::npos ? s : s.substr(0, n);
}

// The unsigned rules: base 0 is 16 after "0x"/"0X" followed by a hex digit, 8 after a leading
// 0, else 10; base 16 skips a "0x"; at least one digit; then one optional '\n' and the end.
inline Parsed parse_unsigned(std::string_view s, unsigned base) {
    Parsed p;
    auto at = [&](size_t i) -> char { return i < s.size() ? s[i] : '\0'; };
    size_t i = 0;
    bool has_x = at(0) == '0' && (at(1) == 'x' || at(1) == 'X');
    if (base == 0)
        base = has_x && digit_value(at(2)) < 16 ? 16 : at(0) == '0' ? 8 : 10;
    if (base == 16 && has_x)
        i = 2;
    size_t first = i;
    unsigned __int128 v = 0;
    bool over = false;
    while (digit_value(at(i)) < int(base)) {
        v = v * base + unsigned(digit_value(at(i)));
        if (v > UINT64_MAX) {
            over = true;
            v &= UINT64_MAX;  // the kernel keeps going, wrapped, to find the end
        }
        i++;
    }
    if (over) {
        p.status = Status::erange;
        return p;
    }
    if (i == first)
        return p;  // einval
    if (at(i) == '\n')
        i++;
    if (i != s.size())
        return p;  // einval
    p.status = Status::ok;
    p.value = v;
    return p;
}

// kstrtoull: one leading '+'.
inline Parsed kstrtoull(std::string_view s, unsigned base) {
    s = c_string(s);
    if (!s.empty() && s[0] == '+')
        s.remove_prefix(1);
    return parse_unsigned(s, base);
}

// kstrtoll and the signed narrower ones: '-' then the unsigned rules (no '+' after it), or
// kstrtoull's; the value must lie in [lo, hi].
inline std::optional<int64_t> signed_in(const Parsed &p, int64_t lo, int64_t hi, Status *st) {
    *st = p.status;
    if (p.status != Status::ok)
        return std::nullopt;
    __int128 v = p.negative ? -(__int128)p.value : (__int128)p.value;
    if (v < lo || v > hi) {
        *st = Status::erange;
        return std::nullopt;
    }
    return int64_t(v);
}

inline Parsed kstrtoll_parse(std::string_view s, unsigned base) {
    s = c_string(s);
    if (!s.empty() && s[0] == '-') {
        Parsed p = parse_unsigned(s.substr(1), base);
        p.negative = true;
        return p;
    }
    return kstrtoull(s, base);
}

// kstrtobool: decided by the first one or two characters.
inline Status kstrtobool(std::string_view s, bool *out) {
    s = c_string(s);
    char a = s.empty() ? '\0' : s[0];
    char b = s.size() > 1 ? s[1] : '\0';
    if (a == 'y' || a == 'Y' || a == '1') {
        *out = true;
        return Status::ok;
    }
    if (a == 'n' || a == 'N' || a == '0') {
        *out = false;
        return Status::ok;
    }
    if (a == 'o' || a == 'O') {
        if (b == 'n' || b == 'N') {
            *out = true;
            return Status::ok;
        }
        if (b == 'f' || b == 'F') {
            *out = false;
            return Status::ok;
        }
    }
    return Status::einval;
}

}  // namespace fuzz::ref
