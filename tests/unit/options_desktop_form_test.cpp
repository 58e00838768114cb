// The options dialog as the desktop's form, for graphical hosts: a zenity
// form (the stand-in of fake_desktop.h) shown by ConfigurePacker, whose
// answers reach the dialog's procedure as the Windows dialog's would.
#include <csignal>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/desktop_posix.h"
#include "platform/platform.h"
#include "plugin/host_interface.h"
#include "settings/plugin_settings.h"
#include "support/fake_desktop.h"
#include "support/test_support.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

using Call = std::vector<std::string>;

class OptionsDesktopFormTest : public PluginTest {
  protected:
    TempDir dir;
    std::string ini = dir.File("wcx.ini");
    const std::string original = "[TarnelPlugin]\nCompType=2\nLocaleID=1031\nMaxFiles=77\n";
    int parent = 0; // the host's window

    void SetUp() override {
        PluginTest::SetUp();
        WriteFileText(ini, original);
        HostDefaults defaults = {};
        std::strncpy(defaults.settingsPath, ini.c_str(), sizeof defaults.settingsPath - 1);
        PackSetDefaultParams(&defaults);
    }

    // The form as the dialog over the file's values shows it.
    static Call Form(const char* compression = "Deflate", const char* locale = "1031",
                     const char* maxFiles = "77") {
        return {"zenity",
                "--forms",
                "--title=Tarnel Options",
                "--text=Empty fields keep the values in brackets.",
                "--separator=\x1f",
                std::string("--add-combo=Compression [") + compression + "]",
                "--combo-values=Auto|Deflate|Standard",
                std::string("--add-entry=Locale ID [") + locale + "]",
                std::string("--add-entry=Max Files [") + maxFiles + "]"};
    }
};

TEST_F(OptionsDesktopFormTest, OkStoresAndWritesWhatTheUserChoseAndEmptyFieldsKeepTheirValues) {
    FakeDesktop desktop;
    const struct {
        const char* fields;
        int32_t compType;
        int32_t locale;
        int32_t maxFiles;
    } cases[] = {
        {"Standard;;99999999999", 8, 1031, INT32_MAX},
        {";;", 2, 1031, 77},
        {"Auto;-5;abc", 0, -5, 0},
        {"Deflate; 1033x;+12", 2, 1033, 12},
        {"Nonsense;7;", 2, 7, 77},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fields);
        WriteFileText(ini, original);
        desktop.Answer(0, c.fields);
        EXPECT_EQ(ConfigurePacker(&parent, nullptr), 1);
        EXPECT_EQ(PluginSettings.CompType, c.compType);
        EXPECT_EQ(PluginSettings.LocaleID, c.locale);
        EXPECT_EQ(PluginSettings.MaxFiles, c.maxFiles);
        std::string written = ReadFileText(ini);
        EXPECT_NE(written.find("\nMaxFiles=" + std::to_string(c.maxFiles) + "\n"),
                  std::string::npos);
        EXPECT_NE(written.find("\nNoCompExt=bik,smk,mp3,mpq,w3m\n"), std::string::npos);
    }
    std::vector<Call> calls = desktop.Calls();
    ASSERT_EQ(calls.size(), 5u);
    for (const Call& call : calls) {
        EXPECT_EQ(call, Form());
    }
}

TEST_F(OptionsDesktopFormTest, TheFormShowsTheValuesTheReloadGave) {
    FakeDesktop desktop;
    desktop.Answer(1);
    for (const char* settings : {"CompType=8\nLocaleID=-3\n", "CompType=5\nMaxFiles=0\n"}) {
        WriteFileText(ini, std::string("[TarnelPlugin]\n") + settings);
        ConfigurePacker(&parent, nullptr);
    }
    EXPECT_THAT(desktop.Calls(),
                ElementsAre(Form("Standard", "-3", "1024"), Form("Auto", "0", "0")));
}

TEST_F(OptionsDesktopFormTest, CancelAndAnswersThatCannotBeReadChangeNothing) {
    FakeDesktop desktop;
    const struct {
        int status;
        const char* raw;
    } cases[] = {
        {1, nullptr}, // Cancel, or the window closed
        {0, "Standard\x1f"
            "5\n"}, // a field short
        {0, "Standard\x1f"
            "5\x1f"
            "6\x1f"
            "7\n"}, // a field too many
        {0, ""},    // nothing
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.raw ? c.raw : "cancel");
        desktop.Answer(c.status, nullptr, c.raw);
        EXPECT_EQ(ConfigurePacker(&parent, nullptr), 2);
        EXPECT_EQ(PluginSettings.CompType, 2);
        EXPECT_EQ(PluginSettings.MaxFiles, 77);
        EXPECT_EQ(ReadFileText(ini), original);
    }
}

