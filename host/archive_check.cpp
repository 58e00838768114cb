#include "host/archive_check.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "host/disk_path.h"
#include "host/host_os.h"
#include "sfmpq/mpq_header_layout.h"

namespace host {

namespace {

// The search reads the file in blocks of a multiple of 512 bytes, so that a
// header found in a full block always lies wholly inside it.
constexpr size_t kSearchBlock = 64 * 1024;

using namespace mpq_header;

uint32_t Le32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint16_t Le16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

// Fills in what the header at `header` (with `available` bytes of it read)
// says.
void ReadHeaderFields(const unsigned char* header, size_t available, MpqHeaderSearch& search) {
    if (available < kFormat1HeaderSize) {
        search.headerCut = true;
        return;
    }
    search.format = Le16(header + kFormatField);
    search.hashTableSize = Le32(header + kHashTableSizeField);
    if (search.format != 0) {
        return; // later formats place their tables with more fields
    }
    uint64_t hashEnd = search.offset + Le32(header + kHashTablePosField) +
                       kTableEntrySize * Le32(header + kHashTableSizeField);
    uint64_t blockEnd = search.offset + Le32(header + kBlockTablePosField) +
                        kTableEntrySize * Le32(header + kBlockTableSizeField);
    search.tablesPastEnd = hashEnd > search.fileSize || blockEnd > search.fileSize;
}

} // namespace

MpqHeaderSearch FindMpqHeader(const std::string& path) {
    MpqHeaderSearch search;
    StatPath(path, &search.fileSize);
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        search.error = std::strerror(errno);
        return search;
    }
    std::vector<unsigned char> block(kSearchBlock);
    uint64_t position = 0;
    search.outcome = MpqHeaderSearch::NoHeader;
    for (;;) {
        size_t got = std::fread(block.data(), 1, block.size(), file);
        for (size_t at = 0; at + kSignatureSize <= got; at += kHeaderStep) {
            if (std::memcmp(&block[at], kArchiveSignature, kSignatureSize) != 0) {
                continue;
            }
            // A shorter header is a decoy the library passes over.
            if (at + kHeaderSizeField + 4 <= got &&
                Le32(&block[at + kHeaderSizeField]) < kFormat1HeaderSize) {
                continue;
            }
            search.outcome = MpqHeaderSearch::Found;
            search.offset = position + at;
            if (search.fileSize < search.offset + got - at) {
                search.fileSize = search.offset + got - at;
            }
            ReadHeaderFields(&block[at], got - at, search);
            std::fclose(file);
            return search;
        }
        position += got;
        if (got < block.size()) {
            break;
        }
    }
    if (std::ferror(file)) {
        search.outcome = MpqHeaderSearch::Unreadable;
        search.error = std::strerror(errno);
    }
    std::fclose(file);
    return search;
}

std::string FolderShown(const std::string& path) {
    std::string folder = FolderOf(path);
    return folder.empty() ? "." : folder;
}

std::string ArchiveReadProblem(const std::string& archive) {
    uint64_t size = 0;
    switch (StatPath(archive, &size)) {
    case PathKind::Missing: {
        // The name may exist in a folder this process may not look into.
        std::FILE* file = std::fopen(archive.c_str(), "rb");
        int reason = errno;
        if (file) {
            std::fclose(file);
            return "";
        }
        if (reason == EACCES) {
            return "cannot look into its folder " + FolderShown(archive) + ": " +
                   std::strerror(reason);
        }
        return "no such file";
    }
    case PathKind::Folder:
        return "a folder, not an MPQ archive";
    case PathKind::Other:
        return "not a regular file, so not an MPQ archive";
    case PathKind::File:
        break;
    }
    MpqHeaderSearch search = FindMpqHeader(archive);
    switch (search.outcome) {
    case MpqHeaderSearch::Unreadable:
        return "cannot read it: " + search.error;
    case MpqHeaderSearch::NoHeader:
        return size == 0 ? "an empty file, not an MPQ archive"
                         : "not an MPQ archive (no MPQ header in it)";
    case MpqHeaderSearch::Found:
        break;
    }
    return "";
}

std::string ArchiveUpdateProblem(const std::string& archive, bool create) {
    if (create && StatPath(archive) == PathKind::Missing && !IsLink(archive)) {
        std::string folder = FolderShown(archive);
        if (StatPath(folder) != PathKind::Folder) {
            return "no such folder " + folder;
        }
        std::string denied = WriteDenied(folder);
        return denied.empty() ? "" : "cannot create it in " + folder + ": " + denied;
    }
    std::string problem = ArchiveReadProblem(archive);
    if (!problem.empty()) {
        return problem;
    }
    // Through a link the linked file is updated, in its own folder.
    std::string target = IsLink(archive) ? ResolvedPath(archive) : archive;
    std::string denied = WriteDenied(target);
    if (!denied.empty()) {
        return "cannot change it: " + denied;
    }
    std::string folder = FolderShown(target);
    denied = WriteDenied(folder);
    if (!denied.empty()) {
        return "cannot write in its folder " + folder + ": " + denied +
               " (an update writes the new archive beside the old one)";
    }
    return "";
}

std::string DamagedArchiveReason(const std::string& archive) {
    MpqHeaderSearch search = FindMpqHeader(archive);
    if (search.outcome != MpqHeaderSearch::Found) {
        return "";
    }
    if (search.headerCut) {
        return "an MPQ archive cut short: the file ends inside its header";
    }
    if (search.tablesPastEnd) {
        return "an MPQ archive cut short or damaged: its tables end past the end of the file";
    }
    return "";
}

} // namespace host
