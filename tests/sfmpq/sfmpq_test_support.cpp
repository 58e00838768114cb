#include "sfmpq_test_support.h"

#include <StormLib.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

template <typename Function> void Bind(void* module, Function* slot, const char* name) {
    *slot = reinterpret_cast<Function>(dlsym(module, name));
}

SfmpqLibrary Load() {
    SfmpqLibrary lib = {};
    lib.module = dlopen(SFMPQ_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    if (!lib.module) {
        std::fprintf(stderr, "cannot load %s: %s\n", SFMPQ_LIBRARY_PATH, dlerror());
        std::abort();
    }
    Bind(lib.module, &lib.SFileSetLocale, "SFileSetLocale");
    Bind(lib.module, &lib.SFileOpenArchive, "SFileOpenArchive");
    Bind(lib.module, &lib.SFileGetFileInfo, "SFileGetFileInfo");
    Bind(lib.module, &lib.SFileListFiles, "SFileListFiles");
    Bind(lib.module, &lib.SFileOpenFileEx, "SFileOpenFileEx");
    Bind(lib.module, &lib.SFileGetFileSize, "SFileGetFileSize");
    Bind(lib.module, &lib.SFileReadFile, "SFileReadFile");
    Bind(lib.module, &lib.SFileCloseFile, "SFileCloseFile");
    Bind(lib.module, &lib.SFileCloseArchive, "SFileCloseArchive");
    Bind(lib.module, &lib.MpqOpenArchiveForUpdate, "MpqOpenArchiveForUpdate");
    Bind(lib.module, &lib.MpqAddFileToArchiveEx, "MpqAddFileToArchiveEx");
    Bind(lib.module, &lib.MpqAddWaveToArchive, "MpqAddWaveToArchive");
    Bind(lib.module, &lib.MpqDeleteFile, "MpqDeleteFile");
    Bind(lib.module, &lib.MpqSetFileLocale, "MpqSetFileLocale");
    Bind(lib.module, &lib.MpqCloseUpdatedArchive, "MpqCloseUpdatedArchive");
    Bind(lib.module, &lib.SFMpqDestroy, "SFMpqDestroy");
    return lib;
}

} // namespace

const SfmpqLibrary& Lib() {
    static SfmpqLibrary lib = Load();
    return lib;
}

Folder::Folder() {
    char pattern[] = "/tmp/sfmpq-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    path_ = made ? made : "/tmp";
}

Folder::~Folder() {
    std::string command = "rm -rf '" + path_ + "'";
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "cannot remove %s\n", path_.c_str());
    }
}

