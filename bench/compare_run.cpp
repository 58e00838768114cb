// Runs one command for bench/compare and measures it: wall time until the
// command exits, processor time (user + system) of its whole process tree,
// and peak memory.
//
// Why a program of its own: Linux carries a process's peak resident size
// across exec, so a command started by the Python script would report at
// least the script's own size. Started from this small process, it reports
// at most this one's (a megabyte or two) as its floor.
//
// The process tree: this program becomes a child subreaper, so a descendant
// that outlives the command (an engine its parent did not wait for) is
// reaped here; the processor time is that of everything reaped, read as
// RUSAGE_CHILDREN once nothing is left. max_rss is what wait4 reports for the
// command: the largest of the command and the descendants it reaped.
//
// With --sample the split of the peak between the command and its children
// is sampled from VmHWM in /proc about every millisecond while the command
// runs (the last moments of a child can be missed; the sampling costs
// processor time, so sampled runs are not timed runs).
//
// usage: compare_run [--sample] STDOUT STDERR COMMAND [ARG...]
// prints: code= wall_s= cpu_s= max_rss_kib= orphans= own_kib= children_kib=
//         children=
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <string>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

// The peak resident size of `pid` in KiB, 0 when it is gone.
long HighWaterKib(pid_t pid) {
    std::string path = "/proc/" + std::to_string(pid) + "/status";
    FILE* status = std::fopen(path.c_str(), "r");
    if (!status) {
        return 0;
    }
    char line[256];
    long kib = 0;
    while (std::fgets(line, sizeof line, status)) {
        if (std::strncmp(line, "VmHWM:", 6) == 0) {
            kib = std::strtol(line + 6, nullptr, 10);
            break;
        }
    }
    std::fclose(status);
    return kib;
}

// The children of `pid`, started by any of its threads.
std::vector<pid_t> ChildrenOf(pid_t pid) {
    std::vector<pid_t> children;
    std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* folder = opendir(tasks.c_str());
    if (!folder) {
        return children;
    }
    while (struct dirent* task = readdir(folder)) {
        if (task->d_name[0] == '.') {
            continue;
        }
        FILE* listed = std::fopen((tasks + "/" + task->d_name + "/children").c_str(), "r");
        if (!listed) {
            continue;
        }
        long child;
        while (std::fscanf(listed, "%ld", &child) == 1) {
            children.push_back(static_cast<pid_t>(child));
        }
        std::fclose(listed);
    }
    closedir(folder);
    return children;
}

double Seconds(const struct timeval& time) {
    return time.tv_sec + time.tv_usec / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    int first = 1;
    bool sample = argc > 1 && std::strcmp(argv[1], "--sample") == 0;
    if (sample) {
        ++first;
    }
    if (argc - first < 3) {
        std::fprintf(stderr, "usage: compare_run [--sample] STDOUT STDERR COMMAND [ARG...]\n");
        return 2;
    }
    int out = open(argv[first], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    int err = open(argv[first + 1], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (out < 0 || err < 0) {
        std::perror("compare_run");
        return 2;
    }
    prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);

    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out, 1);
        dup2(err, 2);
        execv(argv[first + 2], argv + first + 2);
        _exit(127);
    }
    if (pid < 0) {
        std::perror("compare_run: fork");
        return 2;
    }
    close(out);
    close(err);

    int status = 0;
    struct rusage usage;
    long ownKib = 0;
    std::map<pid_t, long> children;
    for (;;) {
        pid_t ended = wait4(pid, &status, sample ? WNOHANG : 0, &usage);
        if (ended == pid) {
            break;
        }
        if (ended < 0 && errno != EINTR) {
            std::perror("compare_run: wait4");
            return 2;
        }
        if (sample) {
            long kib = HighWaterKib(pid);
            ownKib = kib > ownKib ? kib : ownKib;
            for (pid_t child : ChildrenOf(pid)) {
                long childKib = HighWaterKib(child);
                long& peak = children[child];
                peak = childKib > peak ? childKib : peak;
            }
            struct timespec pause = {0, 1000000};
            nanosleep(&pause, nullptr);
        }
    }
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    int orphans = 0;
    for (;;) {
        int orphanStatus;
        if (wait(&orphanStatus) > 0) {
            ++orphans;
        } else if (errno != EINTR) {
            break;
        }
    }
    struct rusage tree;
    getrusage(RUSAGE_CHILDREN, &tree);
    long childrenKib = 0;
    for (const auto& child : children) {
        childrenKib = child.second > childrenKib ? child.second : childrenKib;
    }
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::printf("code=%d wall_s=%.6f cpu_s=%.6f max_rss_kib=%ld orphans=%d own_kib=%ld "
                "children_kib=%ld children=%zu\n",
                code, wall, Seconds(tree.ru_utime) + Seconds(tree.ru_stime), usage.ru_maxrss,
                orphans, ownKib, childrenKib, children.size());
    return 0;
}
