// Packing real files into real archives through the plug-in, listing them
// back, extracting and comparing bytes; replacing, deleting and moving; the
// compression chosen, as the listing's sizes show it.
#include <algorithm>
#include <cctype>
#include <map>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "e2e_support.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Pair;

namespace {

class RoundTripTest : public ::testing::Test {
  protected:
    void SetUp() override {
        plugin_ = Plugin();
        ASSERT_NE(plugin_, nullptr);
        // A settings file that does not exist: every key has its default.
        plugin_->UseSettings(dir_.File("settings.ini"));
        plugin_->SetProcessDataProc(nullptr, nullptr);
        source_ = dir_.path() + "/src/";
        archive_ = dir_.File("test.mpq");
    }

    // Writes the files below the source folder and remembers their content.
    void MakeSources(const std::map<std::string, std::string>& files) {
        for (const auto& file : files) {
            WriteFile(source_ + file.first, file.second);
            content_[file.first] = file.second;
        }
    }

    // Extracts every member into a fresh folder and compares each with the
    // content it was packed from.
    void ExpectExtractsAsPacked(const std::string& archive, const std::string& prefix = "") {
        std::string out = dir_.File("out" + std::to_string(++extractions_));
        std::map<std::string, int> results = ProcessAll(archive, kOpExtract, out);
        for (const auto& result : results) {
            SCOPED_TRACE(result.first);
            EXPECT_EQ(result.second, kResultOk);
            std::string name = result.first.substr(prefix.size());
            EXPECT_EQ(ReadFile(out + "/" + result.first), content_[name]);
        }
    }

