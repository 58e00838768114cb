#include "sfmpq/archive_header.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace sfmpq {

namespace {

uint32_t Le32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool TableFits(uint32_t entries, uint64_t available) {
    return entries <= kMaxUncheckedTableEntries || uint64_t(entries) * 16 <= available;
}

} // namespace

int CheckArchiveHeader(const char* path) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    struct stat info;
    if (fstat(fd, &info) != 0) {
        int error = errno;
        close(fd);
        return error;
    }
    const uint64_t fileSize = static_cast<uint64_t>(info.st_size);
    // Like the engine, look for the header at every 512-byte boundary; a
    // user-data header ("MPQ\x1B") points at the archive header.
    std::vector<unsigned char> chunk(1 << 20);
    int result = 0;
    bool found = false;
    for (uint64_t base = 0; base < fileSize && !found; base += chunk.size()) {
        ssize_t got = pread(fd, chunk.data(), chunk.size(), static_cast<off_t>(base));
        if (got <= 0) {
            break;
        }
        for (size_t at = 0; at + 32 <= static_cast<size_t>(got); at += 512) {
            const unsigned char* h = chunk.data() + at;
            uint64_t offset = base + at;
            if (std::memcmp(h, "MPQ\x1B", 4) == 0) {
                unsigned char header[32];
                uint64_t target = offset + Le32(h + 8);
                if (target <= offset || pread(fd, header, 32, static_cast<off_t>(target)) != 32 ||
                    std::memcmp(header, "MPQ\x1A", 4) != 0) {
                    continue;
                }
                h = header;
                offset = target;
                found = true;
                uint64_t available = fileSize - offset;
                if (!TableFits(Le32(h + 24), available) || !TableFits(Le32(h + 28), available)) {
                    result = ENOEXEC;
                }
                break;
            }
            if (std::memcmp(h, "MPQ\x1A", 4) == 0) {
                found = true;
                uint64_t available = fileSize - offset;
                if (!TableFits(Le32(h + 24), available) || !TableFits(Le32(h + 28), available)) {
                    result = ENOEXEC;
                }
                break;
            }
        }
    }
    close(fd);
    return result;
}

} // namespace sfmpq
