// The plug-in module's start-up and unload: the one LibraryLoader is built
// while the module initialises, before the host can call any export, and
// destroyed when the module is unloaded.
#include "archive_library/library_loader.h"

static LibraryLoader theLibraryLoader;
