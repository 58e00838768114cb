// The driver's test groups, one per feature, and the scenarios that run
// them. Each scenario is one process: the plug-in's library loader runs once
// per process, at module load.
#pragma once

#include <string>

// Groups run in the main scenario, with the plug-in loaded beside the
// recording library.
void RunExportsTests();
void RunLoaderTests();
void RunOptionsDialogTestsWithoutSettingsFile(); // before the host names a settings file
void RunListingTests();
void RunExtractionTests();
void RunUpdateTests();
void RunOptionsDialogTests();
void RunUnloadTests(); // last: unloads the plug-in

// Scenarios with a plug-in placed elsewhere; each loads it itself.
void RunMissingLibraryScenario(const std::string& pluginPath);
void RunRenamedPluginScenario(const std::string& pluginPath);
void RunPartialLibraryScenario(const std::string& pluginPath);
// The plug-in beside the SFMpq.dll built for Wine, on real archives
// (scripts/test-windows-real).
void RunRealLibraryScenario(const std::string& pluginPath);

// The folder the scenario started in, current before the plug-in loaded.
extern std::string StartDirectory;
