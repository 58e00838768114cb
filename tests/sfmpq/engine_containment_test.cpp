// The engine process: whatever happens to it - killed, exiting at any step,
// hung - fails the calls of its own handle only, never the host; an update
// it dies in leaves the archive as it was; and it cannot reach the network
// or run programs.
#include "sfmpq_test_support.h"

#include "sfmpq/engine_protocol.h"
#include "tests/support/descriptors.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sched.h>
#include <set>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "sfmpq/engine_client.h"
#include "sfmpq/list_records.h"

namespace {

// The engines this process has started and not yet ended.
std::vector<pid_t> Engines() {
    std::vector<pid_t> pids;
    DIR* tasks = opendir("/proc/self/task");
    while (struct dirent* task = tasks ? readdir(tasks) : nullptr) {
        if (task->d_name[0] == '.') {
            continue;
        }
        std::string path = std::string("/proc/self/task/") + task->d_name + "/children";
        if (std::FILE* file = std::fopen(path.c_str(), "r")) {
            int pid = 0;
            while (std::fscanf(file, "%d", &pid) == 1) {
                pids.push_back(pid);
            }
            std::fclose(file);
        }
    }
    if (tasks) {
        closedir(tasks);
    }
    return pids;
}

std::string EnginePath() {
    std::string library = SFMPQ_LIBRARY_PATH;
    return library.substr(0, library.rfind('/')) + "/sfmpq-engine";
}

// Names the file in which the library notes engines that ended early, while
// it lives.
class ScopedLog {
  public:
    explicit ScopedLog(const std::string& path) { setenv("SFMPQ_ENGINE_LOG", path.c_str(), 1); }
    ~ScopedLog() { unsetenv("SFMPQ_ENGINE_LOG"); }
    ScopedLog(const ScopedLog&) = delete;
    ScopedLog& operator=(const ScopedLog&) = delete;
};

TEST(EngineContainment, AKilledEngineFailsItsHandleWithEioAndNothingElse) {
    Folder folder;
    std::string log = folder / "engines.log";
    ScopedLog engineLog(log);
    std::string big = Content(16 << 20, 3, false);
    const std::string wave = std::string("RIFF\x24\0\0\0WAVEfmt ", 16) + "sound";
    WriteWithStorm(folder / "a.mpq", {{"big", big, 0, 0, 0}, {"small", "small"}, {"s", wave}});
    MpqHandle archive = nullptr;
    ASSERT_TRUE(Lib().SFileOpenArchive((folder / "a.mpq").c_str(), 0, 0, &archive));
    MpqHandle other = nullptr;
    ASSERT_TRUE(Lib().SFileOpenArchive((folder / "a.mpq").c_str(), 0, 0, &other));
    MpqHandle member = nullptr;
    ASSERT_TRUE(Lib().SFileOpenFileEx(archive, "big", 0, &member));
    std::vector<char> chunk(1 << 20);
    uint32_t got = 0;
    ASSERT_TRUE(Lib().SFileReadFile(member, chunk.data(), 1 << 20, &got, nullptr));
    ASSERT_EQ(got, 1u << 20);

    // Kill the engine of the first handle: it started first, so its pid is
    // the smaller one.
    std::vector<pid_t> engines = Engines();
    ASSERT_EQ(engines.size(), 2u);
    ASSERT_EQ(kill(std::min(engines[0], engines[1]), SIGKILL), 0);

    // What the engine published before it died may still be read; the read
    // that waits for it fails with EIO, and so does every later call.
    int failures = 0;
    for (int i = 1; i < 16 && !failures; ++i) {
        errno = 0;
        if (!Lib().SFileReadFile(member, chunk.data(), 1 << 20, &got, nullptr)) {
            EXPECT_EQ(errno, EIO);
            ++failures;
        }
    }
    EXPECT_EQ(failures, 1);
    errno = 0;
    MpqHandle again = nullptr;
    EXPECT_FALSE(Lib().SFileOpenFileEx(archive, "small", 0, &again));
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(Lib().SFileGetFileInfo(archive, kInfoHashTableSize), 0u);

    // A listing fails while a member of the dead engine is open; once none
    // is, a new engine lists the archive and serves the handle again.
    const pid_t otherEngine = std::max(engines[0], engines[1]);
    auto killOwnEngine = [&] {
        for (pid_t engine : Engines()) {
            if (engine != otherEngine) {
                kill(engine, SIGKILL);
            }
        }
    };
    std::vector<ListEntry> entries(Lib().SFileGetFileInfo(other, kInfoHashTableSize));
    errno = 0;
    EXPECT_FALSE(Lib().SFileListFiles(archive, nullptr, entries.data(), 0));
    EXPECT_EQ(errno, EIO);
    EXPECT_TRUE(Lib().SFileCloseFile(member));
    ASSERT_TRUE(Lib().SFileListFiles(archive, "big;small", entries.data(), kListIsText));
    // Made again without guesses: the sound no list names gets "xxx", where
    // the other handle's listing guesses "wav".
    std::vector<ListEntry> guessed(entries.size());
    ASSERT_TRUE(Lib().SFileListFiles(other, "big;small", guessed.data(), kListIsText));
    std::set<std::string> names;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].exists) {
            std::string name = entries[i].name;
            if (name.rfind("Unknown\\", 0) == 0 && name.size() > 4) {
                EXPECT_EQ(name.substr(name.size() - 4), ".xxx");
                EXPECT_EQ(std::string(guessed[i].name), name.substr(0, name.size() - 4) + ".wav");
                name = "unnamed";
            }
            names.insert(name);
        }
    }
    EXPECT_EQ(names, (std::set<std::string>{"(listfile)", "big", "small", "unnamed"}));
    EXPECT_EQ(Extract(archive, "small"), "small");
    // A member asked for out of the stream's order restarts the stream: with
    // the engine dead that fails too, and a listing brings a new one again.
    killOwnEngine();
    errno = 0;
    EXPECT_FALSE(Lib().SFileOpenFileEx(archive, "small", 0, &member));
    EXPECT_EQ(errno, EIO);
    ASSERT_TRUE(Lib().SFileListFiles(archive, "big;small", entries.data(), kListIsText));

    // A member read by request and reply (opened beside another) of a dead
    // engine has neither data nor a size.
    MpqHandle first = nullptr;
    ASSERT_TRUE(Lib().SFileOpenFileEx(archive, "small", 0, &first));
    ASSERT_TRUE(Lib().SFileOpenFileEx(archive, "big", 0, &member));
    killOwnEngine();
    for (int i = 0; i < 2; ++i) {
        got = 5;
        errno = 0;
        EXPECT_FALSE(Lib().SFileReadFile(member, chunk.data(), 1 << 20, &got, nullptr));
        EXPECT_EQ(errno, EIO);
        EXPECT_EQ(got, 0u);
    }
    errno = 0;
    EXPECT_EQ(Lib().SFileGetFileSize(member, nullptr), 0xFFFFFFFFu);
    EXPECT_EQ(errno, EIO);
    EXPECT_TRUE(Lib().SFileCloseFile(member));
    EXPECT_TRUE(Lib().SFileCloseFile(first));
    // A new engine that cannot open the archive again fails the listing with
    // its reason.
    ASSERT_EQ(std::remove((folder / "a.mpq").c_str()), 0);
    errno = 0;
    EXPECT_FALSE(Lib().SFileListFiles(archive, nullptr, entries.data(), 0));
    EXPECT_EQ(errno, ENOENT);
    errno = 0;
    EXPECT_EQ(Lib().SFileGetFileInfo(archive, kInfoHashTableSize), 0u);
    EXPECT_EQ(errno, EIO) << "the handle has no engine";
    EXPECT_EQ(Engines().size(), 1u) << "but the other handle's";
    EXPECT_TRUE(Lib().SFileCloseArchive(archive));
    EXPECT_EQ(ReadFile(log), "died: signal 9\ndied: signal 9\ndied: signal 9\n");

    // The other handle has its own engine.
    EXPECT_EQ(Extract(other, "small"), "small");
    EXPECT_TRUE(Extract(other, "big") == big);
    EXPECT_TRUE(Lib().SFileCloseArchive(other));
    EXPECT_TRUE(Engines().empty());
}

