// Fuzz target: an archive opened and listed to its end, as a file manager
// lists an archive it shows as a folder. The settings name an external name
// list, so that archives without their own list are listed through it.
#include "fuzz_host.h"

namespace {

const char kNames[] = "(listfile)\r\nreadme.txt\r\nnew.txt\r\ndocs\\guide.txt\r\n"
                      "war3map.j;war3map.w3e\nsounds\\click.wav\nmaps\\level.w3m\n";

const std::string& Settings() {
    static const std::string path = [] {
        std::string names = fuzz::KeptPath("names.txt");
        fuzz::WriteFile(names, kNames);
        std::string settings = fuzz::KeptPath("settings.ini");
        fuzz::WriteFile(settings, "[TarnelPlugin]\nFileLists=" + names + "\n");
        return settings;
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::ClearRun();
    std::string archive = fuzz::RunPath("input.mpq");
    fuzz::WriteFile(archive, data, size);
    fuzz::UseSettings(Settings());
    fuzz::List(archive);
    return 0;
}
