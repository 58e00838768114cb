// Packing 10,000 small files into a new archive through PackFiles against
// adding them directly through the stand-in library (one open, one add per
// file with the same flags and compression, the name list's locale, one
// close).
//
// Usage: packing_bench [rounds] [files]
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "bench_support.h"

namespace {

LoadedPlugin plugin;
StandInLibrary library;

int TARNEL_STDCALL GoOn(char*, int) {
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    int files = argc > 2 ? std::atoi(argv[2]) : 10000;
    if (!LoadBoth(plugin, library)) {
        return 1;
    }
    plugin.SetProcessDataProc(nullptr, GoOn);
    std::string dir = MakeTempFolder("tarnel-packing-bench");
    std::string folder = dir + "/src/";
    mkdir(folder.c_str(), 0700);

    // Small text files of 1 to 4 KiB, and the host's list of them.
    std::vector<std::string> names;
    std::string list;
    uint32_t state = 1;
    for (int i = 0; i < files; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "file%05d.txt", i);
        names.push_back(name);
        list += name;
        list += '\0';
        std::string text;
        state = state * 1103515245u + 12345u;
        for (size_t size = 1024 + (state >> 8) % 3072; text.size() < size;) {
            text += "line " + std::to_string(text.size() * 7 + i) + " of a small file\n";
        }
        FILE* out = std::fopen((folder + name).c_str(), "wb");
        std::fwrite(text.data(), 1, text.size(), out);
        std::fclose(out);
    }
    list += '\0';

    // Room for every file in the new archive.
    const uint32_t maxFiles = 16384;
    std::string ini = dir + "/settings.ini";
    FILE* settings = std::fopen(ini.c_str(), "w");
    std::fprintf(settings, "[TarnelPlugin]\nMaxFiles=%u\n", maxFiles);
    std::fclose(settings);
    plugin.UseSettings(ini);

    std::string archive = dir + "/packed.mpq";
    std::printf("packing, median of %d rounds\n", rounds);
    const ArchiveLibraryRecord& l = library.api;
    char label[64];
    std::snprintf(label, sizeof label, "%d small files into a new archive", files);
    Compare(
        label, rounds, [&] { unlink(archive.c_str()); },
        [&] { plugin.PackFiles(&archive[0], nullptr, &folder[0], &list[0], 0); },
        [&] {
            MpqHandle update = l.MpqOpenArchiveForUpdate(archive.c_str(), 0x21, maxFiles);
            for (const std::string& name : names) {
                l.MpqAddFileToArchiveEx(update, (folder + name).c_str(), name.c_str(), 0x10201, 8,
                                        9);
            }
            l.MpqSetFileLocale(update, "(listfile)", 0, 0);
            l.MpqCloseUpdatedArchive(update, 0);
        });
    RemoveTree(dir);
    return 0;
}
