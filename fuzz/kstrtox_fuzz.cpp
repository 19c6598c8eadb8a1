// The kernel's number parsers (kstrto*, kstrto*_from_user, kstrtobool, simple_strto*) against
// the reference in support/kstrtox_ref.h: a crash, a different result code, a different value,
// or a result written on failure is a finding.
//
// Input: one byte picks the parser (low four bits) and the base (high bits); the rest is the
// text, given as the bytes it is (NUL bytes included, where a C string ends).
#include "fuzz/support/fuzz_phone.h"
#include "fuzz/support/kstrtox_ref.h"

#include <cstdio>
#include <cstring>
#include <string>

#include <platform/errno.h>
#include <platform/kstrtox.h>

namespace {

using fuzz::ref::Parsed;
using fuzz::ref::Status;

// The kernel's parsers take bases up to 16 (lib/kstrtox.c's overflow test relies on it).
const unsigned kBases[] = {0, 10, 16, 8, 2, 7, 1, 0};

int to_errno(Status s) {
    return s == Status::ok ? 0 : s == Status::erange ? -ERANGE : -EINVAL;
}

[[noreturn]] void mismatch(const char *fn, unsigned base, const std::string &text, int got_ret,
                           long long got, int want_ret, long long want) {
    char msg[256];
    std::snprintf(msg, sizeof(msg), "%s(base %u) of %zu bytes: got %d/%lld, want %d/%lld", fn, base,
                  text.size(), got_ret, got, want_ret, want);
    fuzz::finding(msg);
}

// Checks an unsigned parser of a type with max value hi. The result is preset to a marker,
// which a failing parser must leave alone.
template <typename T>
void check_unsigned(const char *fn, int (*parse)(const char *, unsigned, T *), unsigned base,
                    const std::string &text, unsigned long long hi) {
    const T marker = T(0x5a5a5a5a5a5a5a5aULL);
    T got = marker;
    int ret = parse(text.c_str(), base, &got);
    Parsed p = fuzz::ref::kstrtoull(text, base);
    Status st = p.status;
    if (st == Status::ok && p.value > hi)
        st = Status::erange;
    int want_ret = to_errno(st);
    long long want = st == Status::ok ? (long long)(unsigned long long)p.value : (long long)marker;
    if (ret != want_ret || (long long)got != want)
        mismatch(fn, base, text, ret, (long long)got, want_ret, want);
}

template <typename T>
void check_signed(const char *fn, int (*parse)(const char *, unsigned, T *), unsigned base,
                  const std::string &text, long long lo, long long hi) {
    const T marker = T(0x5a5a5a5a5a5a5a5aLL);
    T got = marker;
    int ret = parse(text.c_str(), base, &got);
    Status st;
    auto v = fuzz::ref::signed_in(fuzz::ref::kstrtoll_parse(text, base), lo, hi, &st);
    int want_ret = to_errno(st);
    long long want = v ? *v : (long long)marker;
    if (ret != want_ret || (long long)got != want)
        mismatch(fn, base, text, ret, (long long)got, want_ret, want);
}

// simple_strtoull: no sign, no range check (the value wraps), stops at the first non-digit.
void check_simple(unsigned base, const std::string &text, bool is_signed) {
    std::string_view s = fuzz::ref::c_string(text);
    bool neg = is_signed && !s.empty() && s[0] == '-';
    if (neg)
        s.remove_prefix(1);
    auto at = [&](size_t i) -> char { return i < s.size() ? s[i] : '\0'; };
    unsigned b = base;
    bool has_x = at(0) == '0' && (at(1) == 'x' || at(1) == 'X');
    if (b == 0)
        b = has_x && fuzz::ref::digit_value(at(2)) < 16 ? 16 : at(0) == '0' ? 8 : 10;
    size_t i = (b == 16 && has_x) ? 2 : 0;
    unsigned long long v = 0;
    while (fuzz::ref::digit_value(at(i)) < int(b))
        v = v * b + unsigned(fuzz::ref::digit_value(at(i++)));
    if (neg)
        v = 0ULL - v;
    size_t want_end = (neg ? 1 : 0) + i;

    char *end = nullptr;
    unsigned long long got = is_signed
                                 ? (unsigned long long)simple_strtoll(text.c_str(), &end, base)
                                 : simple_strtoull(text.c_str(), &end, base);
    long long got_end = end - text.c_str();
    if (got != v || got_end != (long long)want_end)
        mismatch(is_signed ? "simple_strtoll" : "simple_strtoull", base, text, int(got_end),
                 (long long)got, int(want_end), (long long)v);
}

// The _from_user parsers see at most what the longest text of their type needs.
std::string user_cut(const std::string &text, size_t bits) {
    return text.substr(0, std::min(text.size(), 1 + bits + 1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1)
        return 0;
    unsigned which = data[0] & 0x0f;
    unsigned base = kBases[(data[0] >> 4) & 7];
    std::string text(reinterpret_cast<const char *>(data) + 1, size - 1);

    switch (which) {
        case 0:
            check_unsigned<unsigned long long>("kstrtoull", kstrtoull, base, text, UINT64_MAX);
            break;
        case 1:
            check_signed<long long>("kstrtoll", kstrtoll, base, text, INT64_MIN, INT64_MAX);
            break;
        case 2:
            check_unsigned<unsigned int>("kstrtouint", kstrtouint, base, text, UINT32_MAX);
            break;
        case 3:
            check_signed<int>("kstrtoint", kstrtoint, base, text, INT32_MIN, INT32_MAX);
            break;
        case 4:
            check_unsigned<u16>("kstrtou16", kstrtou16, base, text, UINT16_MAX);
            break;
        case 5:
            check_signed<s16>("kstrtos16", kstrtos16, base, text, INT16_MIN, INT16_MAX);
            break;
        case 6:
            check_unsigned<u8>("kstrtou8", kstrtou8, base, text, UINT8_MAX);
            break;
        case 7:
            check_signed<s8>("kstrtos8", kstrtos8, base, text, INT8_MIN, INT8_MAX);
            break;
        case 8: {
            bool got = false, want = false;
            int ret = kstrtobool(text.c_str(), &got);
            int want_ret = to_errno(fuzz::ref::kstrtobool(text, &want));
            if (ret != want_ret || (ret == 0 && got != want))
                mismatch("kstrtobool", 0, text, ret, got, want_ret, want);
            // The user-memory variant looks at three bytes at most.
            got = want = false;
            ret = kstrtobool_from_user(text.data(), text.size(), &got);
            want_ret = to_errno(fuzz::ref::kstrtobool(text.substr(0, 3), &want));
            if (ret != want_ret || (ret == 0 && got != want))
                mismatch("kstrtobool_from_user", 0, text, ret, got, want_ret, want);
            break;
        }
        case 9:
            check_simple(base, text, false);
            break;
        case 10:
            check_simple(base, text, true);
            break;
        case 11: {
            unsigned long long got = 7;
            int ret = kstrtoull_from_user(text.data(), text.size(), base, &got);
            Parsed p = fuzz::ref::kstrtoull(user_cut(text, 64), base);
            int want_ret = to_errno(p.status);
            long long want = p.status == Status::ok ? (long long)(unsigned long long)p.value : 7;
            if (ret != want_ret || (long long)got != want)
                mismatch("kstrtoull_from_user", base, text, ret, (long long)got, want_ret, want);
            break;
        }
        case 12: {
            long long got = 7;
            int ret = kstrtoll_from_user(text.data(), text.size(), base, &got);
            Status st;
            auto v = fuzz::ref::signed_in(fuzz::ref::kstrtoll_parse(user_cut(text, 64), base),
                                          INT64_MIN, INT64_MAX, &st);
            if (ret != to_errno(st) || got != (v ? *v : 7))
                mismatch("kstrtoll_from_user", base, text, ret, got, to_errno(st), v ? *v : 7);
            break;
        }
        case 13: {
            unsigned int got = 7;
            int ret = kstrtouint_from_user(text.data(), text.size(), base, &got);
            Parsed p = fuzz::ref::kstrtoull(user_cut(text, 32), base);
            Status st = p.status;
            if (st == Status::ok && p.value > UINT32_MAX)
                st = Status::erange;
            long long want = st == Status::ok ? (long long)p.value : 7;
            if (ret != to_errno(st) || (long long)got != want)
                mismatch("kstrtouint_from_user", base, text, ret, got, to_errno(st), want);
            break;
        }
        case 14: {
            int got = 7;
            int ret = kstrtoint_from_user(text.data(), text.size(), base, &got);
            Status st;
            auto v = fuzz::ref::signed_in(fuzz::ref::kstrtoll_parse(user_cut(text, 32), base),
                                          INT32_MIN, INT32_MAX, &st);
            if (ret != to_errno(st) || got != (v ? *v : 7))
                mismatch("kstrtoint_from_user", base, text, ret, got, to_errno(st), v ? *v : 7);
            break;
        }
        default: {
            // kstrtoul/kstrtol are the 64-bit parsers on this 64-bit kernel.
            unsigned long a = 3, b = 3;
            int ra = kstrtoul(text.c_str(), base, &a);
            int rb = kstrtoull(text.c_str(), base, reinterpret_cast<unsigned long long *>(&b));
            if (ra != rb || a != b)
                mismatch("kstrtoul", base, text, ra, (long long)a, rb, (long long)b);
            break;
        }
    }
    return 0;
}
