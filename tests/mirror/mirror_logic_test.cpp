#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "app/display_mode.h"
#include "app/frame_pipeline.h"
#include "device/device_status.h"
#include "image/image_flip.h"
#include "mirror/control_command.h"
#include "mirror/mirror_options.h"
#include "platform/settings_file.h"
#include "platform/unit_removal_linux.h"

// The plain rules of kvusb-mirror: its command line, how options meet the saved modes, the
// settings file, the fault notices and the removal events.

namespace {

bool Parse(std::vector<const char*> arguments, MirrorOptions* options, std::string* error) {
    arguments.insert(arguments.begin(), "kvusb-mirror");
    return ParseMirrorOptions(static_cast<int>(arguments.size()), arguments.data(), options, error);
}

TEST(MirrorOptions, TakeValuesAfterTheNameOrAfterAnEqualsSign) {
    MirrorOptions options;
    std::string error;
    ASSERT_TRUE(Parse({"--display-mode", "800x600", "--zoom=2", "--power", "eco", "--duration",
                       "2.5", "--virtual=out.png", "-q", "-v"},
                      &options, &error))
        << error;
    EXPECT_EQ(options.dispMode, DISP_MODE_800X600);
    EXPECT_EQ(options.zoomMode, ZOOM_2);
    EXPECT_EQ(options.powerMode, POWER_MODE_ECO);
    EXPECT_EQ(options.duration, 2.5);
    EXPECT_EQ(options.virtualImage, "out.png");
    EXPECT_TRUE(options.quiet && options.verbose && !options.help);
    ASSERT_TRUE(
        Parse({"--zoom", "original", "--display-mode=mirror", "--power=auto"}, &options, &error));
    EXPECT_EQ(options.zoomMode, ZOOM_ORIGINAL);
    EXPECT_EQ(options.dispMode, DISP_MODE_MIRROR);
    EXPECT_EQ(options.powerMode, POWER_MODE_AUTO);
}

TEST(MirrorOptions, RefuseWhatTheyCannotTakeInOneLine) {
    const struct {
        std::vector<const char*> arguments;
        const char* error;
    } cases[] = {
        {{"--bogus"}, "unknown option --bogus"},
        {{"mirror"}, "unknown option mirror"},
        {{"--zoom"}, "--zoom needs a value"},
        {{"--zoom", "3"}, "--zoom: cannot take \"3\""},
        {{"--display-mode=1024x768"}, "--display-mode: cannot take \"1024x768\""},
        {{"--power", "max"}, "--power: cannot take \"max\""},
        {{"--duration", "0"}, "--duration: cannot take \"0\""},
        {{"--duration", "5s"}, "--duration: cannot take \"5s\""},
        {{"--device", "/dev/sg2"}, "--device: cannot take \"/dev/sg2\""},
        {{"--virtual="}, "--virtual: cannot take \"\""},
        {{"--flip", "upside-down"}, "--flip: cannot take \"upside-down\""},
        {{"--control", "freeze=yes"}, "--control: cannot take \"freeze=yes\""},
        {{"--window", "0"}, "--window: cannot take \"0\""},
        {{"--window", "--extend"}, "--window and --extend do not go together"},
    };
    for (const auto& c : cases) {
        MirrorOptions options;
        std::string error;
        EXPECT_FALSE(Parse(c.arguments, &options, &error));
        EXPECT_EQ(error, c.error);
    }
}

// What each command leaves the wall as, from each state: alone a switch turns its own state
// over; on and off set it, and off leaves the other hold alone.
TEST(ControlCommand, LeavesTheWallAsItSays) {
    const struct {
        const char* text;
        int fromLive, fromFrozen, fromBlank;
    } cases[] = {
        {"freeze", WALL_FROZEN, WALL_LIVE, WALL_FROZEN},
        {"freeze=on", WALL_FROZEN, WALL_FROZEN, WALL_FROZEN},
        {"freeze=off", WALL_LIVE, WALL_LIVE, WALL_BLANK},
        {"blank", WALL_BLANK, WALL_BLANK, WALL_LIVE},
        {"blank=off", WALL_LIVE, WALL_FROZEN, WALL_LIVE},
        {"live", WALL_LIVE, WALL_LIVE, WALL_LIVE},
        {"status", WALL_LIVE, WALL_FROZEN, WALL_BLANK},
        {"flip=both", WALL_LIVE, WALL_FROZEN, WALL_BLANK},
    };
    for (const auto& c : cases) {
        std::optional<ControlCommand> command = ParseControlCommand(c.text);
        ASSERT_TRUE(command) << c.text;
        EXPECT_EQ(ControlledWallHold(*command, WALL_LIVE), c.fromLive) << c.text;
        EXPECT_EQ(ControlledWallHold(*command, WALL_FROZEN), c.fromFrozen) << c.text;
        EXPECT_EQ(ControlledWallHold(*command, WALL_BLANK), c.fromBlank) << c.text;
    }
    EXPECT_EQ(ParseControlCommand("flip=vertical")->flip, FLIP_VERTICAL);
    for (const char* text :
         {"", "freeze=", "freezes", "Freeze", "flip=", "flip", "flip=up", "status ", "live\n"}) {
        EXPECT_FALSE(ParseControlCommand(text)) << text;
    }
    EXPECT_FALSE(ParseControlCommand(std::string_view("live\0", 5)));
}

// A window by its ID as xwininfo or xdotool print it, the desktop, or one to pick; the ID of
// no window (0, past 32 bits, anything but digits) refused.
TEST(ControlCommand, NamesAWindowAsXToolsPrintIt) {
    const struct {
        const char* text;
        uint64_t id;
        bool pick;
    } cases[] = {
        {"window=0x1e00007", 0x1e00007, false}, {"window=0X1E00007", 0x1e00007, false},
        {"window=31457287", 31457287, false},   {"window=4294967295", 0xFFFFFFFF, false},
        {"window=desktop", 0, false},           {"window=pick", 0, true},
    };
    for (const auto& c : cases) {
        std::optional<ControlCommand> command = ParseControlCommand(c.text);
        ASSERT_TRUE(command && command->verb == ControlVerb::Window) << c.text;
        EXPECT_EQ(command->window.id, c.id) << c.text;
        EXPECT_EQ(command->window.pick, c.pick) << c.text;
    }
    for (const char* text :
         {"window=", "window=0", "window=0x", "window=0x0", "window=-5", "window=+5", "window=12a",
          "window=0x1g", "window=4294967296", "window= 5", "window=5 ", "window=Pick", "window"}) {
        EXPECT_FALSE(ParseControlCommand(text)) << text;
    }
    EXPECT_EQ(ControlStateText(WALL_FROZEN, FLIP_BOTH, 0x1e00007),
              "wall: frozen\nflip: both\nwindow: 0x1e00007\n");
    EXPECT_EQ(ControlStateText(WALL_LIVE, FLIP_NONE, 0),
              "wall: live\nflip: none\nwindow: desktop\n");
}

// --window alone picks by clicking, whether it comes last or before another option.
TEST(MirrorOptions, WindowAloneMeansPickOne) {
    MirrorOptions options;
    std::string error;
    ASSERT_TRUE(Parse({"--window", "0x400001", "-q"}, &options, &error)) << error;
    EXPECT_EQ(options.window->id, 0x400001u);
    for (std::vector<const char*> arguments : std::vector<std::vector<const char*>>{
             {"--window"}, {"--window", "-q"}, {"--window", "pick"}, {"--window=pick"}}) {
        ASSERT_TRUE(Parse(arguments, &options, &error)) << error;
        EXPECT_TRUE(options.window && options.window->pick) << arguments.size();
    }
}

ModeSettings Resolved(std::vector<const char*> arguments, const SavedModes& saved) {
    MirrorOptions options;
    std::string error;
    EXPECT_TRUE(Parse(arguments, &options, &error)) << error;
    std::optional<ModeSettings> store;
    EXPECT_TRUE(ResolveModeOptions(options, saved, &store, &error)) << error;
    return store.value_or(ModeSettings{99, 99});
}

TEST(MirrorOptions, CaptureWayAndSecondScreen) {
    MirrorOptions options;
    std::string error;
    ASSERT_TRUE(Parse({"--extend", "--capture=portal"}, &options, &error)) << error;
    EXPECT_TRUE(options.extend);
    EXPECT_EQ(options.capture, CaptureWay::Portal);
    ASSERT_TRUE(Parse({"--capture", "x11"}, &options, &error)) << error;
    EXPECT_FALSE(options.extend);
    EXPECT_EQ(options.capture, CaptureWay::X11);
    ASSERT_TRUE(Parse({}, &options, &error));
    EXPECT_EQ(options.capture, CaptureWay::Auto);
    EXPECT_FALSE(Parse({"--capture", "wayland"}, &options, &error));
    EXPECT_EQ(error, "--capture: cannot take \"wayland\"");
    EXPECT_FALSE(Parse({"--extend=1"}, &options, &error));
}

TEST(MirrorOptions, OptionsOverrideTheSavedModesAndKeepTheOtherOne) {
    const SavedModes saved = {true, 1, 1};  // 800x600, zoom 1
    EXPECT_EQ(Resolved({"--zoom", "2"}, saved).dispMode, 1u);
    EXPECT_EQ(Resolved({"--zoom", "2"}, saved).zoomMode, 2u);
    EXPECT_EQ(Resolved({"--display-mode", "mirror"}, saved).dispMode, 0u);
    EXPECT_EQ(Resolved({"--display-mode", "mirror"}, saved).zoomMode, 1u);
    // As start-up reads them: a display mode other than 1 is mirror, a zoom of 3 or more none.
    EXPECT_EQ(Resolved({"--zoom", "1"}, {true, 7, 5}).dispMode, 0u);
    EXPECT_EQ(Resolved({"--display-mode", "800x600"}, {true, 1, 5}).zoomMode, 0u);
    // A first run starts at 800x600.
    EXPECT_EQ(Resolved({"--zoom", "1"}, {}).dispMode, 1u);

    MirrorOptions none;
    std::optional<ModeSettings> store = ModeSettings{0, 0};
    std::string error;
    EXPECT_TRUE(ResolveModeOptions(none, saved, &store, &error));
    EXPECT_FALSE(store.has_value());
}

TEST(MirrorOptions, Zoom2ComesOnlyWith800x600AsInTheMenu) {
    MirrorOptions options;
    std::string error;
    std::optional<ModeSettings> store;
    ASSERT_TRUE(Parse({"--zoom", "2"}, &options, &error));
    EXPECT_FALSE(ResolveModeOptions(options, {true, 0, 0}, &store, &error));
    EXPECT_EQ(error, "--zoom 2 needs --display-mode 800x600");
    ASSERT_TRUE(Parse({"--zoom", "2", "--display-mode", "mirror"}, &options, &error));
    EXPECT_FALSE(ResolveModeOptions(options, {true, 1, 0}, &store, &error));
    // A saved zoom 2 falls back to the whole desktop when the mirror mode is chosen.
    ModeSettings mirror = Resolved({"--display-mode", "mirror"}, {true, 1, 2});
    EXPECT_EQ(mirror.dispMode, 0u);
    EXPECT_EQ(mirror.zoomMode, 0u);
}

class SettingsFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_folder = std::filesystem::path(testing::TempDir()) /
                   ("settings_" + std::to_string(getpid()) + "_" +
                    testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(m_folder);
        m_path = (m_folder / "vorn_kvusb" / "settings").string();
    }
    void TearDown() override { std::filesystem::remove_all(m_folder); }

