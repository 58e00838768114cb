// Extraction: ProcessFile, SetProcessDataProc, SetChangeVolProc.
#include "plugin/host_interface.h"

extern "C" int TARNEL_STDCALL ProcessFile(void*, int, char*, char*) {
    return kResultNotSupported;
}
extern "C" void TARNEL_STDCALL SetProcessDataProc(void*, ProgressCallback) {}
extern "C" void TARNEL_STDCALL SetChangeVolProc(void*, ChangeVolumeCallback) {}
