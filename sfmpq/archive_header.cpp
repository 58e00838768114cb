#include "sfmpq/archive_header.h"

#include "platform/system_calls.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "sfmpq/little_endian.h"
#include "sfmpq/mpq_header_layout.h"

namespace sfmpq {

namespace {

using namespace mpq_header;

bool TableFits(uint32_t entries, uint64_t available) {
    return entries <= kMaxUncheckedTableEntries || uint64_t(entries) * kTableEntrySize <= available;
}

// The file is read in pieces from 64 KiB, where nearly every archive has its
// header, doubling up to 1 MiB.
constexpr size_t kFirstWindow = 64u << 10;
constexpr size_t kWindow = 1u << 20;

// Whether the format-1 header at `h` (`available` bytes from its start to the
// end of the file) is one the engine can be given.
bool Believable(const unsigned char* h, uint64_t available) {
    return Le16(h + kSectorShiftField) <= kMaxSectorShift &&
           TableFits(Le32(h + kHashTableSizeField), available) &&
           TableFits(Le32(h + kBlockTableSizeField), available);
}

} // namespace

int CheckArchiveHeader(const char* path, ArchiveHeaderInfo* info) {
    ArchiveHeaderInfo local;
    if (!info) {
        info = &local;
    }
    *info = ArchiveHeaderInfo();
    int fd = SystemCalls.open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK, 0);
    if (fd < 0) {
        return errno;
    }
    struct stat status;
    if (SystemCalls.fstat(fd, &status) != 0) {
        int error = errno;
        SystemCalls.close(fd);
        return error;
    }
    const uint64_t fileSize = static_cast<uint64_t>(status.st_size);
    // Opened as format 1, the engine ignores user-data headers and takes the
    // first signature with a header size of at least 32 bytes; a shorter
    // one is a decoy it passes over, so the search goes on behind it.
    std::vector<unsigned char> window(kFirstWindow);
    int result = 0;
    bool done = false;
    for (uint64_t base = 0; base < fileSize && !done; base += window.size()) {
        if (base > 0 && window.size() < kWindow) {
            window.resize(window.size() * 2);
        }
        ssize_t got = SystemCalls.pread(fd, window.data(), window.size(), static_cast<off_t>(base));
        if (got <= 0) {
            result = got < 0 ? errno : 0;
            break;
        }
        for (size_t at = 0; at < static_cast<size_t>(got) && !done; at += kHeaderStep) {
            const unsigned char* h = window.data() + at;
            const uint64_t offset = base + at;
            const uint64_t available = fileSize - offset;
            // At the file's end fewer than 8 bytes may be left: the missing
            // ones count as zeros.
            unsigned char head[kHeaderSizeField + 4] = {}; // the signature and the size
            size_t have = static_cast<size_t>(got) - at;
            if (have < sizeof head) {
                std::memcpy(head, h, have);
                h = head;
            }
            if (std::memcmp(h, kMpkSignature, kSignatureSize) == 0) {
                done = true;
                result = ENOEXEC; // only MPQ archives are served
                continue;
            }
            if (std::memcmp(h, kUserDataSignature, kSignatureSize) == 0) {
                info->userDataBefore = true;
                continue;
            }
            if (std::memcmp(h, kArchiveSignature, kSignatureSize) != 0 ||
                Le32(h + kHeaderSizeField) < kFormat1HeaderSize) {
                continue;
            }
            done = true;
            info->found = true;
            info->offset = offset;
            unsigned char header[kFormat1HeaderSize];
            ssize_t read =
                available < kFormat1HeaderSize
                    ? 0
                    : SystemCalls.pread(fd, header, kFormat1HeaderSize, static_cast<off_t>(offset));
            if (read < 0) {
                result = errno; // the file, not the archive, is at fault
                continue;
            }
            if (read != static_cast<ssize_t>(kFormat1HeaderSize)) {
                result = ENOEXEC; // a header cut short
                continue;
            }
            info->formatCode = Le16(header + kFormatField);
            if (!Believable(header, available)) {
                result = ENOEXEC;
            }
        }
    }
    SystemCalls.close(fd);
    return result;
}

} // namespace sfmpq
