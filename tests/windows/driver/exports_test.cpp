// The export table as the Windows loader resolves it: every entry point by
// its plain and its decorated name, and by ordinals 1-22.
#include "check.h"
#include "plugin_under_test.h"
#include "suites.h"

namespace {

struct EntryName {
    const char* name;
    int argumentBytes;
};

// Alphabetical, which is also the ordinal order.
const EntryName kEntries[] = {
    {"CloseArchive", 4}, {"ConfigurePacker", 8},  {"DeleteFiles", 8},          {"GetPackerCaps", 0},
    {"OpenArchive", 4},  {"PackFiles", 20},       {"PackSetDefaultParams", 4}, {"ProcessFile", 16},
    {"ReadHeader", 8},   {"SetChangeVolProc", 8}, {"SetProcessDataProc", 8},
};
const int kEntryCount = 11;

void* Address(const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(Plugin, name));
}

void* AddressOfOrdinal(int ordinal) {
    return reinterpret_cast<void*>(GetProcAddress(Plugin, MAKEINTRESOURCEA(ordinal)));
}

void EveryNameAndOrdinalLeadsToItsEntryPoint() {
    for (int i = 0; i < kEntryCount; ++i) {
        std::string plain = kEntries[i].name;
        std::string decorated = "_" + plain + "@" + std::to_string(kEntries[i].argumentBytes);
        void* byName = Address(plain.c_str());
        CHECK(byName != nullptr);
        CHECK_EQ(Address(decorated.c_str()), byName);
        CHECK_EQ(AddressOfOrdinal(i + 1), byName);
        CHECK_EQ(AddressOfOrdinal(i + 12), byName);
    }
    CHECK(AddressOfOrdinal(23) == nullptr);
    CHECK(Address("LibraryLoader") == nullptr);
}

void EntryPointsAnswerThroughEveryName() {
    typedef int(WINAPI * CapsFn)(void);
    CapsFn plain = reinterpret_cast<CapsFn>(Address("GetPackerCaps"));
    CapsFn decorated = reinterpret_cast<CapsFn>(Address("_GetPackerCaps@0"));
    CapsFn byOrdinal = reinterpret_cast<CapsFn>(AddressOfOrdinal(4));
    CHECK(plain && decorated && byOrdinal);
    if (plain && decorated && byOrdinal) {
        CHECK_EQ(plain(), 95);
        CHECK_EQ(decorated(), 95);
        CHECK_EQ(byOrdinal(), 95);
    }
    // A standard-call entry point with arguments, called through its
    // ordinal: a wrong argument size would unbalance the stack.
    typedef int(WINAPI * CloseFn)(void*);
    CloseFn close = reinterpret_cast<CloseFn>(AddressOfOrdinal(12));
    CHECK(close != nullptr);
    if (close) {
        CHECK_EQ(close(nullptr), 0);
    }
}

} // namespace

void RunExportsTests() {
    RunTest("exports: every name and ordinal leads to its entry point",
            EveryNameAndOrdinalLeadsToItsEntryPoint);
    RunTest("exports: entry points answer through every name", EntryPointsAnswerThroughEveryName);
}
