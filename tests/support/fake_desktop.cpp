#include "support/fake_desktop.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The stand-in, one script for both programs (dash's builtins only: PATH
// holds nothing else).
const char kStandIn[] = R"(#!/bin/sh
{
  printf '\036%s\n' "${0##*/}"
  for argument in "$@"; do printf '%s\n' "$argument"; done
} >>"$FAKE_DESKTOP_LOG"
if [ -n "${FAKE_DESKTOP_SIGNALS+set}" ]; then
  while read -r key value; do
    [ "$key" = SigBlk: ] && printf '%s\n' "$value" >>"$FAKE_DESKTOP_SIGNALS"
    [ "$key" = SigIgn: ] && [ -n "${FAKE_DESKTOP_IGNORED+set}" ] &&
      printf '%s\n' "$value" >>"$FAKE_DESKTOP_IGNORED"
  done </proc/$$/status
fi
if [ -n "${FAKE_DESKTOP_INPUT+set}" ]; then
  if [ /proc/$$/fd/0 -ef /dev/null ]; then echo /dev/null; else echo other; fi >>"$FAKE_DESKTOP_INPUT"
fi
case ${0##*/} in
  zenity) status=${FAKE_ZENITY_STATUS:-${FAKE_DESKTOP_STATUS:-0}} ;;
  *) status=${FAKE_DESKTOP_STATUS:-0} ;;
esac
[ "$status" = -9 ] && kill -9 $$
if [ "$status" = 0 ] && [ -n "${FAKE_DESKTOP_RAW+set}" ]; then
  printf '%s' "$FAKE_DESKTOP_RAW"
elif [ "$status" = 0 ] && [ -n "${FAKE_DESKTOP_FIELDS+set}" ]; then
  separator='|'
  for argument in "$@"; do
    case $argument in --separator=*) separator=${argument#--separator=} ;; esac
  done
  set -f
  fields="$FAKE_DESKTOP_FIELDS;"
  IFS=';'
  first=1
  for field in $fields; do
    [ "$first" = 1 ] || printf '%s' "$separator"
    printf '%s' "$field"
    first=0
  done
  printf '\n'
fi
exit "$status"
)";

} // namespace

ScopedVariable::ScopedVariable(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    old_ = old ? old : "";
    if (value) {
        setenv(name, value, 1);
    } else {
        unsetenv(name);
    }
}

ScopedVariable::~ScopedVariable() {
    if (had_) {
        setenv(name_.c_str(), old_.c_str(), 1);
    } else {
        unsetenv(name_.c_str());
    }
}

FakeDesktop::FakeDesktop(const std::vector<std::string>& programs)
    : path_("PATH", dir_.path().c_str()), display_("DISPLAY", ":99"),
      wayland_("WAYLAND_DISPLAY", nullptr), log_("FAKE_DESKTOP_LOG", dir_.File("log").c_str()) {
    for (const std::string& program : programs) {
        WriteFileText(dir_.File(program), kStandIn);
        chmod(dir_.File(program).c_str(), 0755);
    }
    WriteFileText(dir_.File("log"), "");
    unsetenv("FAKE_ZENITY_STATUS");
    Answer(0);
}

void FakeDesktop::Answer(int status, const char* fields, const char* raw) {
    setenv("FAKE_DESKTOP_STATUS", std::to_string(status).c_str(), 1);
    fields ? setenv("FAKE_DESKTOP_FIELDS", fields, 1) : unsetenv("FAKE_DESKTOP_FIELDS");
    raw ? setenv("FAKE_DESKTOP_RAW", raw, 1) : unsetenv("FAKE_DESKTOP_RAW");
}

void FakeDesktop::AnswerZenity(int status) {
    setenv("FAKE_ZENITY_STATUS", std::to_string(status).c_str(), 1);
}

std::vector<std::vector<std::string>> FakeDesktop::Calls() const {
    std::vector<std::vector<std::string>> calls;
    std::string log = ReadFileText(dir_.File("log"));
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find('\n', start);
        if (end == std::string::npos) {
            end = log.size();
        }
        std::string line = log.substr(start, end - start);
        if (!line.empty() && line[0] == '\036') {
            calls.push_back({line.substr(1)});
        } else if (!calls.empty()) {
            calls.back().push_back(line);
        }
        start = end + 1;
    }
    return calls;
}

int RunWithoutTerminal(const std::function<int()>& body, bool terminal, std::string* errors) {
    TempDir dir;
    std::string errorFile = dir.File("stderr");
    int master = -1;
    std::string slave;
    if (terminal) {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
            ADD_FAILURE() << "no pseudo-terminal";
            return -1;
        }
        slave = ptsname(master);
    }
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        setsid();
        int fd = terminal ? open(slave.c_str(), O_RDWR | O_NOCTTY)
                          : open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, STDERR_FILENO);
        close(fd);
        int result = body();
        std::fflush(stderr);
        EndChild(result);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (terminal) {
        // What the child wrote waits in the terminal, maybe in several
        // pieces; read them all without waiting.
        fcntl(master, F_SETFL, O_NONBLOCK);
        errors->clear();
        char buffer[4096];
        ssize_t n;
        while ((n = read(master, buffer, sizeof buffer)) > 0) {
            errors->append(buffer, static_cast<size_t>(n));
        }
        close(master);
    } else {
        *errors = ReadFileText(errorFile);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