    TempFolder dir_;
    LoadedPlugin* plugin_ = nullptr;
    std::string source_;
    std::string archive_;
    std::map<std::string, std::string> content_;
    int extractions_ = 0;
};

TEST_F(RoundTripTest, PackListExtractAndTest) {
    MakeSources({{"notes.txt", CompressibleData(300000)},
                 {"data/blob.bin", RandomData(2 * 1048576 + 123)},
                 {"music.mp3", RandomData(50000, 2)},
                 {"empty.txt", ""}});
    ASSERT_EQ(Pack(archive_, source_, {"notes.txt", "data/blob.bin", "music.mp3", "empty.txt"}),
              kResultOk);

    std::map<std::string, ListedMember> members = ListMembers(archive_);
    ASSERT_EQ(members.size(), 4u);
    for (const auto& member : members) {
        SCOPED_TRACE(member.first);
        ASSERT_EQ(content_.count(member.first), 1u);
        EXPECT_EQ(member.second.unpackSize, content_[member.first].size());
    }
    // Ordinary text is compressed; an .mp3 is stored as it is.
    EXPECT_LT(members["notes.txt"].packSize, members["notes.txt"].unpackSize / 2);
    EXPECT_EQ(members["music.mp3"].packSize, members["music.mp3"].unpackSize);

    ExpectExtractsAsPacked(archive_);
    std::map<std::string, int> tests = ProcessAll(archive_, kOpTest);
    EXPECT_EQ(tests.size(), 4u);
    for (const auto& result : tests) {
        EXPECT_EQ(result.second, kResultOk) << result.first;
    }
}

TEST_F(RoundTripTest, CompressionFollowsArchiveNameAndSetting) {
    MakeSources({{"notes.txt", CompressibleData(400000, 3)}});
    // Automatic: Standard for an .mpq, Deflate for a name in MPQDeflateExt.
    ASSERT_EQ(Pack(dir_.File("standard.mpq"), source_, {"notes.txt"}), kResultOk);
    ASSERT_EQ(Pack(dir_.File("deflate.w3m"), source_, {"notes.txt"}), kResultOk);
    WriteFile(dir_.File("settings.ini"), "[TarnelPlugin]\nCompType=2\n");
    ASSERT_EQ(Pack(dir_.File("configured.mpq"), source_, {"notes.txt"}), kResultOk);

    uint32_t standard = ListMembers(dir_.File("standard.mpq"))["notes.txt"].packSize;
    uint32_t deflate = ListMembers(dir_.File("deflate.w3m"))["notes.txt"].packSize;
    uint32_t configured = ListMembers(dir_.File("configured.mpq"))["notes.txt"].packSize;
    EXPECT_LT(standard, 400000u);
    EXPECT_LT(deflate, 400000u);
    EXPECT_NE(standard, deflate);
    EXPECT_EQ(configured, deflate);
    ExpectExtractsAsPacked(dir_.File("standard.mpq"));
    ExpectExtractsAsPacked(dir_.File("deflate.w3m"));
}

TEST_F(RoundTripTest, WaveFilesAreAddedAsWaves) {
    MakeSources({{"sound.wav", RandomData(70000, 4)}});
    ASSERT_EQ(Pack(archive_, source_, {"sound.wav"}), kResultOk);
    std::map<std::string, ListedMember> members = ListMembers(archive_);
    ASSERT_EQ(members.count("sound.wav"), 1u);
    EXPECT_EQ(members["sound.wav"].unpackSize, 70000u);
    // Wave compression may change the samples, so only the size is compared.
    std::string out = dir_.File("out");
    EXPECT_THAT(ProcessAll(archive_, kOpExtract, out), ElementsAre(Pair("sound.wav", kResultOk)));
    EXPECT_EQ(ReadFile(out + "/sound.wav").size(), 70000u);
}

TEST_F(RoundTripTest, SubPathAndReplace) {
    MakeSources({{"a.txt", "first version"}});
    ASSERT_EQ(Pack(archive_, source_, {"a.txt"}, "maps/x"), kResultOk);
    MakeSources({{"a.txt", "second, longer version"}});
    ASSERT_EQ(Pack(archive_, source_, {"a.txt"}, "maps/x"), kResultOk);

    std::map<std::string, ListedMember> members = ListMembers(archive_);
    ASSERT_EQ(members.size(), 1u);
    EXPECT_EQ(members.begin()->first, "maps/x/a.txt");
    ExpectExtractsAsPacked(archive_, "maps/x/");
}

TEST_F(RoundTripTest, DeleteMembers) {
    MakeSources({{"a.txt", "alpha"}, {"data/b.txt", "beta"}, {"c.txt", "gamma"}});
    ASSERT_EQ(Pack(archive_, source_, {"a.txt", "data/b.txt", "c.txt"}), kResultOk);

    testing::internal::CaptureStderr();
    EXPECT_EQ(Delete(archive_, {"a.txt", "not-there.txt", "data/b.txt"}), kResultOk);
    std::string messages = testing::internal::GetCapturedStderr();
    EXPECT_EQ(messages, "Error: Cannot delete not-there.txt\n");

    std::map<std::string, ListedMember> members = ListMembers(archive_);
    ASSERT_EQ(members.size(), 1u);
    EXPECT_EQ(members.begin()->first, "c.txt");
    ExpectExtractsAsPacked(archive_);
}

// A file manager deletes a folder as "folder/*.*" (Windows: "folder\\*.*"):
// every member below it goes, at any depth, and nothing else.
TEST_F(RoundTripTest, DeleteAFolder) {
    MakeSources({{"docs/a.txt", "alpha"},
                 {"docs/b.txt", "beta"},
                 {"docs/sub/c.txt", "gamma"},
                 {"docsx/d.txt", "delta"},
                 {"other/docs/e.txt", "epsilon"},
                 {"keep.txt", "kappa"}});
    std::vector<std::string> names;
    for (const auto& file : content_) {
        names.push_back(file.first);
    }
    for (const char* entry : {"docs/*.*", "DOCS\\*.*"}) {
        SCOPED_TRACE(entry);
        std::string archive = dir_.File(std::string("folder") + entry[0] + ".mpq");
        ASSERT_EQ(Pack(archive, source_, names), kResultOk);
        testing::internal::CaptureStderr();
        EXPECT_EQ(Delete(archive, {entry}), kResultOk);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        std::map<std::string, ListedMember> members = ListMembers(archive);
        std::vector<std::string> left;
        for (const auto& member : members) {
            left.push_back(member.first);
        }
        EXPECT_THAT(left, ElementsAre("docsx/d.txt", "keep.txt", "other/docs/e.txt"));
        ExpectExtractsAsPacked(archive);
    }
}

TEST_F(RoundTripTest, DeleteFromMissingArchiveCreatesNothing) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(Delete(archive_, {"a.txt"}), kResultBadArchive);
    std::string messages = testing::internal::GetCapturedStderr();
    EXPECT_EQ(messages.rfind("Error: ", 0), 0u);
    EXPECT_FALSE(Exists(archive_));
}

TEST_F(RoundTripTest, MoveDeletesSourcesOfPackedFiles) {
    MakeSources({{"a.txt", CompressibleData(5000)}, {"b.bin", RandomData(9000)}});
    ASSERT_EQ(Pack(archive_, source_, {"a.txt", "b.bin", "missing.txt"}, nullptr, kPackMoveFiles),
              kResultOk);
    EXPECT_THAT(FilesIn(source_), IsEmpty());
    EXPECT_EQ(ListMembers(archive_).size(), 2u);
    ExpectExtractsAsPacked(archive_);
}

// A file manager's add list names each folder before the files in it; under
// move, the folders go too once their files are in the archive.
TEST_F(RoundTripTest, MoveAListWithFolderEntries) {
    MakeSources({{"sub/a.txt", CompressibleData(3000)}, {"sub/deep/b.bin", RandomData(4000)}});
    ASSERT_EQ(mkdir((source_ + "new").c_str(), 0755), 0);
    testing::internal::CaptureStderr();
    ASSERT_EQ(Pack(archive_, source_, {"sub/", "sub/a.txt", "sub/deep/", "sub/deep/b.bin", "new/"},
                   nullptr, kPackMoveFiles),
              kResultOk);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_THAT(FilesIn(source_), IsEmpty());
    EXPECT_FALSE(Exists(source_ + "sub"));
    EXPECT_FALSE(Exists(source_ + "new"));
    EXPECT_TRUE(Exists(source_));
    std::map<std::string, ListedMember> members = ListMembers(archive_);
    EXPECT_EQ(members.size(), 2u);
    ExpectExtractsAsPacked(archive_);
}

