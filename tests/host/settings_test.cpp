// tarnel hands its settings file to the plug-in: named with --settings, or
// found in the user's configuration folder; and tarnel config without a
// terminal says that the dialog cannot be shown.
#include "tarnel_runner.h"

#include <unistd.h>

namespace {

// The packed size that `tarnel list` shows for the only member besides the
// archive's name list.
std::string PackedSize(const std::string& listing, const std::string& name) {
    size_t at = listing.find("  " + name + "\n");
    if (at == std::string::npos || at < 12) {
        return "";
    }
    std::string packed = listing.substr(at - 12, 12);
    return packed.substr(packed.find_first_not_of(' '));
}

const char kNothingCompressed[] = "[TarnelPlugin]\nNoCompExt=txt\n";

std::string CurrentFolder() {
    char folder[4096];
    return getcwd(folder, sizeof folder) ? folder : "";
}

} // namespace

TEST(Settings, TheNamedSettingsFileDecidesTheCompression) {
    Scratch scratch;
    WriteFile(scratch / "src/a.txt", std::string(50000, 'a'));
    // By default a .txt file is compressed.
    ASSERT_EQ(
        RunTarnel(scratch, {"add", scratch / "one.mpq", "-C", scratch / "src", "a.txt"}).status, 0);
    EXPECT_NE(PackedSize(RunTarnel(scratch, {"list", scratch / "one.mpq"}).out, "a.txt"), "50000");
    // A settings file that stores .txt files as they are, its path as long
    // as the plug-in takes one.
    const std::string stored =
        scratch / (std::string(259 - scratch.path().size() - 5, 's') + ".ini");
    ASSERT_EQ(stored.size(), 259u);
    WriteFile(stored, kNothingCompressed);
    RunResult added = RunTarnel(scratch, {"--settings", stored, "add", scratch / "two.mpq", "-C",
                                          scratch / "src", "a.txt"});
    ASSERT_EQ(added.status, 0) << added.err;
    EXPECT_EQ(PackedSize(RunTarnel(scratch, {"list", scratch / "two.mpq"}).out, "a.txt"), "50000");
}

TEST(Settings, TheDefaultFileIsInTheConfigurationFolder) {
    Scratch scratch;
    WriteFile(scratch / "src/a.txt", std::string(50000, 'a'));
    WriteFile(scratch / "xdg/tarnel/tarnel.ini", kNothingCompressed);
    WriteFile(scratch / "home/.config/tarnel/tarnel.ini", kNothingCompressed);
    std::vector<std::string> add = {"add", "", "-C", scratch / "src", "a.txt"};

    add[1] = scratch / "xdg.mpq";
    ASSERT_EQ(RunTarnelWithEnvironment(
                  scratch, {"XDG_CONFIG_HOME=" + scratch / "xdg", "HOME=" + scratch / "none"}, add)
                  .status,
              0);
    add[1] = scratch / "home.mpq";
    ASSERT_EQ(
        RunTarnelWithEnvironment(scratch, {"XDG_CONFIG_HOME=", "HOME=" + scratch / "home"}, add)
            .status,
        0);
    add[1] = scratch / "none.mpq";
    ASSERT_EQ(
        RunTarnelWithEnvironment(scratch, {"XDG_CONFIG_HOME=", "HOME=" + scratch / "none"}, add)
            .status,
        0);
    // A relative XDG_CONFIG_HOME is no configuration folder, even where it
    // names one from the current folder.
    std::string relative;
    for (char c : CurrentFolder()) {
        relative += c == '/' ? "../" : "";
    }
    add[1] = scratch / "relative.mpq";
    ASSERT_EQ(RunTarnelWithEnvironment(scratch,
                                       {"XDG_CONFIG_HOME=" + relative + (scratch / "xdg").substr(1),
                                        "HOME=" + scratch / "none"},
                                       add)
                  .status,
              0);
    EXPECT_EQ(PackedSize(RunTarnel(scratch, {"list", scratch / "xdg.mpq"}).out, "a.txt"), "50000");
    EXPECT_EQ(PackedSize(RunTarnel(scratch, {"list", scratch / "home.mpq"}).out, "a.txt"), "50000");
    EXPECT_NE(PackedSize(RunTarnel(scratch, {"list", scratch / "none.mpq"}).out, "a.txt"), "50000");
    EXPECT_NE(PackedSize(RunTarnel(scratch, {"list", scratch / "relative.mpq"}).out, "a.txt"),
              "50000");
}

TEST(Settings, ConfigWithoutATerminalSaysSoAndChangesNothing) {
    Scratch scratch;
    RunResult result = RunTarnel(scratch, {"config"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("the options dialog cannot be shown"), std::string::npos)
        << result.err;
    EXPECT_FALSE(Exists(scratch / "tarnel.ini"));
}

// What tarnel config says after each outcome of a plug-in's dialog, which
// needs the settings file's folder made first.
TEST(Settings, ConfigSaysWhatTheDialogDid) {
    Scratch scratch;
    WriteFile(scratch / "file", "");
    const std::string deep = scratch / "made/for/it/tarnel.ini";
    const struct {
        const char* result;
        std::string settings; // empty: none is known
        int status;
        std::string out;
        std::string err;
    } cases[] = {
        {"1", deep, 0, "settings saved to " + deep + "\n", ""},
        {"2", deep, 0, "cancelled; the settings are unchanged\n", ""},
        {"1", "", 0, "settings kept for this run only: no settings file is known\n", ""},
        {"0", deep, 1, "", "the options dialog cannot be shown"},
        {"1", scratch / "file/tarnel.ini", 1, "", "cannot create folder " + scratch / "file"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--plugin", TARNEL_SCRIPTED_PLUGIN};
        if (!c.settings.empty()) {
            args.insert(args.end(), {"--settings", c.settings});
        }
        args.push_back("config");
        RunResult result = RunTarnelWithEnvironment(
            scratch,
            {std::string("TARNEL_SCRIPTED_CONFIG=") + c.result,
             "HOME=", "XDG_CONFIG_HOME=", "TARNEL_SCRIPTED_DEFAULTS=" + scratch / "defaults"},
            args);
        SCOPED_TRACE(std::string(c.result) + " " + c.settings);
        // The plug-in is told the interface version and the settings file.
        EXPECT_EQ(ReadFile(scratch / "defaults"), "2.10 " + c.settings);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.out, c.out);
        if (c.err.empty()) {
            EXPECT_EQ(result.err, "");
        } else {
            EXPECT_EQ(result.err.rfind("tarnel: " + c.err, 0), 0u) << result.err;
        }
    }
    EXPECT_TRUE(Exists(scratch / "made/for/it"));
}
