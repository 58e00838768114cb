#include "host/disk_path.h"

namespace host {

std::string FolderOf(const std::string& path) {
    size_t last = path.size();
    while (last > 0 && !IsSeparatorOnDisk(path[last - 1])) {
        --last;
    }
    if (last == 0) {
        return "";
    }
    // `last` is just past the separator; drop it unless it is the root's.
    bool root = last == 1 || (kPathSeparator == '\\' && last == 3 && path[1] == ':');
    return path.substr(0, root ? last : last - 1);
}

} // namespace host
