// Running the built tarnel command from the end-to-end tests, and making
// archives for them directly with the MPQ engine (so that they can hold
// member names that tarnel itself would never create).
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

#include <gtest/gtest.h>

struct RunResult {
    int status = -1;       // the exit status, or -1 when it did not exit
    bool signaled = false; // ended by a signal
    std::string out;
    std::string err;
};

// A private folder for one test, removed with its content afterwards.
class Scratch {
  public:
    Scratch();
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Runs tarnel with `args` (its settings file kept in `scratch`, so that the
// user's own settings play no part) in folder `cwd`, and waits for it.
RunResult RunTarnel(const Scratch& scratch, const std::vector<std::string>& args,
                    const std::string& cwd = "");

// Runs tarnel without a --settings option, with `environment` ("NAME=value"
// entries) added to its environment.
RunResult RunTarnelWithEnvironment(const Scratch& scratch,
                                   const std::vector<std::string>& environment,
                                   const std::vector<std::string>& args);

// How else a run differs from RunTarnel's.
struct RunOptions {
    std::string cwd;
    std::string input;              // standard input (default: empty)
    bool unprivileged = false;      // as user and group 65534 when run as root
    long long fileSizeLimit = 0;    // bytes a file may grow to; 0: no limit
    int outputFd = -1;              // standard output, when not a file in the scratch folder
    int errorFd = -1;               // standard error, likewise (what it shows is not in err)
    bool errorOnTerminal = false;   // standard error on a pseudo-terminal (what it shows in err)
    bool pipeSignalIgnored = false; // started with SIGPIPE ignored
    std::vector<std::string> environment; // "NAME=value" entries added
};
RunResult RunTarnelWith(const Scratch& scratch, const std::vector<std::string>& args,
                        const RunOptions& options);
pid_t StartTarnelWith(const Scratch& scratch, const std::vector<std::string>& args,
                      const RunOptions& options);

// Makes everything in `scratch` readable and writable by everyone, so that
// an unprivileged run may use it; tests then take away what they mean to.
void OpenToEveryone(const Scratch& scratch);

// Starts tarnel like RunTarnel without waiting; its standard output and
// error go to files in `scratch`. FinishTarnel waits and collects them.
pid_t StartTarnel(const Scratch& scratch, const std::vector<std::string>& args,
                  const std::string& cwd = "");
RunResult FinishTarnel(const Scratch& scratch, pid_t pid);

// Starts tarnel like StartTarnel, through nohup: with SIGHUP ignored.
pid_t StartTarnelWithHangupIgnored(const Scratch& scratch, const std::vector<std::string>& args);

// Files on disk.
void WriteFile(const std::string& path, const std::string& content); // makes folders
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
std::vector<std::string> FilesBelow(const std::string& folder); // relative, sorted

// One member of an archive made by MakeArchive.
struct ArchiveMember {
    std::string name; // as stored, backslash separators
    std::string content;
    bool compressed = true;
};

// Creates an MPQ archive at `path` holding `members` and, unless `nameList`
// is false, its own name list.
void MakeArchive(const std::string& path, const std::vector<ArchiveMember>& members,
                 bool nameList = true);
