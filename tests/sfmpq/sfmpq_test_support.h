// Helpers for the tests of SFMpq.dll: the library loaded as the plug-in loads
// it, temporary folders, files, and archives written directly with StormLib.
#pragma once

#include <atomic>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "archive_library/archive_library.h"

// The library's entry points, bound by name from the built SFMpq.dll.
struct SfmpqLibrary {
    void* module;
    SFileSetLocaleFn SFileSetLocale;
    SFileOpenArchiveFn SFileOpenArchive;
    SFileGetFileInfoFn SFileGetFileInfo;
    SFileListFilesFn SFileListFiles;
    SFileOpenFileExFn SFileOpenFileEx;
    SFileGetFileSizeFn SFileGetFileSize;
    SFileReadFileFn SFileReadFile;
    SFileCloseFileFn SFileCloseFile;
    SFileCloseArchiveFn SFileCloseArchive;
    MpqOpenArchiveForUpdateFn MpqOpenArchiveForUpdate;
    MpqAddFileToArchiveExFn MpqAddFileToArchiveEx;
    MpqAddWaveToArchiveFn MpqAddWaveToArchive;
    MpqDeleteFileFn MpqDeleteFile;
    MpqSetFileLocaleFn MpqSetFileLocale;
    MpqCloseUpdatedArchiveFn MpqCloseUpdatedArchive;
    SFMpqDestroyFn SFMpqDestroy;
};

// The archive format's cipher of its hash and block tables, to rewrite the
// tables of an archive StormLib wrote. `key` is the table's key (the hash
// table's 0xC3AF3770, the block table's 0xEC83B3A3).
void DecryptTable(uint32_t* words, size_t count, uint32_t key);
void EncryptTable(uint32_t* words, size_t count, uint32_t key);

// The loaded library (loaded on first use; a test fails if it cannot be).
const SfmpqLibrary& Lib();

// A fresh folder, removed with its content at the end.
class Folder {
  public:
    Folder();
    ~Folder();
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }
    // Names of the files in the folder, sorted.
    std::vector<std::string> Files() const;

  private:
    std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
bool Exists(const std::string& path);
// Deterministic content: `size` bytes, compressible or noise.
std::string Content(size_t size, uint32_t seed, bool compressible);
// The first byte of each sector of member `name` (compressed in sectors,
// not encrypted) in the archive at `path`: the compressions of its data, or
// 0 for a sector stored as it is.
std::vector<uint8_t> SectorCompressions(const std::string& path, const std::string& name);

// One member for an archive written directly with StormLib.
struct StormMember {
    std::string name;
    std::string content;
    uint32_t locale = 0;
    uint32_t flags = 0x200;      // MPQ_FILE_COMPRESS
    uint32_t compression = 0x02; // zlib
};

// Writes an archive with StormLib itself; with `listFile` false it carries no
// "(listfile)", so its names are unknown to a reader. `formatCode` is the
// header's format field (0 for format 1, 3 for format 4); `attributes`, when
// not 0, the checksums its "(attributes)" keeps (MPQ_ATTRIBUTE_*).
void WriteWithStorm(const std::string& path, const std::vector<StormMember>& members,
                    bool listFile = true, uint32_t maxFiles = 64, uint32_t formatCode = 0,
                    uint32_t attributes = 0);

// Reads a member through StormLib directly (locale `locale`).
std::string ReadWithStorm(const std::string& path, const std::string& name, uint32_t locale = 0);

// Every member that the archive's "(listfile)" names, but the archive's own
// ("(listfile)", "(attributes)", ...), as (name, content), read through
// StormLib directly. Fails the test when the archive or a member cannot be
// read.
std::map<std::string, std::string> MembersWithStorm(const std::string& path);

// Through the library under test:
// the existing records of a listing (list text with flag 1, paths with 0).
std::vector<ListEntry> List(const std::string& path, const char* list, uint32_t flag);
// A whole member read in 1 MiB chunks; fails the test when it cannot be read.
std::string Extract(MpqHandle archive, const std::string& name);
std::string ExtractFrom(const std::string& path, const std::string& name, uint32_t locale = 0);
// Adds the given (name, content) files to `path` (opened with 0x21), each
// with `flags` and `compression`; true when all adds and the close succeed.
bool AddFiles(const std::string& path,
              const std::vector<std::pair<std::string, std::string>>& files,
              uint32_t flags = 0x10201, uint32_t compression = 2);

// Run once just before the library's next flock call, then disarmed.
extern void (*BeforeNextLock)();

// The requests the library has sent its engines, by kind (engine::Op).
constexpr uint32_t kRequestKinds = 32;
extern std::atomic<uint32_t> RequestsSent[kRequestKinds];
// The replies of the library's engines that said a request failed.
extern std::atomic<uint32_t> RepliesFailed;