// Random rounds through the entry points, checked against a model of the
// archive: files of random names (folders up to three deep, spaces, dots,
// no suffix or one that is stored as it is) and sizes are packed under a
// random sub-path, some again with new content (replaced), some moved; then
// single members and whole folders ("folder/*.*", in either letter case)
// are deleted. After each step the listing holds exactly the model's names
// and sizes, and every member extracts as packed.
TEST_F(RoundTripTest, RandomRoundsKeepWhatAModelSays) {
    std::mt19937 random(812);
    auto pick = [&](uint32_t n) { return static_cast<uint32_t>(random() % n); };
    const char* suffixes[] = {".txt", ".bin", ".mp3", "", ".dat"};
    auto word = [&] {
        std::string text;
        for (uint32_t i = 0, length = 1 + pick(9); i < length; ++i) {
            text += "abcdeFGH019 _-."[pick(15)];
        }
        return text;
    };
    auto folded = [](std::string name) {
        for (char& c : name) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        return name;
    };
    for (uint32_t round = 0; round < 4; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const std::string archive =
            dir_.File("r" + std::to_string(round) + (round % 2 ? ".w3m" : ".mpq"));
        const std::string into = round % 2 ? "" : "sub " + word();
        std::map<std::string, std::string> model; // by member name
        for (uint32_t pass = 0; pass < 3; ++pass) {
            std::vector<std::string> sources;
            for (uint32_t i = 0, count = 1 + pick(12); i < count; ++i) {
                std::string name = word() + suffixes[pick(5)];
                if (pass > 0 && !model.empty() && pick(3) == 0) {
                    auto it = std::next(model.begin(), pick(model.size()));
                    name = it->first.substr(into.empty() ? 0 : into.size() + 1);
                }
                for (uint32_t depth = pick(4); depth > 0 && name.size() < 200; --depth) {
                    name = word() + "/" + name;
                }
                if (name.find("./") != std::string::npos || name.back() == '.' ||
                    name.back() == ' ' || name.front() == ' ' ||
                    name.find(" /") != std::string::npos || name.find("/ ") != std::string::npos) {
                    continue; // names a file system or a host would change
                }
                const std::string member = into.empty() ? name : into + "/" + name;
                auto other = [&](const std::pair<const std::string, std::string>& entry) {
                    return entry.first != member && folded(entry.first) == folded(member);
                };
                if (std::any_of(model.begin(), model.end(), other) ||
                    std::find(sources.begin(), sources.end(), name) != sources.end()) {
                    continue; // another file would become the same member
                }
                std::string content =
                    pick(2) ? CompressibleData(pick(40000), round * 100 + pass * 10 + i)
                            : RandomData(pick(9000), round * 100 + pass * 10 + i);
                WriteFile(source_ + name, content);
                sources.push_back(name);
                model[member] = content;
            }
            const bool move = pick(3) == 0;
            ASSERT_EQ(Pack(archive, source_, sources, into.empty() ? nullptr : into.c_str(),
                           move ? kPackMoveFiles : 0),
                      kResultOk);
            for (const std::string& name : sources) {
                EXPECT_EQ(Exists(source_ + name), !move) << name;
            }
            if (pick(2)) {
                std::vector<std::string> doomed;
                for (uint32_t i = 0, count = pick(4); i < count && !model.empty(); ++i) {
                    std::string name = std::next(model.begin(), pick(model.size()))->first;
                    size_t slash = name.rfind('/');
                    if (slash != std::string::npos && pick(2)) {
                        // The folder of that member: every member below it goes.
                        std::string folder = name.substr(0, slash + 1);
                        doomed.push_back((pick(2) ? folder : folded(folder)) + "*.*");
                        for (auto it = model.begin(); it != model.end();) {
                            if (folded(it->first).rfind(folded(folder), 0) == 0) {
                                it = model.erase(it);
                            } else {
                                ++it;
                            }
                        }
                    } else {
                        doomed.push_back(name);
                        model.erase(name);
                    }
                }
                testing::internal::CaptureStderr();
                EXPECT_EQ(Delete(archive, doomed), kResultOk);
                EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
            }
            std::map<std::string, ListedMember> members = ListMembers(archive);
            EXPECT_EQ(members.size(), model.size());
            for (const auto& entry : model) {
                auto listed = members.find(entry.first);
                ASSERT_NE(listed, members.end()) << entry.first;
                EXPECT_EQ(listed->second.unpackSize, entry.second.size()) << entry.first;
            }
            std::string out = dir_.File("out" + std::to_string(++extractions_));
            for (const auto& result : ProcessAll(archive, kOpExtract, out)) {
                EXPECT_EQ(result.second, kResultOk) << result.first;
                EXPECT_TRUE(ReadFile(out + "/" + result.first) == model[result.first])
                    << result.first;
            }
        }
    }
}

} // namespace
