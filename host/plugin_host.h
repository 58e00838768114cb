// Loading the plug-in as a file manager does: the module is loaded from its
// path, its 11 entry points are resolved by name, it is handed the settings
// file and the progress callback. The command uses the entry points only
// through this record and never links the plug-in's code.
#pragma once

#include <string>
#include <vector>

#include "plugin/host_interface.h"

namespace host {

typedef void*(TARNEL_STDCALL* OpenArchiveFn)(OpenRequest* request);
typedef int(TARNEL_STDCALL* ReadHeaderFn)(void* handle, EntryHeader* header);
typedef int(TARNEL_STDCALL* ProcessFileFn)(void* handle, int operation, char* destPath,
                                           char* destName);
typedef int(TARNEL_STDCALL* CloseArchiveFn)(void* handle);
typedef int(TARNEL_STDCALL* GetPackerCapsFn)(void);
typedef void(TARNEL_STDCALL* SetProcessDataProcFn)(void* handle, ProgressCallback callback);
typedef void(TARNEL_STDCALL* SetChangeVolProcFn)(void* handle, ChangeVolumeCallback callback);
typedef int(TARNEL_STDCALL* PackFilesFn)(char* packedFile, char* subPath, char* srcPath,
                                         char* addList, int flags);
typedef int(TARNEL_STDCALL* DeleteFilesFn)(char* packedFile, char* deleteList);
typedef void(TARNEL_STDCALL* PackSetDefaultParamsFn)(HostDefaults* defaults);
typedef int(TARNEL_STDCALL* ConfigurePackerFn)(void* parent, void* instance);

// The longest path or name the plug-in takes, without the terminating zero.
constexpr size_t kMaxPluginPath = 259;

class Plugin {
  public:
    Plugin() = default;
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    // Loads the module and resolves every entry point. Returns false with
    // the reason in `error` when the module cannot be loaded or lacks one.
    bool Load(const std::string& path, std::string& error);

    // Hands the plug-in the settings file (PackSetDefaultParams) and the
    // progress callback (SetProcessDataProc).
    void Start(const std::string& settingsPath, ProgressCallback callback);

    void* module = nullptr;
    OpenArchiveFn OpenArchive = nullptr;
    ReadHeaderFn ReadHeader = nullptr;
    ProcessFileFn ProcessFile = nullptr;
    CloseArchiveFn CloseArchive = nullptr;
    GetPackerCapsFn GetPackerCaps = nullptr;
    SetProcessDataProcFn SetProcessDataProc = nullptr;
    SetChangeVolProcFn SetChangeVolProc = nullptr;
    PackFilesFn PackFiles = nullptr;
    DeleteFilesFn DeleteFiles = nullptr;
    PackSetDefaultParamsFn PackSetDefaultParams = nullptr;
    ConfigurePackerFn ConfigurePacker = nullptr;
};

// A host result code in words, for messages ("cannot create a file").
std::string ResultInWords(int code);

// Where the command looks for its plug-in when the user names none, in
// order: tarnel.wcx in the executable's folder (a build, an unpacked
// release), then in ../lib/tarnel/ from there (an installation: bin/tarnel
// and lib/tarnel/tarnel.wcx).
std::vector<std::string> DefaultPluginPaths();

} // namespace host
