// A move into an archive (PackFiles with the move flag) with each system
// call of the plug-in and of the stand-in's client failing in turn: no
// source is deleted whose data the written archive does not hold.
#include <cstdint>
#include <map>
#include <string>
#include <sys/stat.h>
#include <vector>

#include <gtest/gtest.h>

#include "in_process_library.h"
#include "platform/platform.h"
#include "plugin/host_interface.h"
#include "sfmpq_test_support.h"
#include "support/system_call_faults.h"

namespace {

int QuietMessageBox(const char*, const char*, uint32_t) {
    return 1;
}

class MoveSweep : public ::testing::Test {
  protected:
    void SetUp() override {
        BindInProcessLibrary();
        PlatformSetMessageBoxRecorder(QuietMessageBox);
        SetProcessDataProc(nullptr, nullptr);
    }
    void TearDown() override {
        PlatformSetMessageBoxRecorder(nullptr);
        UnbindInProcessLibrary();
    }

    Folder folder_;
    std::string archive_ = folder_ / "a.mpq";
    std::string sources_ = folder_ / "src/";
};

TEST_F(MoveSweep, AFailingSystemCallDeletesNoSourceTheArchiveDoesNotHold) {
    // Host names (with the host's separator) and the members they become.
    struct Source {
        std::string name;
        std::string member;
        std::string content;
    };
    const std::vector<Source> files = {{"one.txt", "one.txt", Content(5000, 1, true)},
                                       {"two.bin", "two.bin", Content(200000, 2, false)},
                                       {"sub/three.txt", "sub\\three.txt", "three"}};
    std::string list;
    for (const char* name : {"one.txt", "two.bin", "sub/", "sub/three.txt"}) {
        list.append(name).push_back('\0');
    }
    list.push_back('\0');
    const std::string kept = Content(100000, 3, true);

    auto prepare = [&] {
        WriteWithStorm(archive_, {{"kept", kept}});
        mkdir(sources_.c_str(), 0777);
        mkdir((sources_ + "sub").c_str(), 0777);
        for (const Source& file : files) {
            WriteFile(sources_ + file.name, file.content);
        }
    };
    int result = kResultOk;
    auto operation = [&] {
        result = PackFiles(&archive_[0], nullptr, &sources_[0], &list[0], kPackMoveFiles);
    };
    auto check = [&](const SweepStep&) {
        std::map<std::string, std::string> members = MembersWithStorm(archive_);
        EXPECT_EQ(members["kept"], kept);
        for (const Source& file : files) {
            if (!Exists(sources_ + file.name)) {
                EXPECT_TRUE(members.count(file.member) && members[file.member] == file.content)
                    << file.name << " was deleted, but the archive does not hold it";
            }
        }
        if (result != kResultOk) {
            for (const Source& file : files) {
                EXPECT_TRUE(Exists(sources_ + file.name)) << file.name;
            }
        }
        EXPECT_EQ(folder_.Files(), (std::vector<std::string>{"a.mpq", "src"}));
    };
    int runs = SweepSystemCallFailures(prepare, operation, check);
    EXPECT_GE(runs, 60);
}

} // namespace
