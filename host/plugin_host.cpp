#include "host/plugin_host.h"

#include <cstring>

#include "host/disk_path.h"
#include "host/host_os.h"

namespace host {

namespace {

// Resolves `name`, and failing that its standard-call decorated form, as
// hosts do on 32-bit Windows.
template <typename Function>
bool Resolve(void* module, Function& slot, const char* name, int argumentBytes,
             std::string& missing) {
    slot = reinterpret_cast<Function>(FindSymbol(module, name));
    if (!slot) {
        std::string decorated = "_" + std::string(name) + "@" + std::to_string(argumentBytes);
        slot = reinterpret_cast<Function>(FindSymbol(module, decorated.c_str()));
    }
    if (!slot) {
        missing += missing.empty() ? name : std::string(", ") + name;
        return false;
    }
    return true;
}

// Cuts `text` to the plug-in's path limit into `out` (260 bytes).
void CopyPath(char* out, const std::string& text) {
    size_t length = text.size() < kMaxPluginPath ? text.size() : kMaxPluginPath;
    std::memcpy(out, text.data(), length);
    out[length] = '\0';
}

} // namespace

Plugin::~Plugin() {
    UnloadModule(module);
}

bool Plugin::Load(const std::string& path, std::string& error) {
    module = LoadModule(path, error);
    if (!module) {
        error = "cannot load the plug-in " + path + ": " + error;
        return false;
    }
    std::string missing;
    bool ok = true;
    ok &= Resolve(module, OpenArchive, "OpenArchive", 4, missing);
    ok &= Resolve(module, ReadHeader, "ReadHeader", 8, missing);
    ok &= Resolve(module, ProcessFile, "ProcessFile", 16, missing);
    ok &= Resolve(module, CloseArchive, "CloseArchive", 4, missing);
    ok &= Resolve(module, GetPackerCaps, "GetPackerCaps", 0, missing);
    ok &= Resolve(module, SetProcessDataProc, "SetProcessDataProc", 8, missing);
    ok &= Resolve(module, SetChangeVolProc, "SetChangeVolProc", 8, missing);
    ok &= Resolve(module, PackFiles, "PackFiles", 20, missing);
    ok &= Resolve(module, DeleteFiles, "DeleteFiles", 8, missing);
    ok &= Resolve(module, PackSetDefaultParams, "PackSetDefaultParams", 4, missing);
    ok &= Resolve(module, ConfigurePacker, "ConfigurePacker", 8, missing);
    if (!ok) {
        error = "the plug-in " + path + " lacks the entry points " + missing;
    }
    return ok;
}

void Plugin::Start(const std::string& settingsPath, ProgressCallback callback) {
    HostDefaults defaults;
    std::memset(&defaults, 0, sizeof defaults);
    defaults.size = static_cast<int32_t>(sizeof defaults);
    defaults.versionLow = 10; // interface version 2.10
    defaults.versionHigh = 2;
    CopyPath(defaults.settingsPath, settingsPath);
    PackSetDefaultParams(&defaults);
    // The slot is process-wide; hosts name no archive when packing.
    SetProcessDataProc(reinterpret_cast<void*>(static_cast<intptr_t>(-1)), callback);
}

std::string ResultInWords(int code) {
    switch (code) {
    case kResultOk:
        return "success";
    case kResultEndArchive:
        return "no more members";
    case kResultNoMemory:
        return "out of memory";
    case kResultBadData:
        return "reading or writing member data failed";
    case kResultBadArchive:
        return "the archive cannot be opened or updated";
    case kResultEOpen:
        return "cannot open an existing file";
    case kResultECreate:
        return "cannot create a file";
    case kResultEClose:
        return "cannot close a file";
    case kResultERead:
        return "cannot read from a file";
    case kResultEWrite:
        return "cannot write to a file";
    case kResultSmallBuffer:
        return "buffer too small";
    case kResultAborted:
        return "stopped by the user";
    case kResultNoFiles:
        return "no files found";
    case kResultTooManyFiles:
        return "too many files to pack";
    case kResultNotSupported:
        return "operation not supported";
    default:
        return "unknown result code " + std::to_string(code);
    }
}

std::vector<std::string> DefaultPluginPaths() {
    auto within = [](std::string folder, const std::string& name) {
        if (!folder.empty() && !IsSeparatorOnDisk(folder.back())) {
            folder += kPathSeparator;
        }
        return folder + name;
    };
    std::string folder = FolderOf(ExecutablePath());
    std::string installed = within(within(FolderOf(folder), "lib"), "tarnel");
    return {within(folder, "tarnel.wcx"), within(installed, "tarnel.wcx")};
}

} // namespace host
