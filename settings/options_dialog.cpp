// The options dialog: ConfigurePacker.
#include "plugin/host_interface.h"

extern "C" int TARNEL_STDCALL ConfigurePacker(void*, void*) {
    return -1;
}