std::vector<std::string> Folder::Files() const {
    std::vector<std::string> names;
    if (DIR* dir = opendir(path_.c_str())) {
        while (struct dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

bool Exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

std::string Content(size_t size, uint32_t seed, bool compressible) {
    std::string text(size, '\0');
    uint32_t state = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        text[i] = compressible ? static_cast<char>("abcdefgh \n"[(state >> 24) % 10])
                               : static_cast<char>(state >> 24);
    }
    return text;
}

std::vector<uint8_t> SectorCompressions(const std::string& path, const std::string& name) {
    HANDLE archive = nullptr;
    HANDLE file = nullptr;
    ULONGLONG offset = 0;
    DWORD size = 0;
    DWORD sectorSize = 0;
    if (SFileOpenArchive(path.c_str(), 0, MPQ_OPEN_READ_ONLY, &archive)) {
        SFileGetFileInfo(archive, SFileMpqSectorSize, &sectorSize, sizeof sectorSize, nullptr);
        if (SFileOpenFileEx(archive, name.c_str(), 0, &file)) {
            SFileGetFileInfo(file, SFileInfoByteOffset, &offset, sizeof offset, nullptr);
            size = SFileGetFileSize(file, nullptr);
            SFileCloseFile(file);
        }
        SFileCloseArchive(archive);
    }
    EXPECT_NE(file, nullptr) << "StormLib cannot open member " << name;
    std::vector<uint8_t> kinds;
    const std::string data = ReadFile(path);
    const uint32_t sectors = sectorSize ? (size + sectorSize - 1) / sectorSize : 0;
    for (uint32_t i = 0; i < sectors && offset + 4 * (i + 2) <= data.size(); ++i) {
        uint32_t begin = 0;
        uint32_t end = 0;
        std::memcpy(&begin, &data[offset + 4 * i], 4);
        std::memcpy(&end, &data[offset + 4 * (i + 1)], 4);
        const uint32_t plain = std::min(sectorSize, size - i * sectorSize);
        kinds.push_back(end - begin < plain ? static_cast<uint8_t>(data[offset + begin]) : 0);
    }
    return kinds;
}

void WriteWithStorm(const std::string& path, const std::vector<StormMember>& members, bool listFile,
                    uint32_t maxFiles, uint32_t formatCode, uint32_t attributes) {
    unlink(path.c_str());
    SFILE_CREATE_MPQ create = {};
    create.cbSize = sizeof create;
    create.dwMpqVersion = formatCode;
    create.dwFileFlags1 = listFile ? MPQ_FILE_DEFAULT_INTERNAL : 0;
    create.dwFileFlags2 = attributes ? MPQ_FILE_DEFAULT_INTERNAL : 0;
    create.dwAttrFlags = attributes;
    create.dwMaxFileCount = maxFiles;
    create.dwSectorSize = 0x1000;
    HANDLE archive = nullptr;
    ASSERT_TRUE(SFileCreateArchive2(path.c_str(), &create, &archive)) << path;
    for (const StormMember& m : members) {
        SFileSetLocale(m.locale);
        HANDLE file = nullptr;
        ASSERT_TRUE(SFileCreateFile(archive, m.name.c_str(), 0,
                                    static_cast<DWORD>(m.content.size()), m.locale, m.flags, &file))
            << m.name;
        if (!m.content.empty()) {
            ASSERT_TRUE(SFileWriteFile(file, m.content.data(), static_cast<DWORD>(m.content.size()),
                                       m.compression));
        }
        ASSERT_TRUE(SFileFinishFile(file));
    }
    SFileSetLocale(0);
    ASSERT_TRUE(SFileCloseArchive(archive));
}

std::string ReadWithStorm(const std::string& path, const std::string& name, uint32_t locale) {
    HANDLE archive = nullptr;
    if (!SFileOpenArchive(path.c_str(), 0, MPQ_OPEN_READ_ONLY, &archive)) {
        ADD_FAILURE() << "StormLib cannot open " << path;
        return "";
    }
    SFileSetLocale(locale);
    HANDLE file = nullptr;
    std::string content;
    if (SFileOpenFileEx(archive, name.c_str(), 0, &file)) {
        content.resize(SFileGetFileSize(file, nullptr));
        DWORD got = 0;
        SFileReadFile(file, &content[0], static_cast<DWORD>(content.size()), &got, nullptr);
        content.resize(got);
        SFileCloseFile(file);
    } else {
        ADD_FAILURE() << "StormLib cannot open member " << name;
    }
    SFileSetLocale(0);
    SFileCloseArchive(archive);
    return content;
}

std::map<std::string, std::string> MembersWithStorm(const std::string& path) {
    std::map<std::string, std::string> members;
    HANDLE archive = nullptr;
    if (!SFileOpenArchive(path.c_str(), 0, MPQ_OPEN_READ_ONLY, &archive)) {
        ADD_FAILURE() << "StormLib cannot open " << path;
        return members;
    }
    SFILE_FIND_DATA found;
    HANDLE find = SFileFindFirstFile(archive, "*", &found, nullptr);
    for (bool more = find != nullptr; more; more = SFileFindNextFile(find, &found)) {
        std::string name = found.cFileName;
        if (name.empty() || name[0] == '(') {
            continue;
        }
        HANDLE file = nullptr;
        if (!SFileOpenFileEx(archive, name.c_str(), 0, &file)) {
            ADD_FAILURE() << "StormLib cannot open member " << name;
            continue;
        }
        std::string content(SFileGetFileSize(file, nullptr), '\0');
        DWORD got = 0;
        if (!content.empty() &&
            (!SFileReadFile(file, &content[0], static_cast<DWORD>(content.size()), &got, nullptr) ||
             got != content.size())) {
            ADD_FAILURE() << "StormLib cannot read member " << name;
        }
        SFileCloseFile(file);
        members[name] = content;
    }
    if (find) {
        SFileFindClose(find);
    }
    SFileCloseArchive(archive);
    return members;
}

namespace {

void RunTableCipher(uint32_t* words, size_t count, uint32_t key, bool encrypt) {
    static const std::vector<uint32_t> table = [] {
        std::vector<uint32_t> values(0x500);
        uint32_t seed = 0x00100001;
        for (uint32_t i = 0; i < 0x100; ++i) {
            for (uint32_t j = i; j < 0x500; j += 0x100) {
                seed = (seed * 125 + 3) % 0x2AAAAB;
                uint32_t high = (seed & 0xFFFF) << 16;
                seed = (seed * 125 + 3) % 0x2AAAAB;
                values[j] = high | (seed & 0xFFFF);
            }
        }
        return values;
    }();
    uint32_t seed = 0xEEEEEEEE;
    for (size_t i = 0; i < count; ++i) {
        seed += table[0x400 + (key & 0xFF)];
        uint32_t plain = encrypt ? words[i] : words[i] ^ (key + seed);
        words[i] ^= key + seed;
        key = ((~key << 0x15) + 0x11111111) | (key >> 0x0B);
        seed = plain + seed + (seed << 5) + 3;
    }
}

} // namespace

void DecryptTable(uint32_t* words, size_t count, uint32_t key) {
    RunTableCipher(words, count, key, false);
}

void EncryptTable(uint32_t* words, size_t count, uint32_t key) {
    RunTableCipher(words, count, key, true);
}

std::vector<ListEntry> List(const std::string& path, const char* list, uint32_t flag) {
    std::vector<ListEntry> existing;
    MpqHandle archive = nullptr;
    if (!Lib().SFileOpenArchive(path.c_str(), 0, 0, &archive)) {
        ADD_FAILURE() << "cannot open " << path;
        return existing;
    }
    uint32_t count = Lib().SFileGetFileInfo(archive, kInfoHashTableSize);
    std::vector<ListEntry> records(count);
    std::memset(records.data(), 0xAB, records.size() * sizeof(ListEntry));
    EXPECT_TRUE(Lib().SFileListFiles(archive, list, records.data(), flag));
    for (const ListEntry& record : records) {
        EXPECT_TRUE(std::memchr(record.name, 0, sizeof record.name)) << "unterminated name";
        if (record.exists) {
            existing.push_back(record);
        }
    }
    Lib().SFileCloseArchive(archive);
    return existing;
}

std::string Extract(MpqHandle archive, const std::string& name) {
    MpqHandle member = nullptr;
    if (!Lib().SFileOpenFileEx(archive, name.c_str(), 0, &member)) {
        ADD_FAILURE() << "cannot open member " << name;
        return "";
    }
    uint32_t size = Lib().SFileGetFileSize(member, nullptr);
    EXPECT_NE(size, 0xFFFFFFFFu);
    std::string content;
    std::vector<char> chunk(1 << 20);
    while (content.size() < size) {
        uint32_t got = 0;
        if (!Lib().SFileReadFile(member, chunk.data(), static_cast<uint32_t>(chunk.size()), &got,
                                 nullptr) ||
            got == 0) {
            ADD_FAILURE() << "read of " << name << " failed at " << content.size() << ": "
                          << std::strerror(errno);
            break;
        }
        content.append(chunk.data(), got);
    }
    Lib().SFileCloseFile(member);
    return content;
}

std::string ExtractFrom(const std::string& path, const std::string& name, uint32_t locale) {
    MpqHandle archive = nullptr;
    if (!Lib().SFileOpenArchive(path.c_str(), 0, 0, &archive)) {
        ADD_FAILURE() << "cannot open " << path;
        return "";
    }
    Lib().SFileSetLocale(locale);
    std::string content = Extract(archive, name);
    Lib().SFileSetLocale(0);
    Lib().SFileCloseArchive(archive);
    return content;
}

bool AddFiles(const std::string& path,
              const std::vector<std::pair<std::string, std::string>>& files, uint32_t flags,
              uint32_t compression) {
    MpqHandle update = Lib().MpqOpenArchiveForUpdate(path.c_str(), 0x21, 64);
    if (!update || update == MPQ_INVALID_UPDATE_HANDLE) {
        return false;
    }
    bool ok = true;
    std::string source = path + ".source";
    for (const auto& file : files) {
        WriteFile(source, file.second);
        ok = Lib().MpqAddFileToArchiveEx(update, source.c_str(), file.first.c_str(), flags,
                                         compression, 9) &&
             ok;
    }
    unlink(source.c_str());
    return Lib().MpqCloseUpdatedArchive(update, 0) && ok;
}