    void WriteFile(const std::string& text) {
        std::filesystem::create_directories(std::filesystem::path(m_path).parent_path());
        std::ofstream(m_path, std::ios::binary) << text;
    }
    std::string ReadFile() {
        std::ifstream file(m_path, std::ios::binary);
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }
    // The engine's own save and read, through the store.
    void SaveModes(int32_t dispMode, int32_t zoomMode) {
        FileSettingsStore store(m_path);
        store.Load();
        SettingsStore* previous = g_pSettingsStore;
        g_pSettingsStore = &store;
        DispMode.store(dispMode);
        ZoomMode.store(zoomMode);
        EXPECT_EQ(SetDisplaySettings(), 1);
        g_pSettingsStore = previous;
    }
    int LoadModes() {
        FileSettingsStore store(m_path);
        store.Load();
        SettingsStore* previous = g_pSettingsStore;
        g_pSettingsStore = &store;
        DispMode.store(-1);
        ZoomMode.store(-1);
        int found = GetDisplaySettings();
        g_pSettingsStore = previous;
        return found;
    }

    std::filesystem::path m_folder;
    std::string m_path;
};

TEST_F(SettingsFileTest, ModesSavedAtTheEndAreReadAtTheNextStart) {
    EXPECT_EQ(LoadModes(), 0);  // no file: a first run
    SaveModes(DISP_MODE_800X600, ZOOM_2);
    EXPECT_EQ(ReadFile(),
              "# vorn_kvusb settings, written when the program ends\n"
              "[Software\\K7Q0KVUSB]\nDispMode=1\nFlipMode=0\nZoomMode=2\n");
    EXPECT_EQ(LoadModes(), 1);
    EXPECT_EQ(DispMode.load(), DISP_MODE_800X600);
    EXPECT_EQ(ZoomMode.load(), ZOOM_2);
    // The write goes through a file beside it, which does not stay.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_folder / "vorn_kvusb"),
                            std::filesystem::directory_iterator()),
              1);
}

