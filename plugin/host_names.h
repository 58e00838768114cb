// Names crossing the host boundary. Archive member names always use the
// backslash; the host's names use kHostSeparator ('/' for Linux file
// managers, the backslash on Windows, where nothing changes).
#pragma once

#include <cstddef>
#include <cstring>

#include "platform/bounded_text.h"
#include "platform/platform.h"

// Copies `name` into `out` (of `size` bytes, size > 0), cut to size - 1
// characters and terminated, turning every backslash into the host's
// separator.
inline void CopyMemberNameForHost(char* out, size_t size, const char* name) {
    size_t length = CopyBounded(out, size, name);
    for (size_t i = 0; i < length; ++i) {
        if (out[i] == '\\') {
            out[i] = kHostSeparator;
        }
    }
}

// Appends the host's name `name` to the member name being built in `out`
// (of `size` bytes) at `*length`, turning the host's separator into the
// backslash. Returns false, leaving `out` terminated at its old length,
// when the result would not fit.
inline bool AppendHostNameAsMember(char* out, size_t size, size_t* length, const char* name) {
    size_t add = std::strlen(name);
    if (add >= size - *length) {
        out[*length] = '\0';
        return false;
    }
    for (size_t i = 0; i < add; ++i) {
        out[*length + i] = (name[i] == kHostSeparator) ? '\\' : name[i];
    }
    *length += add;
    out[*length] = '\0';
    return true;
}
