// Fuzz target: a small file moved into a hostile archive, and one of its
// listed members deleted, as a file manager updates an archive in place.
// An update that fails must leave the archive byte for byte as it was; one
// that succeeds must not blow the archive up nor make it unreadable, and
// the file it added must come back out as it went in.
#include <algorithm>
#include "fuzz_host.h"

namespace {

const char kNewName[] = "new.txt";
const char kNewContent[] = "a small file to add\n";

// The member to delete: one of those listed, chosen by the input, the
// library's own "(...)" members only when nothing else is listed.
std::string MemberToDelete(const fuzz::Listing& listing, const uint8_t* data, size_t size) {
    std::vector<std::string> names;
    for (const std::string& name : listing.names) {
        if (name[0] != '(') {
            names.push_back(name);
        }
    }
    if (names.empty()) {
        names = listing.names.empty() ? std::vector<std::string>{"(listfile)"} : listing.names;
    }
    size_t pick = size ? data[size / 2] : 0;
    return names[pick % names.size()];
}

// After a successful add: the new member is listed and reads back whole.
void CheckAdded(const std::string& archive) {
    bool found = false;
    std::string copy = fuzz::RunPath("added.txt");
    fuzz::Walk(archive, kOpenExtract, [&](void* handle, size_t, const std::string& name) {
        if (found || name != kNewName) {
            fuzz::Skip(handle);
            return;
        }
        found = true;
        std::string content;
        int result = fuzz::Process(handle, kOpExtract, copy, UINT64_MAX);
        if (result != kResultOk || !fuzz::ReadFile(copy, &content) || content != kNewContent) {
            fuzz::Fail("%s was added, but reads back as %zu other bytes (result %d)", kNewName,
                       content.size(), result);
        }
    });
    if (!found) {
        fuzz::Fail("%s was added, but the archive does not list it", kNewName);
    }
    remove(copy.c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::ClearRun();
    const std::string before(reinterpret_cast<const char*>(data), size);
    const std::string archive = fuzz::RunPath("input.mpq");
    fuzz::WriteFile(archive, before);
    fuzz::UseSettings(fuzz::RunPath("no-settings.ini"));
    const fuzz::Listing listing = fuzz::List(archive);
    const std::vector<std::string> leftAlone = {"input.mpq", "src"};

    // The move deletes the source only when the file was added and the
    // archive written: that tells a host whether the add worked.
    std::string folder = fuzz::RunPath("src/");
    const std::string source = folder + kNewName;
    fuzz::WriteFile(source, kNewContent);
    std::string addList = fuzz::NameList({kNewName});
    std::string path = archive;
    int result =
        fuzz::Plugin().PackFiles(&path[0], nullptr, &folder[0], &addList[0], kPackMoveFiles);
    if (result != kResultOk || fuzz::Exists(source)) {
        fuzz::CheckUnchanged(archive, before, "adding a file");
    } else {
        fuzz::CheckUpdated(archive, before.size(), listing.complete, "adding a file");
        // An archive without a name list cannot learn the new name: StormLib
        // refuses to give it a "(listfile)" it did not have.
        bool named = std::find(listing.names.begin(), listing.names.end(), "(listfile)") !=
                     listing.names.end();
        if (named) {
            CheckAdded(archive);
        }
    }
    fuzz::CheckOnlyFiles(fuzz::RunPath(""), leftAlone, "adding a file");

    fuzz::WriteFile(archive, before);
    std::string deleteList = fuzz::NameList({MemberToDelete(listing, data, size)});
    result = fuzz::Plugin().DeleteFiles(&path[0], &deleteList[0]);
    if (result != kResultOk) {
        fuzz::CheckUnchanged(archive, before, "deleting a member");
    } else {
        fuzz::CheckUpdated(archive, before.size(), listing.complete, "deleting a member");
    }
    fuzz::CheckOnlyFiles(fuzz::RunPath(""), leftAlone, "deleting a member");
    return 0;
}
