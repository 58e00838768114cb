// Replays saved inputs through a fuzz target without libFuzzer: every file
// named on the command line, and every file in every folder named there
// (sorted, not recursive; READMEs aside), goes once to
// LLVMFuzzerTestOneInput. The test suites run it over the seed corpora and
// the damaged-archive fixtures; a crash, a hang or a failed host check
// fails the test, and the last "replay:" line names the input.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "fuzz_host.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool IsFolder(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::vector<std::string> Inputs(const std::string& path) {
    if (!IsFolder(path)) {
        return {path};
    }
    std::vector<std::string> inputs;
    for (const std::string& name : fuzz::FilesIn(path)) {
        if (name[0] != '.' && name.rfind("README", 0) != 0 && !IsFolder(path + "/" + name)) {
            inputs.push_back(path + "/" + name);
        }
    }
    return inputs;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE-OR-FOLDER...\n", argv[0]);
        return 2;
    }
    LLVMFuzzerInitialize(&argc, &argv);
    size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        std::vector<std::string> inputs = Inputs(argv[i]);
        if (inputs.empty()) {
            std::fprintf(stderr, "replay: nothing to replay in %s\n", argv[i]);
            return 1;
        }
        for (const std::string& input : inputs) {
            std::string data;
            if (!fuzz::ReadFile(input, &data)) {
                std::fprintf(stderr, "replay: cannot read %s\n", input.c_str());
                return 1;
            }
            std::printf("replay: %s\n", input.c_str());
            std::fflush(stdout);
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(data.data()), data.size());
            ++count;
        }
    }
    std::printf("replay: %zu inputs, no fault\n", count);
    return 0;
}
