#include "plugin_under_test.h"

#include <algorithm>
#include <cstring>

HMODULE Plugin = nullptr;
PluginEntryPoints Entry;
RecordingLibrary Library;
Folders Dirs;
std::vector<ProgressCall> ProgressCalls;
int ProgressStopAt = 0;

namespace {

template <typename Function> bool Find(HMODULE module, Function* slot, const char* name) {
    *slot = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return *slot != nullptr;
}

} // namespace

bool LoadPlugin(const std::string& path) {
    Plugin = LoadLibraryA(path.c_str());
    if (!Plugin) {
        return false;
    }
    bool all = Find(Plugin, &Entry.openArchive, "OpenArchive");
    all = Find(Plugin, &Entry.readHeader, "ReadHeader") && all;
    all = Find(Plugin, &Entry.processFile, "ProcessFile") && all;
    all = Find(Plugin, &Entry.closeArchive, "CloseArchive") && all;
    all = Find(Plugin, &Entry.getPackerCaps, "GetPackerCaps") && all;
    all = Find(Plugin, &Entry.setProcessDataProc, "SetProcessDataProc") && all;
    all = Find(Plugin, &Entry.setChangeVolProc, "SetChangeVolProc") && all;
    all = Find(Plugin, &Entry.packFiles, "PackFiles") && all;
    all = Find(Plugin, &Entry.deleteFiles, "DeleteFiles") && all;
    all = Find(Plugin, &Entry.packSetDefaultParams, "PackSetDefaultParams") && all;
    all = Find(Plugin, &Entry.configurePacker, "ConfigurePacker") && all;
    return all;
}

bool RecordingLibrary::Attach() {
    module = GetModuleHandleA("SFMpq.dll");
    if (!module) {
        return false;
    }
    bool all = Find(module, &reset, "RecorderReset");
    all = Find(module, &addMember, "RecorderAddMember") && all;
    all = Find(module, &addEmptySlot, "RecorderAddEmptySlot") && all;
    all = Find(module, &set, "RecorderSet") && all;
    all = Find(module, &setResult, "RecorderSetResult") && all;
    all = Find(module, &get, "RecorderGet") && all;
    all = Find(module, &calls, "RecorderCalls") && all;
    all = Find(module, &loadDirectory, "RecorderLoadDirectory") && all;
    return all;
}

std::vector<std::string> RecordingLibrary::Calls() const {
    uint32_t length = calls(nullptr, 0);
    std::string text(length + 1, '\0');
    calls(&text[0], length + 1);
    text.resize(length);
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string RecordingLibrary::LoadDirectory() const {
    char buffer[MAX_PATH] = "";
    loadDirectory(buffer, sizeof buffer);
    return buffer;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '\\') {
        return folder + name;
    }
    return folder + "\\" + name;
}

std::string FolderOf(const std::string& path) {
    size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string CurrentDirectory() {
    char buffer[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof buffer, buffer);
    return buffer;
}

bool WriteWholeFile(const std::string& path, const std::string& content) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    BOOL ok =
        WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == content.size();
}

std::string ReadWholeFile(const std::string& path, bool* exists) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (exists) {
        *exists = file != INVALID_HANDLE_VALUE;
    }
    if (file == INVALID_HANDLE_VALUE) {
        return std::string();
    }
    std::string content;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) {
        content.append(buffer, read);
    }
    CloseHandle(file);
    return content;
}

std::string SystemText(DWORD code) {
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                       FORMAT_MESSAGE_FROM_SYSTEM,
                   nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                   reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string result = text ? text : "";
    LocalFree(text);
    return result;
}

bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ProfileValue(const std::string& file, const char* section, const char* key) {
    char buffer[2048] = "";
    GetPrivateProfileStringA(section, key, "<missing>", buffer, sizeof buffer, file.c_str());
    return buffer;
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

std::string UseSettings(const std::string& content) {
    std::string path = JoinPath(Dirs.work, "settings.ini");
    WriteWholeFile(path, content);
    HostDefaults defaults = {};
    defaults.size = sizeof defaults;
    defaults.versionLow = 0;
    defaults.versionHigh = 2;
    std::strncpy(defaults.settingsPath, path.c_str(), sizeof defaults.settingsPath - 1);
    Entry.packSetDefaultParams(&defaults);
    return path;
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(JoinPath(folder, "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        std::string name = found.cFileName;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

void MakeEmptyFolder(const std::string& folder) {
    CreateDirectoryA(folder.c_str(), nullptr);
    for (const std::string& name : FilesIn(folder)) {
        DeleteFileA(JoinPath(folder, name).c_str());
    }
}

int WINAPI RecordProgress(char* name, int size) {
    ProgressCalls.push_back({name ? name : "<null>", size});
    return static_cast<int>(ProgressCalls.size()) == ProgressStopAt ? 0 : 1;
}

std::string Show(const std::vector<ProgressCall>& calls) {
    std::string out = "{";
    for (const ProgressCall& call : calls) {
        out += "\n    (" + call.name + ", " + std::to_string(call.size) + ")";
    }
    return out + "}";
}
