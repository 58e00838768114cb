#include "e2e_support.h"

#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

LoadedPlugin* Plugin() {
    static LoadedPlugin plugin;
    static std::string failure = plugin.Load(TARNEL_PLUGIN_PATH);
    if (!failure.empty()) {
        ADD_FAILURE() << "cannot load " << TARNEL_PLUGIN_PATH << ": " << failure;
        return nullptr;
    }
    return &plugin;
}

TempFolder::TempFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tarnel-e2e-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) {
        ADD_FAILURE() << "cannot create a temporary folder";
    }
    path_ = buffer.data();
}

TempFolder::~TempFolder() {
    std::string command = "rm -rf '" + path_ + "'";
    if (std::system(command.c_str()) != 0) {
        ADD_FAILURE() << "cannot remove " << path_;
    }
}

namespace {

void MakeParentFolders(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        mkdir(path.substr(0, slash).c_str(), 0700);
    }
}

} // namespace

void WriteFile(const std::string& path, const std::string& content) {
    MakeParentFolders(path);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

bool Exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        closedir(dir);
    }
    return names;
}

std::string CompressibleData(size_t size, unsigned seed) {
    static const char* const words[] = {"archive ", "member ", "listfile ", "sector ",
                                        "locale ",  "\n",      "hash ",     "block "};
    std::string data;
    unsigned state = seed;
    while (data.size() < size) {
        state = state * 1103515245u + 12345u;
        data += words[(state >> 16) % 8];
    }
    data.resize(size);
    return data;
}

std::string RandomData(size_t size, unsigned seed) {
    std::string data(size, '\0');
    uint64_t state = 0x9E3779B97F4A7C15ull ^ seed;
    for (size_t i = 0; i < size; ++i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        data[i] = static_cast<char>(state);
    }
    return data;
}

std::string NameList(const std::vector<std::string>& names) {
    std::string list;
    for (const std::string& name : names) {
        list += name;
        list += '\0';
    }
    list += '\0';
    return list;
}

namespace {

// Opens `archive` and calls `each` with the handle and the header of every
// member the host sees.
template <typename Each> bool ForEachMember(const std::string& archive, int mode, Each each) {
    LoadedPlugin* plugin = Plugin();
    if (!plugin) {
        return false;
    }
    OpenRequest request = {archive.c_str(), mode, 0};
    void* handle = plugin->OpenArchive(&request);
    if (!handle) {
        return false;
    }
    EntryHeader header = {};
    while (plugin->ReadHeader(handle, &header) == kResultOk) {
        each(handle, header);
    }
    plugin->CloseArchive(handle);
    return true;
}

bool IsLibraryMember(const char* name) {
    return name[0] == '(';
}

} // namespace

std::map<std::string, ListedMember> ListMembers(const std::string& archive) {
    std::map<std::string, ListedMember> members;
    ForEachMember(archive, kOpenList, [&](void*, const EntryHeader& header) {
        if (!IsLibraryMember(header.fileName)) {
            members[header.fileName] = {header.packSize, header.unpackSize};
        }
    });
    return members;
}

std::map<std::string, int> ProcessAll(const std::string& archive, int operation,
                                      const std::string& folder) {
    std::map<std::string, int> results;
    ForEachMember(archive, kOpenExtract, [&](void* handle, const EntryHeader& header) {
        if (IsLibraryMember(header.fileName)) {
            Plugin()->ProcessFile(handle, kOpSkip, nullptr, nullptr);
            return;
        }
        std::string dest = folder + "/" + header.fileName;
        if (operation == kOpExtract) {
            MakeParentFolders(dest);
        }
        results[header.fileName] =
            Plugin()->ProcessFile(handle, operation, nullptr, const_cast<char*>(dest.c_str()));
    });
    return results;
}

int Pack(const std::string& archive, const std::string& folder,
         const std::vector<std::string>& names, const char* subPath, int flags) {
    std::string list = NameList(names);
    return Plugin()->PackFiles(const_cast<char*>(archive.c_str()), const_cast<char*>(subPath),
                               const_cast<char*>(folder.c_str()), &list[0], flags);
}

int Delete(const std::string& archive, const std::vector<std::string>& names) {
    std::string list = NameList(names);
    return Plugin()->DeleteFiles(const_cast<char*>(archive.c_str()), &list[0]);
}
