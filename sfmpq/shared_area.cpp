#include "sfmpq/shared_area.h"

#include <cerrno>
#include <new>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/shm.h>
#include <unistd.h>

namespace sfmpq {

namespace {

void Detach(Segment* segment) {
    if (segment->base) {
        shmdt(segment->base);
    }
    *segment = Segment();
}

// A new private segment, attached and already marked for removal.
int Create(Segment* segment, uint64_t size) {
    int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (id < 0) {
        return errno;
    }
    void* base = shmat(id, nullptr, 0);
    int error = base == reinterpret_cast<void*>(-1) ? errno : 0;
    shmctl(id, IPC_RMID, nullptr);
    if (error) {
        return error;
    }
    Detach(segment);
    segment->id = id;
    segment->base = static_cast<unsigned char*>(base);
    segment->size = size;
    return 0;
}

} // namespace

int CreateArea(SharedArea* area) {
    int error = Create(&area->channel, engine::kRingOffset + engine::kRingSize);
    if (!error) {
        error = Create(&area->staging, engine::kInitialStaging);
    }
    if (error) {
        ReleaseArea(area);
        return error;
    }
    new (area->control()) engine::Control();
    return 0;
}

int GrowStaging(SharedArea* area, uint64_t bytes) {
    if (bytes <= area->staging.size) {
        return 0;
    }
    // Grown in large steps, so that a run of larger requests replaces it rarely.
    uint64_t size = area->staging.size ? area->staging.size : engine::kInitialStaging;
    while (size < bytes) {
        size *= 2;
    }
    return Create(&area->staging, size);
}

void ShrinkStaging(SharedArea* area) {
    if (area->staging.size > engine::kInitialStaging) {
        Create(&area->staging, engine::kInitialStaging);
    }
}

namespace {

// The part of [offset, offset + bytes) within the staging segment, widened
// (`outward`) or narrowed to whole pages. False when nothing is left.
bool StagingPages(const SharedArea* area, uint64_t offset, uint64_t bytes, bool outward,
                  unsigned char** start, size_t* length) {
    const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    uint64_t size = area->staging.size;
    uint64_t end = offset < size && bytes < size - offset ? offset + bytes : size;
    uint64_t first = outward ? offset / page * page : (offset + page - 1) / page * page;
    uint64_t last = outward ? (end + page - 1) / page * page : end / page * page;
    if (last > size) {
        last = size;
    }
    if (!area->staging.base || first >= last) {
        return false;
    }
    *start = area->staging.base + first;
    *length = static_cast<size_t>(last - first);
    return true;
}

} // namespace

void PrefaultStaging(const SharedArea* area, uint64_t offset, uint64_t bytes) {
    unsigned char* start = nullptr;
    size_t length = 0;
    if (StagingPages(area, offset, bytes, true, &start, &length)) {
        madvise(start, length, MADV_POPULATE_READ);
    }
}

void ReleaseStaging(const SharedArea* area, uint64_t offset, uint64_t bytes) {
    unsigned char* start = nullptr;
    size_t length = 0;
    if (StagingPages(area, offset, bytes, false, &start, &length)) {
        madvise(start, length, MADV_DONTNEED);
    }
}

int AttachSegment(Segment* segment, int id, uint64_t size) {
    void* base = shmat(id, nullptr, 0);
    if (base == reinterpret_cast<void*>(-1)) {
        return errno;
    }
    Detach(segment);
    segment->id = id;
    segment->base = static_cast<unsigned char*>(base);
    segment->size = size;
    return 0;
}

void ReleaseArea(SharedArea* area) {
    Detach(&area->channel);
    Detach(&area->staging);
}

void ReleaseRing(const SharedArea* area) {
    if (area->channel.base) {
        madvise(area->ring(), engine::kRingSize, MADV_DONTNEED);
    }
}

void SignalEvent(int fd) {
    uint64_t one = 1;
    ssize_t ignored = write(fd, &one, sizeof one);
    (void)ignored;
}

void DrainEvent(int fd) {
    uint64_t count = 0;
    ssize_t ignored = read(fd, &count, sizeof count);
    (void)ignored;
}

} // namespace sfmpq
