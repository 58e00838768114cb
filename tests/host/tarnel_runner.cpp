#include "tarnel_runner.h"

#include <StormLib.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void MakeParents(const std::string& path) {
    for (size_t i = 1; i < path.size(); ++i) {
        if (path[i] == '/') {
            mkdir(path.substr(0, i).c_str(), 0777);
        }
    }
}

void CollectFiles(const std::string& root, const std::string& relative,
                  std::vector<std::string>& files) {
    DIR* folder = opendir((root + "/" + relative).c_str());
    if (!folder) {
        return;
    }
    while (struct dirent* entry = readdir(folder)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        std::string path = relative.empty() ? name : relative + "/" + name;
        struct stat info;
        if (stat((root + "/" + path).c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
            CollectFiles(root, path, files);
        } else {
            files.push_back(path);
        }
    }
    closedir(folder);
}

} // namespace

Scratch::Scratch() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tarnel-host-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) {
        ADD_FAILURE() << "cannot create a temporary folder";
    }
    path_ = buffer.data();
}

Scratch::~Scratch() {
    // Tests take permissions away; an unprivileged runner needs them back.
    std::string command = "chmod -R u+rwX '" + path_ + "' 2>/dev/null; rm -rf '" + path_ + "'";
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "cannot remove %s\n", path_.c_str());
    }
}

namespace {

pid_t Start(const Scratch& scratch, std::vector<std::string> full, const std::string& cwd,
            const std::vector<std::string>& environment, const RunOptions& options = {}) {
    std::string out = scratch / ".stdout";
    std::string err = scratch / ".stderr";
    std::string in = scratch / ".stdin";
    if (!options.input.empty()) {
        WriteFile(in, options.input);
    }
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        // Above 2, so that none of them lands on a standard descriptor that
        // the test runner left closed and is then overwritten.
        int outFd = fcntl(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666), F_DUPFD, 10);
        int errFd = fcntl(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666), F_DUPFD, 10);
        const char* input = options.input.empty() ? "/dev/null" : in.c_str();
        int nullFd = fcntl(open(input, O_RDONLY), F_DUPFD, 10);
        if (outFd < 0 || errFd < 0 || nullFd < 0 || (!cwd.empty() && chdir(cwd.c_str()) != 0)) {
            _exit(127);
        }
        if (options.unprivileged && geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) {
            _exit(127);
        }
        if (options.fileSizeLimit > 0) {
            // Writes past the limit then fail with EFBIG, as on a full disk.
            signal(SIGXFSZ, SIG_IGN);
            struct rlimit limit = {static_cast<rlim_t>(options.fileSizeLimit),
                                   static_cast<rlim_t>(options.fileSizeLimit)};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (options.errorOnTerminal) {
            // Standard error on a pseudo-terminal: this process writes what
            // the terminal shows into the file, then ends as tarnel did.
            int master = posix_openpt(O_RDWR | O_NOCTTY);
            if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
                _exit(127);
            }
            int opened = open(ptsname(master), O_RDWR | O_NOCTTY);
            int terminal = fcntl(opened, F_DUPFD, 10);
            close(opened); // the terminal ends when tarnel has closed it
            pid_t command = fork();
            if (command != 0) {
                close(terminal);
                char buffer[4096];
                ssize_t n;
                while ((n = read(master, buffer, sizeof buffer)) > 0) {
                    if (write(errFd, buffer, static_cast<size_t>(n)) != n) {
                        break;
                    }
                }
                int status = 0;
                waitpid(command, &status, 0);
                if (WIFSIGNALED(status)) {
                    signal(WTERMSIG(status), SIG_DFL);
                    raise(WTERMSIG(status));
                }
                _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 127);
            }
            close(master);
            errFd = terminal;
        }
        dup2(nullFd, 0);
        dup2(options.outputFd >= 0 ? options.outputFd : outFd, 1);
        dup2(options.errorFd >= 0 ? options.errorFd : errFd, 2);
        // As from an interactive shell, whatever the tests were started
        // with (a background job ignores SIGINT and SIGQUIT, nohup SIGHUP),
        // which the command keeps.
        for (int number : {SIGINT, SIGQUIT, SIGTERM, SIGHUP}) {
            signal(number, SIG_DFL);
        }
        if (options.pipeSignalIgnored) {
            signal(SIGPIPE, SIG_IGN);
        }
        for (const std::string& entry : environment) {
            putenv(const_cast<char*>(entry.c_str()));
        }
        std::vector<char*> argv;
        for (std::string& arg : full) {
            argv.push_back(&arg[0]);
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

} // namespace