// An update that fails once its engine has started ends that engine: for an
// archive another update holds, and for one nobody may write.
TEST(EngineContainment, AnUpdateThatCannotBeOpenedLeavesNoEngine) {
    Folder folder;
    std::string held = folder / "held.mpq";
    std::string readOnly = folder / "ro.mpq";
    ASSERT_TRUE(AddFiles(held, {{"a", "a"}}));
    ASSERT_TRUE(AddFiles(readOnly, {{"a", "a"}}));
    ASSERT_EQ(chmod(readOnly.c_str(), 0444), 0);
    MpqHandle first = Lib().MpqOpenArchiveForUpdate(held.c_str(), 0x21, 64);
    ASSERT_NE(first, nullptr);
    const struct {
        std::string path;
        int error;
    } failures[] = {{held, EBUSY}, {readOnly, EACCES}};
    for (const auto& failure : failures) {
        errno = 0;
        EXPECT_EQ(Lib().MpqOpenArchiveForUpdate(failure.path.c_str(), 0x21, 64), nullptr);
        EXPECT_EQ(errno, failure.error);
        EXPECT_EQ(Engines().size(), 1u) << failure.path << ": only the held update's engine";
    }
    EXPECT_TRUE(Lib().MpqCloseUpdatedArchive(first, 0));
    EXPECT_TRUE(Engines().empty());
}

TEST(EngineContainment, AnEngineEndingAtAnyStepOfAnUpdateLeavesTheArchiveAsItWas) {
    // Format 1, and format 4 with its HET and BET tables.
    for (uint32_t format : {0u, 3u}) {
        Folder folder;
        std::string archive = folder / "a.mpq";
        WriteWithStorm(archive, {{"a", Content(300000, 1, true)}, {"b", "b"}, {"c", "c"}}, true, 64,
                       format);
        std::string before = ReadFile(archive);
        WriteFile(folder / "new", Content(200000, 9, false));
        bool completed = false;
        // The engine ends on receiving its k-th request: open, probe,
        // additions, the deletion, the close and the check of the written
        // copy, for every k until the update goes through. It goes through
        // only when its engine served every request: the library notes each
        // engine that ended early in the log.
        std::string log = folder / "engines.log";
        ScopedLog engineLog(log);
        for (int k = 1; k < 20 && !completed; ++k) {
            WriteFile(log, "");
            uint32_t sentBefore = 0;
            for (const auto& kind : RequestsSent) {
                sentBefore += kind;
            }
            setenv("SFMPQ_ENGINE_EXIT_AT", std::to_string(k).c_str(), 1);
            MpqHandle h = Lib().MpqOpenArchiveForUpdate(archive.c_str(), 0x21, 64);
            unsetenv("SFMPQ_ENGINE_EXIT_AT");
            if (h) {
                Lib().MpqAddFileToArchiveEx(h, (folder / "new").c_str(), "new", 0x10201, 2, 9);
                Lib().MpqAddFileToArchiveEx(h, (folder / "new").c_str(), "a", 0x10201, 2, 9);
                Lib().MpqDeleteFile(h, "b");
                // An update's dead engine is not replaced to list.
                std::vector<ListEntry> entries(
                    std::max(Lib().SFileGetFileInfo(h, kInfoHashTableSize), 1u));
                errno = 0;
                if (!Lib().SFileListFiles(h, nullptr, entries.data(), 0)) {
                    EXPECT_EQ(errno, EIO) << format << " step " << k;
                }
                completed = Lib().MpqCloseUpdatedArchive(h, 0) != 0;
            }
            if (!completed) {
                EXPECT_TRUE(ReadFile(archive) == before) << format << " step " << k;
                EXPECT_EQ(errno, EIO) << format << " step " << k;
                EXPECT_EQ(ReadFile(log), "died: exit 70\n") << format << " step " << k;
            } else {
                EXPECT_EQ(ReadFile(log), "") << format << " step " << k;
                // The update that goes through is the first whose requests
                // all come before the k-th.
                uint32_t sent = 0;
                for (const auto& kind : RequestsSent) {
                    sent += kind;
                }
                EXPECT_EQ(sent - sentBefore, uint32_t(k - 1)) << format;
            }
            EXPECT_EQ(folder.Files(), (std::vector<std::string>{"a.mpq", "engines.log", "new"}))
                << format << " step " << k;
        }
        ASSERT_TRUE(completed) << format;
        EXPECT_TRUE(ExtractFrom(archive, "a") == ReadFile(folder / "new")) << format;
        EXPECT_TRUE(Engines().empty());
    }
}

