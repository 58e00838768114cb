// Failing system calls on purpose: SystemCallFaults redirects the table of
// system calls (platform/system_calls.h) of the code linked into the test,
// counts and records every call, and makes one chosen call fail with a
// chosen errno instead of being made. SweepSystemCallFailures builds the
// usual test on it: an operation is run once to count its calls, then once
// per call k and per errno the system really gives for that call, with only
// call k failing, and its promise is checked after each run.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

// One call as the code made it: its name in the table, the paths or the
// descriptor it was given, and its result (-1 for a failed call; for calls
// that give a pointer, 1 or 0).
struct SystemCallRecord {
    std::string name;
    std::string path;  // the first path argument, if any
    std::string path2; // the second (rename, link), if any
    int fd = -1;       // the descriptor argument, if any (the target of ficlone)
    int flags = 0;     // open's flags
    long result = 0;
};

// Redirects every entry of SystemCalls while it lives; puts the real calls
// back when it goes. Only one may live at a time.
class SystemCallFaults {
  public:
    SystemCallFaults();
    ~SystemCallFaults();
    SystemCallFaults(const SystemCallFaults&) = delete;
    SystemCallFaults& operator=(const SystemCallFaults&) = delete;

    // Starts counting and recording afresh. Call `number` (from 1) of what
    // follows fails with `error`, without being made (close and closedir
    // still release the descriptor, as the system does); 0 fails none.
    void Arm(int number = 0, int error = 0);

    // Every call named `name` fails with `error` from now on (until the next
    // Arm), as on a system that does not offer it; such calls still count.
    void FailEvery(const std::string& name, int error);

    int count() const;  // calls since Arm
    bool fired() const; // whether the armed call was reached
    std::vector<SystemCallRecord> records() const;
};

// Not errnos: the armed write stores only part of its data and succeeds with
// that count. After kShortWrite every later write fails with ENOSPC, as when
// a disk fills in the middle of a write; after kPartialWrite they succeed, as
// after a write cut short by a signal.
constexpr int kShortWrite = -1;
constexpr int kPartialWrite = -2;

// The ways a call fails for real reasons: a full disk or quota (ENOSPC, and a
// short write), a broken medium or lost connection (EIO), a permission
// (EACCES), as far as the call can give them.
std::vector<int> RealisticErrors(const std::string& call);

// One failing run of a sweep.
struct SweepStep {
    int call = 0;                          // the number of the failed call
    std::string name;                      // its name in the counting run
    int error = 0;                         // the errno it failed with
    bool fired = false;                    // false when this run made fewer calls than the count
    std::vector<SystemCallRecord> records; // the calls of this run
};

// Calls that fail every time in a sweep, as on a system that lacks them:
// (name, errno) pairs.
using AlwaysFailing = std::vector<std::pair<std::string, int>>;

// Runs `prepare` and `operation` once with the calls counted, then for each
// call k of that run and each realistic errno of it: `prepare`, `operation`
// with only call k failing (and the calls of `always`), and `check`. Each
// step is traced in failure messages. Returns the number of failing runs.
int SweepSystemCallFailures(const std::function<void()>& prepare,
                            const std::function<void()>& operation,
                            const std::function<void(const SweepStep&)>& check,
                            const AlwaysFailing& always = {});

// True when the call that failed in `step` (not merely cut short) is one that puts data where it
// belongs, so that the operation cannot have succeeded without it: a write,
// a copy, the flush or the close of a file opened for writing, a rename or
// link. (Flushing a folder, closing a file only read, and the calls of a
// route that has another way round are not.)
bool StoresData(const SweepStep& step);

// A step's description for failure messages: "call 7 of 31, fsync: EIO".
std::string Describe(const SweepStep& step, int total);
