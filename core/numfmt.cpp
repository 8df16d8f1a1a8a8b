#include "numfmt.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

void append_lf(std::string &out, double v) {
    if (std::isnan(v)) {
        out += std::signbit(v) ? "-NAN" : "+NAN";
        return;
    }
    if (std::isinf(v)) {
        out += v < 0 ? "-INF" : "+INF";
        return;
    }
    char buf[400];  // the largest double has 309 digits before the point
    int n = std::snprintf(buf, sizeof buf, "%f", v);
    out.append(buf, size_t(n));
}

std::string fixed_decimals(double v, int decimals) {
    char buf[400];  // the largest double has 309 digits before the point
    const int n = std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return std::string(buf, size_t(std::min(n, int(sizeof buf) - 1)));
}

std::string exact_number(double v) {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, res.ptr);
}

std::string kfmt(const char *fmt, ...) {
    std::string out;
    va_list ap;
    va_start(ap, fmt);
    for (const char *p = fmt; *p != '\0'; p++) {
        if (*p != '%') {
            out += *p;
            continue;
        }
        char buf[32];
        if (std::strncmp(p, "%d", 2) == 0) {
            int n = std::snprintf(buf, sizeof buf, "%d", va_arg(ap, int));
            out.append(buf, size_t(n));
            p += 1;
        } else if (std::strncmp(p, "%lld", 4) == 0) {
            int n = std::snprintf(buf, sizeof buf, "%lld", va_arg(ap, long long));
            out.append(buf, size_t(n));
            p += 3;
        } else if (std::strncmp(p, "%zu", 3) == 0) {
            int n = std::snprintf(buf, sizeof buf, "%zu", va_arg(ap, size_t));
            out.append(buf, size_t(n));
            p += 2;
        } else if (std::strncmp(p, "%lf", 3) == 0) {
            append_lf(out, va_arg(ap, double));
            p += 2;
        } else if (std::strncmp(p, "%s", 2) == 0) {
            out += va_arg(ap, const char *);
            p += 1;
        } else if (p[1] == '%') {
            out += '%';
            p += 1;
        } else {
            out += *p;
        }
    }
    va_end(ap);
    return out;
}

bool scan_int(const char *s, size_t len, size_t *pos, int *value, bool *out_of_range) {
    size_t p = *pos;
    bool negative = false;
    if (p < len && (s[p] == '+' || s[p] == '-')) {
        negative = s[p] == '-';
        p++;
    }
    if (p >= len || s[p] < '0' || s[p] > '9') return false;
    long long magnitude = 0;
    bool big = false;
    for (; p < len && s[p] >= '0' && s[p] <= '9'; p++) {
        if (!big) {
            magnitude = magnitude * 10 + (s[p] - '0');
            if (magnitude > 2147483648LL) big = true;
        }
    }
    long long v = negative ? -magnitude : magnitude;
    if (big || v > 2147483647LL || v < -2147483648LL) {
        big = true;
        v = negative ? -2147483648LL : 2147483647LL;
    }
    *pos = p;
    *value = int(v);
    *out_of_range = big;
    return true;
}
