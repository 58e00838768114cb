// Helpers of the end-to-end tests: the loaded plug-in, a private folder,
// files, host name lists, and listing and extracting an archive through the
// plug-in's exports as a host does.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "loaded_plugin.h"

// The plug-in of this process, loaded on first use; null (with a failure
// recorded) when it cannot be loaded.
LoadedPlugin* Plugin();

// A fresh folder, removed with its content when the object goes.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Writes `content` to `path`, creating missing folders on the way.
void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
// The names of the files in `folder` (not recursive).
std::vector<std::string> FilesIn(const std::string& folder);

// Data of `size` bytes: text that compresses well, or bytes that do not.
std::string CompressibleData(size_t size, unsigned seed = 1);
std::string RandomData(size_t size, unsigned seed = 1);

// A host name list: each name and its zero, then the closing zero.
std::string NameList(const std::vector<std::string>& names);

struct ListedMember {
    uint32_t packSize;
    uint32_t unpackSize;
};
// The archive's members as ReadHeader reports them, by name; the library's
// own "(...)" members left out. Empty when the archive cannot be opened.
std::map<std::string, ListedMember> ListMembers(const std::string& archive);

// Lists the archive and runs ProcessFile on every member: extract (into
// `folder`, under the member's name) or test. Returns each member's result.
std::map<std::string, int> ProcessAll(const std::string& archive, int operation,
                                      const std::string& folder = std::string());

// PackFiles with the sources below `folder` (the folder ends with '/').
int Pack(const std::string& archive, const std::string& folder,
         const std::vector<std::string>& names, const char* subPath = nullptr, int flags = 0);
int Delete(const std::string& archive, const std::vector<std::string>& names);
