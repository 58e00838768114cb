// The Windows test driver: loads the built tarnel.wcx the way a host does
// and checks it against the recording SFMpq.dll. One scenario per process:
//   driver main            <plug-in path> <work folder>
//   driver missing-library <plug-in path> <work folder>
//   driver renamed         <plug-in path> <work folder>
//   driver partial-library <plug-in path> <work folder>
//   driver real-library    <plug-in path> <work folder>
// real-library loads the plug-in beside the SFMpq.dll built for Wine instead,
// on real archives. The exit code is 0 when every check held.
#include <cstdio>
#include <cstring>

#include "check.h"
#include "message_boxes.h"
#include "plugin_under_test.h"
#include "suites.h"

std::string StartDirectory;

namespace {

int Usage() {
    std::printf("usage: driver main|missing-library|renamed|partial-library|real-library <plug-in "
                "path> <work folder>\n");
    return 2;
}

void RunMainScenario(const std::string& pluginPath) {
    Dirs.plugin = FolderOf(pluginPath);
    bool ready = StartWatchingScreen() && LoadPlugin(pluginPath) && RecordBoxesOf(Plugin) &&
                 Library.Attach();
    if (!ready) {
        ReportFailure(__FILE__, __LINE__, "cannot load " + pluginPath + " with its library");
        return;
    }
    RunExportsTests();
    RunLoaderTests();
    RunOptionsDialogTestsWithoutSettingsFile();
    RunListingTests();
    RunExtractionTests();
    RunUpdateTests();
    RunOptionsDialogTests();
    RunUnloadTests();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        return Usage();
    }
    std::string scenario = argv[1];
    std::string pluginPath = argv[2];
    Dirs.work = argv[3];
    if (!SetCurrentDirectoryA(Dirs.work.c_str())) {
        std::printf("cannot enter %s\n", Dirs.work.c_str());
        return 2;
    }
    StartDirectory = CurrentDirectory();
    if (scenario == "main") {
        RunMainScenario(pluginPath);
    } else if (scenario == "missing-library") {
        RunMissingLibraryScenario(pluginPath);
    } else if (scenario == "renamed") {
        RunRenamedPluginScenario(pluginPath);
    } else if (scenario == "partial-library") {
        RunPartialLibraryScenario(pluginPath);
    } else if (scenario == "real-library") {
        RunRealLibraryScenario(pluginPath);
    } else {
        return Usage();
    }
    std::printf("%s: %d failed check(s)\n", scenario.c_str(), FailureCount());
    return FailureCount() == 0 ? 0 : 1;
}