// The deadline counts from an engine's last sign of progress, not from the
// start of the call: an add that has made progress for longer than the
// deadline may then stand still for a while, and still complete. (Each test
// runs in a process of its own, so its first engine reads this deadline.)
TEST(EngineContainment, ProgressGivesAnEngineItsDeadlineAfresh) {
    setenv("SFMPQ_ENGINE_DEADLINE_MS", "3500", 1);
    Folder folder;
    std::string large = Content(10 << 20, 5, true);
    WriteFile(folder / "large", large);
    MpqHandle update = Lib().MpqOpenArchiveForUpdate((folder / "a.mpq").c_str(), 0x21, 64);
    ASSERT_NE(update, nullptr);
    std::vector<pid_t> engines = Engines();
    ASSERT_EQ(engines.size(), 1u);
    // For 2.8 seconds the engine runs a tenth of the time, making progress
    // all along; then it stands still for 2.2, long enough for two of the
    // library's one-second looks to see no progress, and may go on.
    std::atomic<bool> added{false};
    std::thread pacer([&] {
        using namespace std::chrono;
        auto start = steady_clock::now();
        while (!added && steady_clock::now() - start < milliseconds(2800)) {
            kill(engines[0], SIGSTOP);
            std::this_thread::sleep_for(milliseconds(180));
            kill(engines[0], SIGCONT);
            std::this_thread::sleep_for(milliseconds(20));
        }
        if (!added) {
            kill(engines[0], SIGSTOP);
            std::this_thread::sleep_for(milliseconds(2200));
        }
        kill(engines[0], SIGCONT);
    });
    EXPECT_TRUE(
        Lib().MpqAddFileToArchiveEx(update, (folder / "large").c_str(), "large", 0x10201, 0x10, 0));
    added = true;
    pacer.join();
    EXPECT_TRUE(Lib().MpqCloseUpdatedArchive(update, 0));
    EXPECT_TRUE(ExtractFrom(folder / "a.mpq", "large") == large);
    unsetenv("SFMPQ_ENGINE_DEADLINE_MS");
}