TEST_F(SettingsFileTest, ADamagedFileLosesOnlyWhatCannotBeRead) {
    WriteFile(std::string("garbage\0\xff\n", 11) +
              "ZoomMode=1\n"  // outside any key
              "[Software\\K7Q0KVUSB]\r\n"
              "  DispMode = 1 \r\n"
              "ZoomMode=two\n"
              "ZoomMode=99999999999\n"
              "=3\n"
              "[broken\n"
              "Other=5");
    EXPECT_EQ(LoadModes(), 1);
    EXPECT_EQ(DispMode.load(), DISP_MODE_800X600);
    EXPECT_EQ(ZoomMode.load(), -1);  // kept, as with a registry value that cannot be read
    MemorySettingsStore::Contents contents = ParseSettingsText(ReadFile());
    EXPECT_EQ(contents["Software\\K7Q0KVUSB"].size(), 2u);  // DispMode and Other
    WriteFile("\x01\x02 not a settings file at all");
    EXPECT_EQ(LoadModes(), 0);
}

TEST_F(SettingsFileTest, SavingReplacesTheFileWhole) {
    WriteFile("[Software\\K7Q0KVUSB]\nDispMode=1\nZoomMode=1\n[Software\\Other]\nKept=7\n");
    SaveModes(DISP_MODE_MIRROR, ZOOM_ORIGINAL);
    MemorySettingsStore::Contents contents = ParseSettingsText(ReadFile());
    EXPECT_EQ(contents["Software\\K7Q0KVUSB"]["DispMode"], 0u);
    EXPECT_EQ(contents["Software\\K7Q0KVUSB"]["ZoomMode"], 0u);
    EXPECT_EQ(contents["Software\\Other"]["Kept"], 7u);
}