// A host that lets the system reap its children leaves no exit status to
// go by: the form's answer alone then says OK, and its absence Cancel.
TEST_F(OptionsDesktopFormTest, AHostThatLetsTheSystemReapItsChildrenStillGetsTheAnswers) {
    FakeDesktop desktop;
    struct sigaction ignore = {};
    struct sigaction before = {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(sigaction(SIGCHLD, &ignore, &before), 0);
    desktop.Answer(0, "Standard;;500");
    EXPECT_EQ(ConfigurePacker(&parent, nullptr), 1);
    EXPECT_EQ(PluginSettings.CompType, 8);
    EXPECT_EQ(PluginSettings.MaxFiles, 500);
    desktop.Answer(1);
    EXPECT_EQ(ConfigurePacker(&parent, nullptr), 2);
    sigaction(SIGCHLD, &before, nullptr);
    EXPECT_NE(ReadFileText(ini).find("\nMaxFiles=500\n"), std::string::npos);
    EXPECT_EQ(desktop.Calls().size(), 2u);
}

TEST_F(OptionsDesktopFormTest, WithoutZenityOrADisplayTheDialogCannotBeShown) {
    {
        FakeDesktop desktop;
        desktop.Answer(255); // zenity cannot open the display
        EXPECT_EQ(ConfigurePacker(&parent, nullptr), -1);
        EXPECT_EQ(desktop.Calls().size(), 1u);
    }
    {
        FakeDesktop desktop({"kdialog"}); // kdialog has no forms
        EXPECT_EQ(ConfigurePacker(&parent, nullptr), -1);
        const size_t heap = HeapBytesInUse(); // after a first call has warmed the heap up
        EXPECT_EQ(ConfigurePacker(&parent, nullptr), -1);
        EXPECT_EQ(HeapBytesInUse(), heap) << "the form's memory is given back";
        EXPECT_THAT(desktop.Calls(), IsEmpty());
    }
    {
        FakeDesktop desktop;
        ScopedVariable display("DISPLAY", nullptr);
        EXPECT_EQ(ConfigurePacker(&parent, nullptr), -1);
        EXPECT_THAT(desktop.Calls(), IsEmpty());
    }
    EXPECT_EQ(ReadFileText(ini), original);
    EXPECT_EQ(PluginSettings.MaxFiles, 77); // the reload happened
}

TEST_F(OptionsDesktopFormTest, AHostWithoutAWindowOrATerminalGetsTheFormToo) {
    FakeDesktop desktop;
    desktop.Answer(0, ";;500");
    std::string errors;
    int result = RunWithoutTerminal(
        [] {
            std::freopen("/dev/null", "r", stdin);
            int answer = ConfigurePacker(nullptr, nullptr);
            return answer == 1 && PluginSettings.MaxFiles == 500 ? 0 : 1;
        },
        false, &errors);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(desktop.Calls().size(), 1u);
    EXPECT_NE(ReadFileText(ini).find("\nMaxFiles=500\n"), std::string::npos);
}

} // namespace

// A procedure that will not close after Cancel ends the form, which then
// has no result; a form with more fields than zenity is given arguments for
// is cut, not overrun.
TEST(PosixDesktopForm, EndsWhenTheProcedureWillNotCloseAndCutsTooManyFields) {
    FakeDesktop desktop;
    desktop.Answer(1);
    std::vector<PlatformDialogItem> items(40, PlatformDialogItem{kDialogItemEdit, 7, "Name"});
    const PlatformDialogTemplate form = {1, "Form", items.data(), 40};
    EXPECT_EQ(PosixRunDesktopForm(&form, NeverCloses, 0), -1);
    ASSERT_EQ(desktop.Calls().size(), 1u);
    const Call call = desktop.Calls()[0];
    EXPECT_EQ(call.size(), 2 * kPosixDialogControlCapacity + 8u);
    EXPECT_EQ(call[1], "--forms");
    EXPECT_EQ(call.back(), "--add-entry=Name []");
    // An edit's text is shown as the desktop shows any text: control
    // characters as \xNN, UTF-8 as it is.
    const PlatformDialogTemplate one = {1, "Form", items.data(), 1};
    auto setText = [](PlatformWindow dialog, uint32_t message, uintptr_t, intptr_t) -> intptr_t {
        if (message == kDialogMessageInit) {
            PlatformSetDialogItemText(dialog, 7, "a\x1B[1m\xC3\xA9");
        }
        return 1;
    };
    EXPECT_EQ(PosixRunDesktopForm(&one, setText, 0), -1);
    ASSERT_EQ(desktop.Calls().size(), 2u);
    EXPECT_EQ(desktop.Calls()[1].back(), "--add-entry=Name [a\\x1B[1m\xC3\xA9]");
}

// A procedure that turns OK down gets the form again; when zenity then
// cannot show it, the procedure is told Cancel, as when the user closes it.
FakeDesktop* shownDesktop = nullptr;

TEST(PosixDesktopForm, AFormThatCannotBeShownAgainSendsCancel) {
    FakeDesktop desktop;
    shownDesktop = &desktop;
    desktop.Answer(0, "x");
    const PlatformDialogItem items[] = {{kDialogItemEdit, 7, "Name"}};
    const PlatformDialogTemplate form = {1, "Form", items, 1};
    auto refuseOk = [](PlatformWindow dialog, uint32_t message, uintptr_t command,
                       intptr_t) -> intptr_t {
        if (message == kDialogMessageCommand && command == kDialogOk) {
            shownDesktop->Answer(255); // zenity loses its display
        } else if (message == kDialogMessageCommand) {
            PlatformEndDialog(dialog, kDialogCancel);
        }
        return 1;
    };
    EXPECT_EQ(PosixRunDesktopForm(&form, refuseOk, 0), kDialogCancel);
    EXPECT_EQ(desktop.Calls().size(), 2u);
}
