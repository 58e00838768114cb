// Fuzz target: every member of an archive tested, then extracted, as a file
// manager tests an archive and copies its members out. Half of the members
// are extracted over a file that is already there: a failed extraction must
// keep that file as it was and leave no new file behind.
#include "fuzz_host.h"

#include <algorithm>

namespace {

// A member that runs past this is stopped through the progress callback,
// as a user stops an extraction that fills the disk.
constexpr uint64_t kMemberCap = 64u << 20;

const char kOldContent[] = "the file that was there before";

std::string Destination(size_t index) {
    return fuzz::RunPath("out/m" + std::to_string(index));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::ClearRun();
    std::string archive = fuzz::RunPath("input.mpq");
    fuzz::WriteFile(archive, data, size);
    fuzz::UseSettings(fuzz::RunPath("no-settings.ini"));

    fuzz::Walk(archive, kOpenExtract, [](void* handle, size_t, const std::string&) {
        fuzz::Process(handle, kOpTest, std::string(), kMemberCap);
    });

    std::vector<std::string> outputs;
    fuzz::MakeFolder(fuzz::RunPath("out"));
    fuzz::Walk(archive, kOpenExtract, [&](void* handle, size_t index, const std::string& name) {
        std::string dest = Destination(index);
        bool existed = index % 2 == 1;
        if (existed) {
            fuzz::WriteFile(dest, kOldContent);
        }
        int result = fuzz::Process(handle, kOpExtract, dest, kMemberCap);
        std::string content;
        if (result != kResultOk && existed &&
            (!fuzz::ReadFile(dest, &content) || content != kOldContent)) {
            fuzz::Fail("a failed extraction of %s (%d) lost the file it was to replace",
                       name.c_str(), result);
        }
        if (result != kResultOk && !existed && fuzz::Exists(dest)) {
            fuzz::Fail("a failed extraction of %s (%d) left its file", name.c_str(), result);
        }
        if (fuzz::Exists(dest)) {
            outputs.push_back("m" + std::to_string(index));
        }
    });
    std::sort(outputs.begin(), outputs.end());
    fuzz::CheckOnlyFiles(fuzz::RunPath("out"), outputs, "extraction");
    return 0;
}