TEST_F(SettingsFileTest, AFolderThatCannotBeWrittenKeepsTheOldFile) {
    WriteFile("[Software\\K7Q0KVUSB]\nDispMode=1\n");
    std::filesystem::permissions(m_folder / "vorn_kvusb", std::filesystem::perms::owner_read |
                                                              std::filesystem::perms::owner_exec);
    if (getuid() != 0) {  // root writes anyway
        SaveModes(DISP_MODE_MIRROR, ZOOM_1);
        EXPECT_EQ(ReadFile(), "[Software\\K7Q0KVUSB]\nDispMode=1\n");
    }
    std::filesystem::permissions(m_folder / "vorn_kvusb", std::filesystem::perms::owner_all);
}

// The portal's restore token is a text, saved at once: the portal may not honour the old one
// again, so a crash must not lose the new one.
TEST_F(SettingsFileTest, TextsAreSavedAtOnceBesideTheModesAndReadBack) {
    SaveModes(DISP_MODE_MIRROR, ZOOM_1);
    {
        FileSettingsStore store(m_path);
        ASSERT_TRUE(store.Load());
        EXPECT_TRUE(store.WriteText("Software\\K7Q0KVUSB\\ScreenCast", "MirrorToken",
                                    "5b1c3e0a-0c0d-4f1e-9a2b-abcdef012345"));
    }
    EXPECT_EQ(ReadFile(),
              "# vorn_kvusb settings, written when the program ends\n"
              "[Software\\K7Q0KVUSB]\nDispMode=0\nFlipMode=0\nZoomMode=1\n"
              "[Software\\K7Q0KVUSB\\ScreenCast]\n"
              "MirrorToken=\"5b1c3e0a-0c0d-4f1e-9a2b-abcdef012345\"\n");
    FileSettingsStore store(m_path);
    ASSERT_TRUE(store.Load());
    EXPECT_EQ(store.Memory().Text("Software\\K7Q0KVUSB\\ScreenCast", "MirrorToken"),
              "5b1c3e0a-0c0d-4f1e-9a2b-abcdef012345");
    // The modes' own save keeps the text.
    SaveModes(DISP_MODE_800X600, ZOOM_ORIGINAL);
    EXPECT_NE(ReadFile().find("MirrorToken=\"5b1c3e0a"), std::string::npos);
}

