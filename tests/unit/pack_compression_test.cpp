// How PackFiles adds each file: the kind chosen from the name as listed and
// the archive's compression type chosen from CompType or the archive path.
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_library/fake_archive_library.h"
#include "plugin/host_interface.h"
#include "settings/plugin_settings.h"
#include "support/test_support.h"

using ::testing::ElementsAre;

namespace {

class PackCompressionTest : public PluginTest {
  protected:
    void SetUp() override {
        PluginTest::SetUp();
        PluginSettings.NoCompExt.count = SplitList(&PluginSettings.NoCompExt, "mp3,smk");
        PluginSettings.AudioExt.count = SplitList(&PluginSettings.AudioExt, "wav,mp3");
        PluginSettings.MPQDeflateExt.count =
            SplitList(&PluginSettings.MPQDeflateExt, "w3m,war3.mpq");
        PluginSettings.AudioQuality = 3;
    }

    // The add calls of one PackFiles, each shortened to
    // "<call> <archived name> <flags> <type or quality>[ <level>]".
    std::vector<std::string> Adds(const char* archive, const std::vector<std::string>& names,
                                  const char* subPath = nullptr, const char* folder = "") {
        std::string list;
        for (const std::string& name : names) {
            list += name;
            list += '\0';
        }
        list += '\0';
        Fake.calls.clear();
        PackFiles(const_cast<char*>(archive), const_cast<char*>(subPath), const_cast<char*>(folder),
                  &list[0], 0);
        std::vector<std::string> adds;
        for (const std::string& call : Fake.CallsStartingWith("MpqAdd")) {
            // Drop "(update, <source>, " and the closing parenthesis.
            std::string kind = call.substr(0, call.find('('));
            std::string rest = call.substr(call.find(", ", call.find(", ") + 2) + 2);
            rest.pop_back();
            adds.push_back((kind == "MpqAddWaveToArchive" ? "wave " : "file ") + rest);
        }
        return adds;
    }
};

TEST_F(PackCompressionTest, EachNameGetsItsOwnKind) {
    EXPECT_THAT(Adds("x.mpq", {"a.wav", "b.txt", "c.mp3", "d.txt", "SOUND.WAV", "xwav", "e.SMK"}),
                ElementsAre("wave a.wav, 66049, 3", "file b.txt, 66049, 8, 9",
                            "file c.mp3, 1, 0, 0", // in both lists: stored wins
                            "file d.txt, 66049, 8, 9", "wave SOUND.WAV, 66049, 3",
                            "wave xwav, 66049, 3", "file e.SMK, 1, 0, 0"));
}

TEST_F(PackCompressionTest, KindComesFromTheNameAsListed) {
    // Neither the sub-path nor the source folder decides the kind.
    EXPECT_THAT(Adds("x.mpq", {"a.txt"}, "sounds.wav", "/music.mp3/"),
                ElementsAre("file sounds.wav\\a.txt, 66049, 8, 9"));
}

TEST_F(PackCompressionTest, AutomaticCompressionFollowsTheArchivePath) {
    EXPECT_THAT(Adds("maps/Big.W3M", {"a"}), ElementsAre("file a, 66049, 2, 9"));
    EXPECT_THAT(Adds("c:\\games\\War3.mpq", {"a"}), ElementsAre("file a, 66049, 2, 9"));
    EXPECT_THAT(Adds("maps/w3m.mpq", {"a"}), ElementsAre("file a, 66049, 8, 9"));
}

TEST_F(PackCompressionTest, ConfiguredCompressionIgnoresTheArchivePath) {
    for (int type : {2, 8, 16}) {
        SCOPED_TRACE(type);
        PluginSettings.CompType = type;
        EXPECT_THAT(
            Adds("big.w3m", {"a", "b.wav"}),
            ElementsAre("file a, 66049, " + std::to_string(type) + ", 9", "wave b.wav, 66049, 3"));
    }
}

TEST_F(PackCompressionTest, EmptyListsCompressEverything) {
    PluginSettings = Settings{};
    PluginSettings.MaxFiles = 1024;
    EXPECT_THAT(Adds("big.w3m", {"a.wav", "b.mp3"}),
                ElementsAre("file a.wav, 66049, 8, 9", "file b.mp3, 66049, 8, 9"));
}

} // namespace