// Under a deadline shorter than a second, a wait for a reply lasts that
// deadline too: an engine that hangs inside a request (here opening the first
// member, by which its work-ahead starts) is ended at once, not when something
// else ends it. (Each test runs in a process of its own, so its first engine
// reads this deadline.)
TEST(EngineContainment, AnEngineHungInARequestIsEndedAtADeadlineUnderASecond) {
    setenv("SFMPQ_ENGINE_DEADLINE_MS", "300", 1);
    setenv("SFMPQ_ENGINE_STALL_ON", "stuck.txt", 1);
    Folder folder;
    std::string log = folder / "engines.log";
    ScopedLog engineLog(log);
    WriteWithStorm(folder / "a.mpq", {{"stuck.txt", "never read"}});
    MpqHandle archive = nullptr;
    ASSERT_TRUE(Lib().SFileOpenArchive((folder / "a.mpq").c_str(), 0, 0, &archive));
    // Should the call not return, its engine is ended after five seconds.
    std::atomic<bool> returned{false};
    std::thread watchdog([&] {
        for (int i = 0; i < 50 && !returned; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        for (pid_t engine : returned ? std::vector<pid_t>() : Engines()) {
            kill(engine, SIGKILL);
        }
    });
    auto start = std::chrono::steady_clock::now();
    MpqHandle member = nullptr;
    errno = 0;
    EXPECT_FALSE(Lib().SFileOpenFileEx(archive, "stuck.txt", 0, &member));
    EXPECT_EQ(errno, EIO);
    returned = true;
    watchdog.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_TRUE(Lib().SFileCloseArchive(archive));
    EXPECT_EQ(ReadFile(log), "ended: no progress\n");

    // The same engine hung in its work-ahead, while the caller waits for the
    // member that comes next in the listing's order: read before it, the
    // member whose open it stands still in fails at the deadline too.
    std::vector<StormMember> members = {{"stuck.txt", "never read"}};
    for (char c = 'a'; c <= 'h'; ++c) {
        members.push_back({std::string(1, c), std::string(3000, c)});
    }
    WriteWithStorm(folder / "b.mpq", members);
    const char* names = "stuck.txt;a;b;c;d;e;f;g;h";
    std::vector<ListEntry> listed = List(folder / "b.mpq", names, kListIsText);
    size_t stuck = 0;
    while (stuck < listed.size() && std::string(listed[stuck].name) != "stuck.txt") {
        ++stuck;
    }
    ASSERT_TRUE(stuck > 0 && stuck < listed.size()) << "a member is listed before stuck.txt";
    const std::string before = listed[stuck - 1].name;
    ASSERT_EQ(before.size(), 1u) << before;
    ASSERT_TRUE(Lib().SFileOpenArchive((folder / "b.mpq").c_str(), 0, 0, &archive));
    std::vector<ListEntry> entries(Lib().SFileGetFileInfo(archive, kInfoHashTableSize));
    ASSERT_TRUE(Lib().SFileListFiles(archive, names, entries.data(), kListIsText));
    ASSERT_TRUE(Lib().SFileOpenFileEx(archive, before.c_str(), 0, &member));
    std::vector<char> data(3000);
    uint32_t got = 0;
    EXPECT_TRUE(Lib().SFileReadFile(member, data.data(), 3000, &got, nullptr));
    EXPECT_EQ(std::string(data.data(), got), std::string(3000, before[0]));
    EXPECT_TRUE(Lib().SFileReadFile(member, data.data(), 3000, &got, nullptr));
    EXPECT_EQ(got, 0u) << "read to its end, so that the stream is at the next member";
    EXPECT_TRUE(Lib().SFileCloseFile(member));
    start = std::chrono::steady_clock::now();
    const uint32_t restarts = RequestsSent[uint32_t(sfmpq::engine::Op::StreamFrom)];
    errno = 0;
    EXPECT_FALSE(Lib().SFileOpenFileEx(archive, "stuck.txt", 0, &member));
    EXPECT_EQ(RequestsSent[uint32_t(sfmpq::engine::Op::StreamFrom)], restarts)
        << "the member that comes next is waited for, not asked for";
    EXPECT_EQ(errno, EIO);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_TRUE(Lib().SFileCloseArchive(archive));
    EXPECT_EQ(ReadFile(log), "ended: no progress\nended: no progress\n");
    EXPECT_TRUE(Engines().empty());
    unsetenv("SFMPQ_ENGINE_STALL_ON");
    unsetenv("SFMPQ_ENGINE_DEADLINE_MS");
}

// Whether process `pid` still runs (a zombie has ended).
bool Running(pid_t pid) {
    std::FILE* stat = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
    char state = 'X';
    if (stat) {
        if (std::fscanf(stat, "%*d (%*[^)]) %c", &state) != 1) {
            state = 'X';
        }
        std::fclose(stat);
    }
    return state != 'Z' && state != 'X';
}

// An engine stuck inside the library ends by itself once its host is gone,
// which can no longer end it.
TEST(EngineContainment, AnEngineStuckInTheLibraryEndsWhenItsHostIsGone) {
    setenv("SFMPQ_ENGINE_STALL_ON", "stuck.txt", 1);
    Folder folder;
    WriteWithStorm(folder / "a.mpq", {{"stuck.txt", "never read"}});
    int channel[2];
    ASSERT_EQ(pipe(channel), 0);
    pid_t host = fork();
    if (host == 0) {
        MpqHandle archive = nullptr;
        Lib().SFileOpenArchive((folder / "a.mpq").c_str(), 0, 0, &archive);
        std::vector<pid_t> engines = Engines();
        pid_t engine = engines.size() == 1 ? engines[0] : 0;
        if (write(channel[1], &engine, sizeof engine) == sizeof engine) {
            MpqHandle member = nullptr;
            Lib().SFileOpenFileEx(archive, "stuck.txt", 0, &member); // stands still
        }
        _exit(0);
    }
    close(channel[1]);
    pid_t engine = 0;
    ASSERT_EQ(read(channel[0], &engine, sizeof engine), ssize_t(sizeof engine));
    close(channel[0]);
    ASSERT_GT(engine, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // stuck by now
    kill(host, SIGKILL);
    waitpid(host, nullptr, 0);
    bool ended = false;
    for (int i = 0; i < 30 && !ended; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ended = !Running(engine);
    }
    if (!ended) {
        kill(engine, SIGKILL);
    }
    EXPECT_TRUE(ended);
    unsetenv("SFMPQ_ENGINE_STALL_ON");
}

TEST(EngineContainment, TheEngineCannotOpenASocketRunAProgramOrWriteAFile) {
    std::FILE* probe = popen((EnginePath() + " --probe-sandbox").c_str(), "r");
    ASSERT_NE(probe, nullptr);
    std::string output;
    char line[256];
    while (std::fgets(line, sizeof line, probe)) {
        output += line;
    }
    EXPECT_EQ(pclose(probe), 0) << output;
    for (const char* what :
         {"network socket: refused", "local socket: refused", "local socket pair: refused",
          "running a program: refused", "running a program by execveat: refused",
          "creating a process: refused", "signalling another process: refused",
          "writing a file: refused", "being dumped or traced: refused"}) {
        EXPECT_NE(output.find(what), std::string::npos) << what << " in:\n" << output;
    }
}

TEST(EngineContainment, HandlesOfSeveralThreadsWorkAtOnce) {
    Folder folder;
    std::vector<std::string> contents;
    for (uint32_t i = 0; i < 4; ++i) {
        contents.push_back(Content(3 << 20, i, i % 2 == 0));
        WriteWithStorm(folder / (std::to_string(i) + ".mpq"),
                       {{"data", contents[i]}, {"more", Content(5000, i + 10, true)}});
    }
    std::vector<int> same(4, 0);
    std::vector<std::thread> readers;
    for (uint32_t i = 0; i < 4; ++i) {
        readers.emplace_back([&, i] {
            for (int round = 0; round < 5; ++round) {
                std::string path = folder / (std::to_string(i) + ".mpq");
                same[i] += ExtractFrom(path, "data") == contents[i];
            }
        });
    }
    for (std::thread& reader : readers) {
        reader.join();
    }
    EXPECT_EQ(same, (std::vector<int>{5, 5, 5, 5}));
}

// Each engine runs under the limits it set itself: no core file, 3 GiB of
// address space (not under AddressSanitizer, which reserves terabytes), and
// for a reader no file written at all.
TEST(EngineContainment, EnginesRunUnderTheirOwnResourceLimits) {
#if defined(__SANITIZE_ADDRESS__)
    const bool addressLimit = false;
#elif defined(__has_feature)
    const bool addressLimit = !__has_feature(address_sanitizer);
#else
    const bool addressLimit = true;
#endif
    Folder folder;
    WriteWithStorm(folder / "a.mpq", {{"a", "a"}});
    MpqHandle reader = nullptr;
    ASSERT_TRUE(Lib().SFileOpenArchive((folder / "a.mpq").c_str(), 0, 0, &reader));
    MpqHandle update = Lib().MpqOpenArchiveForUpdate((folder / "a.mpq").c_str(), 0x21, 64);
    ASSERT_NE(update, nullptr);
    std::vector<pid_t> engines = Engines();
    ASSERT_EQ(engines.size(), 2u);
    std::sort(engines.begin(), engines.end()); // the reader's first
    for (pid_t engine : engines) {
        const bool isReader = engine == engines[0];
        SCOPED_TRACE(isReader ? "reader" : "updater");
        // The soft limit, or with `hard` the hard one.
        auto limit = [engine](const std::string& what, bool hard = false) {
            const std::string limits = ReadFile("/proc/" + std::to_string(engine) + "/limits");
            std::string value;
            size_t at = limits.find(what);
            if (at != std::string::npos) {
                std::istringstream line(limits.substr(at + what.size()));
                line >> value;
                if (hard) {
                    line >> value;
                }
            }
            return value;
        };
        EXPECT_EQ(limit("Max core file size"), "0");
        EXPECT_EQ(limit("Max core file size", true), "0") << "nor may the engine raise it";
        if (addressLimit) {
            EXPECT_EQ(limit("Max address space"), std::to_string(3ull << 30));
        }
        // A reader writes nothing; an update opened on a small archive may
        // write up to the archive's size and a margin of 256 MiB, in whole
        // MiB.
        EXPECT_EQ(limit("Max file size"), isReader ? "0" : std::to_string(257u << 20));
        if (!isReader) {
            // Each file added raises it by the file's size and an eighth,
            // over the archive and every file added before it.
            WriteFile(folder / "4MiB", Content(4 << 20, 1, false));
            for (const char* name : {"b", "c"}) {
                EXPECT_TRUE(Lib().MpqAddFileToArchiveEx(update, (folder / "4MiB").c_str(), name,
                                                        0x200, 2, 0));
            }
            EXPECT_EQ(limit("Max file size"), std::to_string(266u << 20));
        }
    }
    EXPECT_TRUE(Lib().MpqCloseUpdatedArchive(update, 0));
    EXPECT_TRUE(Lib().SFileCloseArchive(reader));
}

// An updating engine, which works while its caller waits, runs on the
// caller's processor: a round trip is then a switch on one core, not a
// wake-up across two. A reading engine works ahead beside its caller.
TEST(EngineContainment, AnUpdatingEngineRunsWhereItsCallerRunsAReaderAnywhere) {
    Folder folder;
    WriteWithStorm(folder / "a.mpq", {{"a", "a"}});
    WriteFile(folder / "new", "new");
    cpu_set_t all;
    ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
    MpqHandle reader = nullptr;
    ASSERT_TRUE(Lib().SFileOpenArchive((folder / "a.mpq").c_str(), 0, 0, &reader));
    MpqHandle update = Lib().MpqOpenArchiveForUpdate((folder / "a.mpq").c_str(), 0x21, 64);
    ASSERT_NE(update, nullptr);
    ASSERT_TRUE(Lib().MpqAddFileToArchiveEx(update, (folder / "new").c_str(), "new", 0x200, 2, 0));
    std::vector<pid_t> engines = Engines();
    ASSERT_EQ(engines.size(), 2u);
    cpu_set_t readerSet, updaterSet;
    ASSERT_EQ(sched_getaffinity(std::min(engines[0], engines[1]), sizeof readerSet, &readerSet), 0);
    ASSERT_EQ(sched_getaffinity(std::max(engines[0], engines[1]), sizeof updaterSet, &updaterSet),
              0);
    EXPECT_EQ(CPU_COUNT(&readerSet), CPU_COUNT(&all));
    EXPECT_EQ(CPU_COUNT(&updaterSet), 1);
    EXPECT_TRUE(Lib().MpqCloseUpdatedArchive(update, 0));
    EXPECT_TRUE(Lib().SFileCloseArchive(reader));
}

// An engine that cannot be started is the library's own fault, not the
// archive's: the calls say ELIBACC whether the program is missing, may not
// be run, or is no program at all, and no file is left behind.
TEST(EngineContainment, AnEngineThatCannotBeStartedFailsWithElibacc) {
    Folder folder;
    WriteWithStorm(folder / "a.mpq", {{"m", "x"}});
    ASSERT_EQ(mkdir((folder / "lib").c_str(), 0700), 0);
    WriteFile(folder / "lib/SFMpq.so", ReadFile(SFMPQ_LIBRARY_PATH));
    for (int engine : {0, 0600, 0700}) { // missing, not executable, not a program
        SCOPED_TRACE(engine);
        if (engine) {
            WriteFile(folder / "lib/sfmpq-engine", "no program\n");
            ASSERT_EQ(chmod((folder / "lib/sfmpq-engine").c_str(), engine), 0);
        }
        void* copy = dlopen((folder / "lib/SFMpq.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(copy, nullptr) << dlerror();
        auto open = reinterpret_cast<int (*)(const char*, uint32_t, uint32_t, MpqHandle*)>(
            dlsym(copy, "SFileOpenArchive"));
        auto update = reinterpret_cast<MpqHandle (*)(const char*, uint32_t, uint32_t)>(
            dlsym(copy, "MpqOpenArchiveForUpdate"));
        ASSERT_TRUE(open && update);
        MpqHandle handle = nullptr;
        errno = 0;
        EXPECT_FALSE(open((folder / "a.mpq").c_str(), 0, 0, &handle));
        EXPECT_EQ(errno, ELIBACC);
        errno = 0;
        MpqHandle h = update((folder / "b.mpq").c_str(), 0x21, 16);
        EXPECT_TRUE(h == nullptr || h == MPQ_INVALID_UPDATE_HANDLE);
        EXPECT_EQ(errno, ELIBACC);
        dlclose(copy);
    }
    EXPECT_EQ(folder.Files(), (std::vector<std::string>{"a.mpq", "lib"}));
}

// The signals of the engine `pid` that its status lists under `field`
// ("SigBlk:", "SigIgn:"), as a mask of bit (signal - 1).
uint64_t SignalMask(pid_t pid, const std::string& field) {
    std::string status = ReadFile("/proc/" + std::to_string(pid) + "/status");
    size_t at = status.find(field);
    return at == std::string::npos ? ~0ull
                                   : std::strtoull(status.c_str() + at + field.size(), nullptr, 16);
}

// An engine gets the host's environment, where its test switches are read,
// and its allocator's settings after any the host has; a process group of
// its own, so that the terminal's Ctrl+C stops the host, not its engines;
// and none of the signals the host blocks or ignores.
TEST(EngineContainment, AnEngineGetsTheHostsEnvironmentAndItsAllocatorSettings) {
    Folder folder;
    WriteWithStorm(folder / "a.mpq", {{"m", "x"}});
    const std::string own =
        "glibc.malloc.mmap_threshold=67108864:glibc.malloc.trim_threshold=134217728";
    const char* outer = std::getenv("GLIBC_TUNABLES");
    const std::string savedTunables = outer ? outer : "";
    unsetenv("GLIBC_TUNABLES");
    sigset_t blocked;
    sigset_t saved;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &blocked, &saved), 0);
    auto* ignored = signal(SIGUSR2, SIG_IGN);
    // A descriptor of the host's, inheritable, right above the engine's own
    // (where it is free) and higher up: the engine gets neither.
    WriteFile(folder / "host-only", "");
    char* real = realpath((folder / "host-only").c_str(), nullptr);
    const std::string hostOnly = real ? real : "";
    std::free(real);
    const int opened = open(hostOnly.c_str(), O_RDONLY);
    const int higher = fcntl(opened, F_DUPFD, 16);
    close(opened);
    const int above = sfmpq::engine::kSpaceReadyFd + 1;
    const bool placed = fcntl(above, F_GETFD) < 0 && dup2(higher, above) == above;
    for (const char* host : {"", "glibc.malloc.tcache_count=7"}) {
        SCOPED_TRACE(host);
        if (*host) {
            setenv("GLIBC_TUNABLES", host, 1);
        }
        setenv("TARNEL_HOST_MARK", "1", 1);
        MpqHandle archive = nullptr;
        ASSERT_TRUE(Lib().SFileOpenArchive((folder / "a.mpq").c_str(), 0, 0, &archive));
        unsetenv("GLIBC_TUNABLES");
        unsetenv("TARNEL_HOST_MARK");
        std::vector<pid_t> engines = Engines();
        ASSERT_EQ(engines.size(), 1u);
        EXPECT_EQ(getpgid(engines[0]), engines[0]);
        EXPECT_EQ(SignalMask(engines[0], "SigBlk:"), 0u);
        EXPECT_EQ(SignalMask(engines[0], "SigIgn:") & (1ull << (SIGUSR2 - 1)), 0u);
        const std::map<int, std::string> engineFds = DescriptorTargets(std::to_string(engines[0]));
        EXPECT_FALSE(engineFds.empty());
        for (const auto& open : engineFds) {
            EXPECT_NE(open.second, hostOnly) << open.first;
        }
        // The engine's start-up may have cut the tunables apart in place, at
        // each ':'.
        std::string environment =
            '\0' + ReadFile("/proc/" + std::to_string(engines[0]) + "/environ");
        std::string expected = "GLIBC_TUNABLES=" + std::string(host) + (*host ? ":" : "") + own;
        std::string cut = expected;
        std::replace(cut.begin(), cut.end(), ':', '\0');
        EXPECT_NE(environment.find(std::string(1, '\0') + "TARNEL_HOST_MARK=1"), std::string::npos);
        size_t at = environment.find(std::string(1, '\0') + "GLIBC_TUNABLES=");
        ASSERT_NE(at, std::string::npos);
        EXPECT_TRUE(environment.compare(at + 1, expected.size(), expected) == 0 ||
                    environment.compare(at + 1, cut.size(), cut) == 0)
            << environment.substr(at + 1, expected.size());
        EXPECT_EQ(environment.find("GLIBC_TUNABLES=", at + 2), std::string::npos) << "once";
        EXPECT_EQ(Extract(archive, "m"), "x");
        EXPECT_TRUE(Lib().SFileCloseArchive(archive));
    }
    if (placed) {
        close(above);
    }
    close(higher);
    signal(SIGUSR2, ignored);
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    if (outer) {
        setenv("GLIBC_TUNABLES", savedTunables.c_str(), 1);
    }
}

// The descriptors this process has open.
std::set<int> OpenDescriptors() {
    std::set<int> fds;
    DIR* folder = opendir("/proc/self/fd");
    while (struct dirent* entry = folder ? readdir(folder) : nullptr) {
        if (entry->d_name[0] != '.' && std::atoi(entry->d_name) != dirfd(folder)) {
            fds.insert(std::atoi(entry->d_name));
        }
    }
    if (folder) {
        closedir(folder);
    }
    return fds;
}

// A process at its limit of descriptors cannot give an engine its channel:
// the open fails with EMFILE, at whichever descriptor it ran out, and leaves
// no descriptor open and no engine running.
TEST(EngineContainment, AProcessOutOfDescriptorsFailsTheOpenAndLeaksNothing) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizers need descriptors of their own to look at memory";
#endif
    Folder folder;
    WriteWithStorm(folder / "a.mpq", {{"m", "x"}});
    Lib();
    // No descriptor below the highest one is free: the limit below leaves
    // room for exactly `spare` more.
    std::vector<int> fillers;
    auto fillGaps = [&fillers] {
        for (int top = *OpenDescriptors().rbegin();;) {
            int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (fd < 0 || fd > top) {
                close(fd);
                break;
            }
            fillers.push_back(fd);
        }
    };
    fillGaps();
    const std::set<int> before = OpenDescriptors();
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    int failures = 0;
    MpqHandle archive = nullptr;
    for (int spare = 0; spare < 16 && !archive; ++spare) {
        SCOPED_TRACE(spare);
        struct rlimit limit = saved;
        limit.rlim_cur = static_cast<rlim_t>(*before.rbegin() + 1 + spare);
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
        errno = 0;
        int opened = Lib().SFileOpenArchive((folder / "a.mpq").c_str(), 0, 0, &archive);
        int error = errno;
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
        if (!opened) {
            ++failures;
            EXPECT_EQ(error, EMFILE);
            EXPECT_EQ(archive, nullptr);
            EXPECT_EQ(OpenDescriptors(), before);
            EXPECT_TRUE(Engines().empty());
        }
    }
    ASSERT_NE(archive, nullptr);
    EXPECT_GE(failures, 3) << "the file, the socket pair and the events each ran out";
    EXPECT_EQ(Extract(archive, "m"), "x");

    // A listing that must replace the handle's dead engine while the process
    // is at its limit fails; the calls after it fail with EIO (they have no
    // channel to go through) until a listing finds room for a new engine.
    std::vector<ListEntry> entries(Lib().SFileGetFileInfo(archive, kInfoHashTableSize));
    std::vector<pid_t> engines = Engines();
    ASSERT_EQ(engines.size(), 1u);
    ASSERT_EQ(kill(engines[0], SIGKILL), 0);
    fillGaps();
    struct rlimit limit = saved;
    limit.rlim_cur = static_cast<rlim_t>(*OpenDescriptors().rbegin() + 1);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
    errno = 0;
    int listed = Lib().SFileListFiles(archive, "m", entries.data(), kListIsText);
    int error = errno;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_FALSE(listed);
    EXPECT_EQ(error, EMFILE);
    errno = 0;
    EXPECT_EQ(Lib().SFileGetFileInfo(archive, kInfoHashTableSize), 0u);
    EXPECT_EQ(errno, EIO);
    MpqHandle member = nullptr;
    errno = 0;
    EXPECT_FALSE(Lib().SFileOpenFileEx(archive, "m", 0, &member));
    EXPECT_EQ(errno, EIO);
    EXPECT_TRUE(Engines().empty());
    ASSERT_TRUE(Lib().SFileListFiles(archive, "m", entries.data(), kListIsText));
    EXPECT_EQ(Extract(archive, "m"), "x");
    EXPECT_TRUE(Lib().SFileCloseArchive(archive));
    for (int fd : fillers) {
        close(fd);
    }
}

} // namespace