TEST_F(SettingsFileTest, ATextAloneDoesNotMakeAFirstRunLookSaved) {
    FileSettingsStore store(m_path);
    EXPECT_TRUE(store.WriteText("Software\\K7Q0KVUSB\\ScreenCast", "ExtendToken", "t"));
    EXPECT_EQ(LoadModes(), 0);  // still 800x600 at the next start, as on a first run
}

TEST_F(SettingsFileTest, TextsALineCannotHoldAreRefusedAndBrokenOnesSkipped) {
    FileSettingsStore store(m_path);
    EXPECT_FALSE(store.WriteText("Software\\K7Q0KVUSB\\ScreenCast", "MirrorToken", "a\"b"));
    EXPECT_FALSE(store.WriteText("Software\\K7Q0KVUSB\\ScreenCast", "MirrorToken", "a\nb"));
    EXPECT_FALSE(std::filesystem::exists(m_path));
    WriteFile(
        "[Software\\K7Q0KVUSB\\ScreenCast]\nMirrorToken=\"open\nExtendToken=\"\"\n"
        "Other=\"x\"y\"\nDispMode=\"1\"\n");
    MemorySettingsStore::TextContents texts = ParseSettingsTexts(ReadFile());
    EXPECT_EQ(texts["Software\\K7Q0KVUSB\\ScreenCast"],
              (std::map<std::string, std::string>{{"DispMode", "1"}, {"ExtendToken", ""}}));
    // A quoted number is a text, not a mode.
    EXPECT_TRUE(ParseSettingsText(ReadFile())["Software\\K7Q0KVUSB\\ScreenCast"].empty());
}

TEST(SettingsFilePath, FollowsTheXdgConfigFolder) {
    setenv("HOME", "/home/ada", 1);
    setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(DefaultSettingsFilePath(), "/cfg/vorn_kvusb/settings");
    setenv("XDG_CONFIG_HOME", "relative", 1);  // not absolute: ignored
    EXPECT_EQ(DefaultSettingsFilePath(), "/home/ada/.config/vorn_kvusb/settings");
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(DefaultSettingsFilePath(), "/home/ada/.config/vorn_kvusb/settings");
    unsetenv("HOME");
    EXPECT_EQ(DefaultSettingsFilePath(), "");
}

TEST(UnitRemoval, OnlyTheWatchedUnitsNodeOrDeviceGoingAwayCounts) {
    EXPECT_TRUE(IsUnitRemoval("remove", "scsi_generic", "sg2", "sg2", "2:0:0:0"));
    EXPECT_TRUE(IsUnitRemoval("remove", "scsi", "2:0:0:0", "sg2", "2:0:0:0"));
    EXPECT_FALSE(IsUnitRemoval("add", "scsi_generic", "sg2", "sg2", "2:0:0:0"));
    EXPECT_FALSE(IsUnitRemoval("remove", "scsi_generic", "sg3", "sg2", "2:0:0:0"));
    EXPECT_FALSE(IsUnitRemoval("remove", "scsi", "2:0:0:1", "sg2", "2:0:0:0"));  // the disk unit
    EXPECT_FALSE(IsUnitRemoval("remove", "block", "sg2", "sg2", "2:0:0:0"));
    EXPECT_FALSE(IsUnitRemoval(nullptr, "scsi", "2:0:0:0", "sg2", "2:0:0:0"));
}

}  // namespace
