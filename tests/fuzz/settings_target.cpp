// Fuzz target: the settings file. The input is handed to the plug-in as its
// settings file, and then the operations that read it again run as a host
// runs them: a small valid archive is listed and tested, a few files of
// each kind (text, wave, a stored ending, one in a folder) are moved into a
// new archive, and one of them is deleted again. Whatever the settings say,
// a member that was added must read back, a move whose archive was not
// written keeps every source, and a failed delete changes nothing.
#include "fuzz_host.h"

#include <algorithm>

namespace {

struct Source {
    const char* name;
    std::string content;
};

// A 16-bit mono PCM wave of `samples` samples.
std::string Wave(uint32_t samples) {
    auto u32 = [](uint32_t v) {
        return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
    };
    std::string data;
    for (uint32_t i = 0; i < samples; ++i) {
        uint16_t sample = static_cast<uint16_t>((i * 2654435761u) >> 20);
        data += char(sample);
        data += char(sample >> 8);
    }
    std::string format = std::string("\x01\x00\x01\x00", 4) + u32(22050) + u32(44100) +
                         std::string("\x02\x00\x10\x00", 4);
    return "RIFF" + u32(uint32_t(36 + data.size())) + "WAVEfmt " + u32(16) + format + "data" +
           u32(uint32_t(data.size())) + data;
}

const std::vector<Source>& Sources() {
    static const std::vector<Source> sources = [] {
        std::string text;
        for (int i = 0; text.size() < 3000; ++i) {
            text += "line " + std::to_string(i) + " of a text that compresses well\n";
        }
        std::string noise;
        for (uint32_t state = 7; noise.size() < 1024;) {
            state = state * 1664525u + 1013904223u;
            noise += char(state >> 24);
        }
        return std::vector<Source>{{"a.txt", text},
                                   {"b.wav", Wave(3000)},
                                   {"c.mp3", noise},
                                   {"sub/d.txt", "a file in a folder\n"}};
    }();
    return sources;
}

std::string WriteSources() {
    std::string folder = fuzz::RunPath("src/");
    for (const Source& source : Sources()) {
        fuzz::WriteFile(folder + source.name, source.content);
    }
    return folder;
}

std::string AddList() {
    std::vector<std::string> names;
    for (const Source& source : Sources()) {
        names.push_back(source.name);
    }
    return fuzz::NameList(names);
}

// A valid archive of the sources, made once with the default settings.
const std::string& ValidArchive() {
    static const std::string path = [] {
        std::string archive = fuzz::KeptPath("valid.mpq");
        fuzz::UseSettings(fuzz::KeptPath("no-settings.ini"));
        std::string folder = WriteSources();
        std::string list = AddList();
        std::string target = archive;
        if (fuzz::Plugin().PackFiles(&target[0], nullptr, &folder[0], &list[0], 0) != kResultOk) {
            fuzz::Fail("cannot make %s with the default settings", archive.c_str());
        }
        fuzz::ClearRun();
        return archive;
    }();
    return path;
}

void TestAll(const std::string& archive) {
    fuzz::Walk(archive, kOpenExtract, [](void* handle, size_t, const std::string&) {
        fuzz::Process(handle, kOpTest, std::string(), UINT64_MAX);
    });
}

void CheckMoved(const std::string& folder, const std::string& archive, int result) {
    std::vector<std::string> added;
    for (const Source& source : Sources()) {
        if (!fuzz::Exists(folder + source.name)) {
            added.push_back(source.name);
        }
    }
    if (result != kResultOk) {
        if (!added.empty()) {
            fuzz::Fail("a move that failed (%d) deleted its source %s", result, added[0].c_str());
        }
        if (fuzz::Exists(archive)) {
            fuzz::Fail("a new archive that failed (%d) was left behind", result);
        }
        return;
    }
    fuzz::Walk(archive, kOpenExtract, [&](void* handle, size_t, const std::string& name) {
        auto at = std::find(added.begin(), added.end(), name);
        if (at == added.end()) {
            fuzz::Skip(handle);
            return;
        }
        int tested = fuzz::Process(handle, kOpTest, std::string(), UINT64_MAX);
        if (tested != kResultOk) {
            fuzz::Fail("%s was added, but cannot be read back (%d)", name.c_str(), tested);
        }
        added.erase(at);
    });
    if (!added.empty()) {
        fuzz::Fail("%s was added, but the new archive does not list it", added[0].c_str());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& valid = ValidArchive();
    fuzz::ClearRun();
    fuzz::WriteFile(fuzz::RunPath("settings.ini"), data, size);
    fuzz::UseSettings(fuzz::RunPath("settings.ini"));
    TestAll(valid);

    std::string folder = WriteSources();
    std::string archive = fuzz::RunPath("new.mpq");
    std::string list = AddList();
    int result =
        fuzz::Plugin().PackFiles(&archive[0], nullptr, &folder[0], &list[0], kPackMoveFiles);
    CheckMoved(folder, archive, result);

    if (fuzz::Exists(archive)) {
        std::string before;
        fuzz::ReadFile(archive, &before);
        bool listed = fuzz::List(archive).complete;
        std::string deleteList = fuzz::NameList({"a.txt"});
        if (fuzz::Plugin().DeleteFiles(&archive[0], &deleteList[0]) != kResultOk) {
            fuzz::CheckUnchanged(archive, before, "deleting a member");
        } else {
            fuzz::CheckUpdated(archive, before.size(), listed, "deleting a member");
        }
    }
    fuzz::CheckOnlyFiles(fuzz::RunPath(""), {"new.mpq", "settings.ini", "src"}, "updating");
    return 0;
}