namespace protocol {

using sfmpq::engine::Op;
using sfmpq::engine::Reply;
using sfmpq::engine::Request;

// An engine spoken to directly, as SFMpq.dll speaks to it, for the requests
// that SFMpq.dll's own checks never let through.
class RawEngine {
  public:
    explicit RawEngine(sfmpq::EngineKind kind) { EXPECT_EQ(sfmpq::StartEngine(kind, &engine_), 0); }
    ~RawEngine() { sfmpq::StopEngine(&engine_); }
    RawEngine(const RawEngine&) = delete;
    RawEngine& operator=(const RawEngine&) = delete;

    sfmpq::EngineConnection& connection() { return engine_; }

    // Sends `request` as it is, with the staging area in use unless it names
    // another, and returns the reply (ok -1: none came).
    Reply Call(Request request) {
        if (!request.stagingSize) {
            request.stagingId = engine_.area.staging.id;
            request.stagingSize = engine_.area.staging.size;
        }
        Reply reply = {};
        reply.ok = -1;
        engine_.area.control()->requestPending.store(1);
        if (send(engine_.socket, &request, sizeof request, MSG_NOSIGNAL) != sizeof request) {
            return reply;
        }
        for (int slice = 0; slice < 20; ++slice) {
            if (recv(engine_.socket, &reply, sizeof reply, 0) == sizeof reply ||
                (errno != EAGAIN && errno != EINTR)) {
                break;
            }
        }
        return reply;
    }

