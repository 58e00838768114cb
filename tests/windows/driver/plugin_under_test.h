// The built plug-in as a host sees it: loaded with LoadLibraryA, its entry
// points looked up by name, and the recording SFMpq.dll that it loaded,
// through which the driver scripts the archive library and reads the calls
// the plug-in made. Also small file helpers on the Win32 file functions.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/host_interface.h"
#include "recording_library/recording_library.h"

struct PluginEntryPoints {
    decltype(&OpenArchive) openArchive = nullptr;
    decltype(&ReadHeader) readHeader = nullptr;
    decltype(&ProcessFile) processFile = nullptr;
    decltype(&CloseArchive) closeArchive = nullptr;
    decltype(&GetPackerCaps) getPackerCaps = nullptr;
    decltype(&SetProcessDataProc) setProcessDataProc = nullptr;
    decltype(&SetChangeVolProc) setChangeVolProc = nullptr;
    decltype(&PackFiles) packFiles = nullptr;
    decltype(&DeleteFiles) deleteFiles = nullptr;
    decltype(&PackSetDefaultParams) packSetDefaultParams = nullptr;
    decltype(&ConfigurePacker) configurePacker = nullptr;
};

// The plug-in loaded by the running scenario, and its entry points.
extern HMODULE Plugin;
extern PluginEntryPoints Entry;

// Loads the plug-in from `path` and looks up its entry points by their plain
// names. Returns false when the module does not load or lacks a name.
bool LoadPlugin(const std::string& path);

// The recording SFMpq.dll that the plug-in loaded.
struct RecordingLibrary {
    HMODULE module = nullptr;
    RecorderResetFn reset = nullptr;
    RecorderAddMemberFn addMember = nullptr;
    RecorderAddEmptySlotFn addEmptySlot = nullptr;
    RecorderSetFn set = nullptr;
    RecorderSetResultFn setResult = nullptr;
    RecorderGetFn get = nullptr;
    RecorderCallsFn calls = nullptr;
    RecorderLoadDirectoryFn loadDirectory = nullptr;

    // Finds the loaded SFMpq.dll and its Recorder* functions.
    bool Attach();
    void Reset() const { reset(); }
    void AddMember(const std::string& name, const std::string& content) const {
        addMember(name.c_str(), content.data(), static_cast<uint32_t>(content.size()), 0);
    }
    // The recorded calls, one string each.
    std::vector<std::string> Calls() const;
    std::string LoadDirectory() const;
};
extern RecordingLibrary Library;

// ---- Win32 file helpers ----------------------------------------------------

std::string JoinPath(const std::string& folder, const std::string& name);
std::string FolderOf(const std::string& path);
std::string CurrentDirectory();
bool WriteWholeFile(const std::string& path, const std::string& content);
// The file's content; `exists` false when it cannot be opened.
std::string ReadWholeFile(const std::string& path, bool* exists = nullptr);
bool FileExists(const std::string& path);
// The text the system gives for the error `code`, as a box would show it.
std::string SystemText(DWORD code);
// A value read back from an INI file with GetPrivateProfileStringA; "<missing>"
// when the key is not there.
std::string ProfileValue(const std::string& file, const char* section, const char* key);

// The host's zero-terminated name list: each name followed by a zero byte,
// the whole ended by one more.
std::string NameList(const std::vector<std::string>& names);

// The names of the files in `folder`, sorted; "." and ".." left out.
std::vector<std::string> FilesIn(const std::string& folder);
// Creates `folder` empty: its files are deleted first.
void MakeEmptyFolder(const std::string& folder);

// The host's progress callback, recording each call. The call numbered
// `ProgressStopAt` (from 1) answers 0, asking to stop; 0 never stops.
struct ProgressCall {
    std::string name;
    int size;
    bool operator==(const ProgressCall& other) const {
        return name == other.name && size == other.size;
    }
};
extern std::vector<ProgressCall> ProgressCalls;
extern int ProgressStopAt;
int WINAPI RecordProgress(char* name, int size);
std::string Show(const std::vector<ProgressCall>& calls);

// The scenario's folders.
struct Folders {
    std::string plugin; // the plug-in's folder
    std::string work;   // scratch folder, current directory, settings file
};
extern Folders Dirs;

// Points the plug-in at `Dirs.work`\settings.ini holding `content`.
std::string UseSettings(const std::string& content);