pid_t StartTarnel(const Scratch& scratch, const std::vector<std::string>& args,
                  const std::string& cwd) {
    std::vector<std::string> full = {TARNEL_BINARY, "--settings", scratch / "tarnel.ini"};
    full.insert(full.end(), args.begin(), args.end());
    return Start(scratch, full, cwd, {});
}

pid_t StartTarnelWithHangupIgnored(const Scratch& scratch, const std::vector<std::string>& args) {
    std::vector<std::string> full = {"/usr/bin/nohup", TARNEL_BINARY, "--settings",
                                     scratch / "tarnel.ini"};
    full.insert(full.end(), args.begin(), args.end());
    return Start(scratch, full, "", {});
}

RunResult RunTarnelWithEnvironment(const Scratch& scratch,
                                   const std::vector<std::string>& environment,
                                   const std::vector<std::string>& args) {
    std::vector<std::string> full = {TARNEL_BINARY};
    full.insert(full.end(), args.begin(), args.end());
    return FinishTarnel(scratch, Start(scratch, full, "", environment));
}

RunResult FinishTarnel(const Scratch& scratch, pid_t pid) {
    RunResult result;
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid) {
        if (WIFEXITED(status)) {
            result.status = WEXITSTATUS(status);
        }
        result.signaled = WIFSIGNALED(status);
    }
    result.out = ReadFile(scratch / ".stdout");
    result.err = ReadFile(scratch / ".stderr");
    return result;
}

RunResult RunTarnel(const Scratch& scratch, const std::vector<std::string>& args,
                    const std::string& cwd) {
    return FinishTarnel(scratch, StartTarnel(scratch, args, cwd));
}

pid_t StartTarnelWith(const Scratch& scratch, const std::vector<std::string>& args,
                      const RunOptions& options) {
    std::vector<std::string> full = {TARNEL_BINARY, "--settings", scratch / "tarnel.ini"};
    full.insert(full.end(), args.begin(), args.end());
    return Start(scratch, full, options.cwd, options.environment, options);
}

RunResult RunTarnelWith(const Scratch& scratch, const std::vector<std::string>& args,
                        const RunOptions& options) {
    return FinishTarnel(scratch, StartTarnelWith(scratch, args, options));
}

void OpenToEveryone(const Scratch& scratch) {
    std::string command = "chmod -R a+rwX '" + scratch.path() + "'";
    if (std::system(command.c_str()) != 0) {
        ADD_FAILURE() << command;
    }
}

void WriteFile(const std::string& path, const std::string& content) {
    MakeParents(path);
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
    return lstat(path.c_str(), &info) == 0;
}

std::vector<std::string> FilesBelow(const std::string& folder) {
    std::vector<std::string> files;
    CollectFiles(folder, "", files);
    std::sort(files.begin(), files.end());
    return files;
}

void MakeArchive(const std::string& path, const std::vector<ArchiveMember>& members,
                 bool nameList) {
    HANDLE archive = nullptr;
    // SFileCreateArchive makes the name list even when not asked to.
    SFILE_CREATE_MPQ bare = {};
    bare.cbSize = sizeof bare;
    bare.dwMpqVersion = MPQ_FORMAT_VERSION_1;
    bare.dwStreamFlags = STREAM_PROVIDER_FLAT | BASE_PROVIDER_FILE;
    bare.dwSectorSize = 0x1000;
    bare.dwMaxFileCount = 64;
    ASSERT_TRUE(nameList
                    ? SFileCreateArchive(path.c_str(), MPQ_CREATE_LISTFILE | MPQ_CREATE_ARCHIVE_V1,
                                         64, &archive)
                    : SFileCreateArchive2(path.c_str(), &bare, &archive))
        << path;
    for (const ArchiveMember& member : members) {
        HANDLE file = nullptr;
        DWORD flags = MPQ_FILE_REPLACEEXISTING | (member.compressed ? MPQ_FILE_COMPRESS : 0);
        ASSERT_TRUE(SFileCreateFile(archive, member.name.c_str(), 0,
                                    static_cast<DWORD>(member.content.size()), 0, flags, &file))
            << member.name;
        if (!member.content.empty()) {
            ASSERT_TRUE(SFileWriteFile(file, member.content.data(),
                                       static_cast<DWORD>(member.content.size()),
                                       member.compressed ? MPQ_COMPRESSION_ZLIB : 0));
        }
        ASSERT_TRUE(SFileFinishFile(file));
    }
    ASSERT_TRUE(SFileCloseArchive(archive));
}