  private:
    sfmpq::EngineConnection engine_;
};

Request Make(Op op, const std::string& path = "", const char* name = "", uint32_t flags = 0,
             uint32_t value = 0, uint64_t member = 0) {
    Request request = sfmpq::NewRequest(op);
    EXPECT_TRUE(sfmpq::SetField(request.path, sizeof request.path, path.c_str()));
    EXPECT_TRUE(sfmpq::SetField(request.name, sizeof request.name, name));
    request.flags = flags;
    request.value = value;
    request.member = member;
    request.exists = op == Op::OpenForUpdate;
    request.fileSizeLimit = 64 << 20;
    return request;
}

// A request for `path`, written at the end of a path field it fills: slashes
// before it, and past the field's last character, which the engine takes for
// its end, a name.
Request FullPath(const std::string& path) {
    Request request = Make(Op::Probe, "", "x");
    std::string full = std::string(sfmpq::engine::kMaxPath - 1 - path.size(), '/') + path + "x";
    std::memcpy(request.path, full.data(), sizeof request.path);
    return request;
}

// An open of member `name`, written into a name field it fills, with one
// character more in the field's last place, which the engine takes for its
// end.
Request FullName(const std::string& name) {
    Request request = Make(Op::OpenMember);
    std::string full = name + std::string(sizeof request.name - name.size(), 'x');
    std::memcpy(request.name, full.data(), sizeof request.name);
    return request;
}

struct Step {
    const char* what;
    Request request;
    int error; // 0: the request succeeds
};

void Expect(RawEngine* engine, const std::vector<Step>& steps) {
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        Reply reply = engine->Call(step.request);
        EXPECT_EQ(reply.ok != 0, step.error == 0) << reply.ok;
        EXPECT_EQ(reply.error, step.error) << std::strerror(reply.error);
    }
}

