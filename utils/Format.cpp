// Bounded formatting: the one place that formats into a fixed buffer and
// refuses a text that would not fit.
#include "utils.h"

#include <cstdio>

int VFormatBounded(char *buf, size_t size, const char *fmt, va_list ap) {
    if (buf == nullptr || size == 0 || fmt == nullptr) return -1;
    int n = vsnprintf(buf, size, fmt, ap);
    if (n < 0) {
        buf[0] = '\0'; // what a failed conversion left is no text of ours
        return -1;
    }
    return static_cast<size_t>(n) < size ? n : -1;
}

int FormatBounded(char *buf, size_t size, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int n = VFormatBounded(buf, size, fmt, ap);
    va_end(ap);
    return n;
}
