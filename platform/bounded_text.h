// Small text helpers every layer uses: a bounded copy into a fixed buffer,
// and ASCII-only case folding (names compare with only A-Z folded onto a-z;
// every other byte must match unchanged).
#pragma once

#include <cstddef>
#include <cstring>

// Copies at most size - 1 characters of `text` into `out` (of `size` bytes,
// size > 0) and terminates it. Never reads `text` past size - 1 characters,
// so an unterminated source is safe. Returns the length copied.
inline size_t CopyBounded(char* out, size_t size, const char* text) {
    size_t length = strnlen(text, size - 1);
    std::memcpy(out, text, length);
    out[length] = '\0';
    return length;
}

// `c` with A-Z folded onto a-z.
inline char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// True when the `length` bytes at `a` and `b` are equal, ASCII letters
// compared without regard to case.
inline bool EqualNoCase(const char* a, const char* b, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

// True when the zero-terminated names `a` and `b` are the same, ASCII
// letters compared without regard to case.
inline bool SameNameNoCase(const char* a, const char* b) {
    size_t length = std::strlen(a);
    return length == std::strlen(b) && EqualNoCase(a, b, length);
}