// Every request checks the engine's state and its own fields: a handle the
// engine did not hand out, an archive of the wrong kind, an empty name, an
// unknown request or information code, a staging area it cannot attach, or
// records that do not fit it, fail with their own error and leave the
// engine serving.
TEST(EngineContainment, TheEngineAnswersEveryMalformedRequestWithItsError) {
    Folder folder;
    std::string archive = folder / "a.mpq";
    const std::string big = Content(sfmpq::engine::kInitialStaging + 5000, 1, false);
    const std::string longest(sfmpq::engine::kMaxName - 1, 'l');
    WriteWithStorm(archive, {{"m", "member data"}, {"n", "n"}, {"big", big}, {longest, "l"}});
    WriteFile(folder / "not.mpq", "no archive at all");
    WriteFile(folder / "new", "new data");
    const std::string beyondEnd = std::string(TARNEL_FIXTURES_DIR) + "/damaged/update-growth.mpq";
    const uint64_t nobody = 0x1234;
    RawEngine reader(sfmpq::EngineKind::Reader);
    Expect(
        &reader,
        {
            {"info without archive", Make(Op::GetInfo, "", "", 0, kInfoHashTableSize), EBADF},
            {"list without archive", Make(Op::List, "", "", kListIsText), EBADF},
            {"member without archive", Make(Op::OpenMember, "", "m"), EBADF},
            {"stream without archive", Make(Op::StreamFrom, "", "m"), EBADF},
            {"add without update", Make(Op::AddFile, folder / "new", "x", 0x200, 2), EBADF},
            {"wave without update", Make(Op::AddWave, folder / "new", "x", 0x200, 0), EBADF},
            {"delete without update", Make(Op::DeleteMember, "", "m"), EBADF},
            {"move without update", Make(Op::SetMemberLocale, "", "m", 0, 0, 0), EBADF},
            {"finish without update", Make(Op::FinishUpdate), EBADF},
            {"size of no member", Make(Op::MemberSize, "", "", 0, 0, nobody), EBADF},
            {"read of no member", Make(Op::ReadMember, "", "", 0, 16, nobody), EBADF},
            {"close of no member", Make(Op::CloseMember, "", "", 0, 0, nobody), EBADF},
            {"unknown request", Make(Op(99)), EINVAL},
            {"probe of nothing", Make(Op::Probe, folder / "none.mpq"), ENOENT},
            {"probe of no archive", Make(Op::Probe, folder / "not.mpq"), ENOEXEC},
            {"probe", Make(Op::Probe, archive), 0},
            {"probe of a path that fills its field", FullPath(archive), 0},
            {"written copy with a block beyond its end", Make(Op::VerifyWritten, beyondEnd), EIO},
            {"written copy", Make(Op::VerifyWritten, archive), 0},
            {"open", Make(Op::OpenArchive, archive), 0},
            {"open twice", Make(Op::OpenArchive, archive), EBUSY},
            {"update after open", Make(Op::OpenForUpdate, archive), EBUSY},
            {"info of another code", Make(Op::GetInfo, "", "", 0, kInfoHashTableSize + 1), EINVAL},
            {"member of no name", Make(Op::OpenMember, "", ""), ENOENT},
            {"member of no such name", Make(Op::OpenMember, "", "x"), ENOENT},
            {"member whose name fills its field", FullName(longest), 0},
            {"add to a reader", Make(Op::AddFile, folder / "new", "x", 0x200, 2), EBADF},
            {"delete in a reader", Make(Op::DeleteMember, "", "m"), EBADF},
            {"finish a reader", Make(Op::FinishUpdate), EBADF},
            {"stream", Make(Op::StreamFrom, "", "m"), 0},
        });

    // A member: its size and data through the staging area, then closed.
    Reply info = reader.Call(Make(Op::GetInfo, "", "", 0, kInfoHashTableSize));
    MpqHandle handle = nullptr;
    ASSERT_TRUE(Lib().SFileOpenArchive(archive.c_str(), 0, 0, &handle));
    EXPECT_EQ(info.value, Lib().SFileGetFileInfo(handle, kInfoHashTableSize));
    EXPECT_TRUE(Lib().SFileCloseArchive(handle));
    Reply opened = reader.Call(Make(Op::OpenMember, "", "M"));
    ASSERT_EQ(opened.ok, 1);
    Reply size = reader.Call(Make(Op::MemberSize, "", "", 0, 0, opened.member));
    EXPECT_EQ(size.ok, 1);
    EXPECT_EQ(size.value, 11u);
    Reply read = reader.Call(Make(Op::ReadMember, "", "", 0, 4, opened.member));
    EXPECT_EQ(read.ok, 1);
    EXPECT_EQ(
        std::string(reinterpret_cast<char*>(reader.connection().area.staging.base), read.value),
        "memb");
    // A read of more than the staging area holds delivers what it holds.
    Reply whole = reader.Call(Make(Op::OpenMember, "", "big"));
    read = reader.Call(Make(Op::ReadMember, "", "", 0, UINT32_MAX, whole.member));
    EXPECT_EQ(read.ok, 1);
    EXPECT_EQ(read.value, sfmpq::engine::kInitialStaging);
    EXPECT_TRUE(std::memcmp(reader.connection().area.staging.base, big.data(), read.value) == 0);
    Expect(&reader,
           {
               {"close", Make(Op::CloseMember, "", "", 0, 0, opened.member), 0},
               {"close twice", Make(Op::CloseMember, "", "", 0, 0, opened.member), EBADF},
               {"read after close", Make(Op::ReadMember, "", "", 0, 4, opened.member), EBADF},
           });

    // A staging area that cannot be attached, and one too small for the
    // listing's records.
    int gone = shmget(IPC_PRIVATE, 4096, IPC_CREAT | 0600);
    ASSERT_GE(gone, 0);
    ASSERT_EQ(shmctl(gone, IPC_RMID, nullptr), 0);
    Request unattachable = Make(Op::GetInfo, "", "", 0, kInfoHashTableSize);
    unattachable.stagingId = gone;
    unattachable.stagingSize = 4096;
    ASSERT_EQ(sfmpq::GrowStaging(&reader.connection().area, 2 * sfmpq::engine::kInitialStaging), 0);
    Request small = Make(Op::List, "", "", kListIsText);
    small.stagingId = reader.connection().area.staging.id;
    small.stagingSize = sizeof(sfmpq::ListRecord) + 8;
    Expect(&reader, {{"unattachable staging", unattachable, ENOMEM},
                     {"records beyond the staging", small, ENOMEM}});

    // Started by hand, or given a channel it cannot attach, it ends at once.
    EXPECT_EQ(std::system((EnginePath() + " 2>/dev/null").c_str()), 2 << 8);
    EXPECT_EQ(std::system((EnginePath() + " reader -1").c_str()), 3 << 8);

    // A message of another size ends the engine.
    ASSERT_EQ(send(reader.connection().socket, "short", 5, MSG_NOSIGNAL), 5);
    char ignored[sizeof(Reply)];
    EXPECT_EQ(recv(reader.connection().socket, ignored, sizeof ignored, 0), 0);

    // An update: a replacement that failed part-way fails every later change
    // and the finish with its error.
    WriteFile(folder / "copy.mpq", ReadFile(archive));
    RawEngine updater(sfmpq::EngineKind::Updater);
    Expect(&updater,
           {
               {"update of no archive", Make(Op::OpenForUpdate, folder / "not.mpq"), ENOEXEC},
               {"update", Make(Op::OpenForUpdate, folder / "copy.mpq"), 0},
               {"update twice", Make(Op::OpenForUpdate, folder / "copy.mpq"), EBUSY},
               {"open after update", Make(Op::OpenArchive, folder / "copy.mpq"), EBUSY},
               {"add of no name", Make(Op::AddFile, folder / "new", "", 0x200, 2), EINVAL},
               {"wave of no name", Make(Op::AddWave, folder / "new", "", 0x200, 0), EINVAL},
               {"delete of no name", Make(Op::DeleteMember, "", ""), ENOENT},
               {"move of no name", Make(Op::SetMemberLocale, "", ""), ENOENT},
               {"stream in an update", Make(Op::StreamFrom, "", "m"), EBADF},
               {"list of an update", Make(Op::List, "", "", kListIsText), 0},
               {"member of an update", Make(Op::OpenMember, "", "n"), 0},
               {"add over a member", Make(Op::AddFile, folder / "new", "n", 0x200, 2), EEXIST},
               {"wave over a member", Make(Op::AddWave, folder / "new", "n", 0x200, 0), EEXIST},
               {"replace from nothing", Make(Op::AddFile, folder / "none", "m", 0x201, 2), ENOENT},
               {"add after it", Make(Op::AddFile, folder / "new", "x", 0x200, 2), ENOENT},
               {"delete after it", Make(Op::DeleteMember, "", "n"), ENOENT},
               {"finish after it", Make(Op::FinishUpdate), ENOENT},
               {"add after the finish", Make(Op::AddFile, folder / "new", "x", 0x200, 2), EBADF},
           });

    // Each addition writes under the file-size limit it carries (in whole
    // MiB), not under the one of the request before it.
    WriteWithStorm(folder / "small.mpq", {{"m", "m"}});
    WriteFile(folder / "large", Content(3 << 20, 2, false));
    Request tight = Make(Op::AddFile, folder / "new", "x");
    tight.fileSizeLimit = 1;
    RawEngine limits(sfmpq::EngineKind::Updater);
    Expect(&limits, {
                        {"update", Make(Op::OpenForUpdate, folder / "small.mpq"), 0},
                        {"add within 1 MiB", tight, 0},
                        {"wave of 3 MiB", Make(Op::AddWave, folder / "large", "w", 0, 1), 0},
                        {"delete", Make(Op::DeleteMember, "", "m"), 0},
                    });
    // The finish compacts the archive after the deletion, with a sign of
    // life for each sector it copies (the 3 MiB of the wave's: hundreds),
    // where writing the archive gives a few.
    const uint64_t progress = limits.connection().area.control()->progress.load();
    Expect(&limits, {{"finish", Make(Op::FinishUpdate), 0}});
    EXPECT_GT(limits.connection().area.control()->progress.load(), progress + 100);
}

} // namespace protocol
