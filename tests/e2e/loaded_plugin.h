// The built tarnel.wcx loaded the way a host loads it: by path, with its
// exports looked up by name. Loading it makes its library loader bind the
// SFMpq.dll that lies beside it.
#pragma once

#include <dlfcn.h>
#include <string>

#include "plugin/host_interface.h"

struct LoadedPlugin {
    void* module = nullptr;
    decltype(&::OpenArchive) OpenArchive = nullptr;
    decltype(&::ReadHeader) ReadHeader = nullptr;
    decltype(&::ProcessFile) ProcessFile = nullptr;
    decltype(&::CloseArchive) CloseArchive = nullptr;
    decltype(&::SetProcessDataProc) SetProcessDataProc = nullptr;
    decltype(&::PackFiles) PackFiles = nullptr;
    decltype(&::DeleteFiles) DeleteFiles = nullptr;
    decltype(&::PackSetDefaultParams) PackSetDefaultParams = nullptr;

    // Loads the module at `path` and binds the exports; an empty text when
    // all is well, else what went wrong.
    std::string Load(const char* path) {
        module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            return dlerror();
        }
        std::string missing;
        Bind(OpenArchive, "OpenArchive", missing);
        Bind(ReadHeader, "ReadHeader", missing);
        Bind(ProcessFile, "ProcessFile", missing);
        Bind(CloseArchive, "CloseArchive", missing);
        Bind(SetProcessDataProc, "SetProcessDataProc", missing);
        Bind(PackFiles, "PackFiles", missing);
        Bind(DeleteFiles, "DeleteFiles", missing);
        Bind(PackSetDefaultParams, "PackSetDefaultParams", missing);
        return missing;
    }

    // Points the plug-in at a settings file (which need not exist: then
    // every key has its default).
    void UseSettings(const std::string& iniPath) {
        HostDefaults defaults = {};
        defaults.size = sizeof defaults;
        iniPath.copy(defaults.settingsPath, sizeof defaults.settingsPath - 1);
        PackSetDefaultParams(&defaults);
    }

  private:
    template <typename F> void Bind(F& slot, const char* name, std::string& missing) {
        slot = reinterpret_cast<F>(dlsym(module, name));
        if (!slot) {
            missing += std::string(missing.empty() ? "missing exports:" : "") + " " + name;
        }
    }
};
