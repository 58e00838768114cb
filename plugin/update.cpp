// Archive update: PackFiles, DeleteFiles.
#include "plugin/host_interface.h"

extern "C" int TARNEL_STDCALL PackFiles(char*, char*, char*, char*, int) {
    return kResultBadArchive;
}
extern "C" int TARNEL_STDCALL DeleteFiles(char*, char*) {
    return kResultBadArchive;
}
