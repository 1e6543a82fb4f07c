#include "app/display_mode.h"

#include "app/capture_session.h"
#include "app/frame_pipeline.h"
#include "tests/support/engine_fixture.h"

namespace {

using Size = std::pair<int, int>;

class DisplayModeTest : public EngineTest {};

TEST_F(DisplayModeTest, FirstRunSwitchesTo800x600AndSavesIt) {
    g_nScreenWidth = kStartWidth;
    g_nScreenHeight = kStartHeight;
    ApplySavedDisplayMode();
    EXPECT_TRUE(Traced("GetDisplaySettings: RegOpenKeyEx failed!\n"));
    EXPECT_EQ(m_desktop.Changes(), std::vector<Size>{Size(800, 600)});
    EXPECT_EQ(DispMode.load(), DISP_MODE_800X600);

    EXPECT_EQ(SetDisplaySettings(), 1);
    EXPECT_TRUE(Traced("SetDisplaySettings - nDispMode: 0x1, nZoomMode: 0x0\n"));
    EXPECT_EQ(m_store.Value(kSettingsKey, "DispMode"), 1u);
    EXPECT_EQ(m_store.Value(kSettingsKey, "ZoomMode"), 0u);
    EXPECT_EQ(m_store.OpenKeyCount(), 0);
}

TEST_F(DisplayModeTest, SavedValuesAreReadAsTheMenuKnowsThem) {
    struct Case {
        uint32_t dispMode, zoomMode;
        int32_t wantDisp, wantZoom;
    };
    for (Case c : {Case{2, 3, DISP_MODE_MIRROR, ZOOM_ORIGINAL},
                   Case{1, 2, DISP_MODE_800X600, ZOOM_2}, Case{0, 1, DISP_MODE_MIRROR, ZOOM_1},
                   Case{0xFFFFFFFF, 0xFFFFFFFF, DISP_MODE_MIRROR, ZOOM_ORIGINAL}}) {
        DispMode.store(DISP_MODE_800X600);
        ZoomMode.store(ZOOM_ORIGINAL);
        m_store.SetValue(kSettingsKey, "DispMode", c.dispMode);
        m_store.SetValue(kSettingsKey, "ZoomMode", c.zoomMode);
        EXPECT_EQ(GetDisplaySettings(), 1);
        EXPECT_EQ(DispMode.load(), c.wantDisp) << c.dispMode;
        EXPECT_EQ(ZoomMode.load(), c.wantZoom) << c.zoomMode;
    }
}

TEST_F(DisplayModeTest, MissingValuesKeepTheModesAndSavedMirrorLeavesTheDesktop) {
    m_store.SetValue(kSettingsKey, "Other", 7);
    ZoomMode.store(ZOOM_1);
    ApplySavedDisplayMode();
    EXPECT_EQ(DispMode.load(), DISP_MODE_MIRROR);
    EXPECT_EQ(ZoomMode.load(), ZOOM_1);
    EXPECT_TRUE(m_desktop.Changes().empty());

    m_store.SetValue(kSettingsKey, "DispMode", 1);
    ApplySavedDisplayMode();
    EXPECT_EQ(m_desktop.Changes(), std::vector<Size>{Size(800, 600)});
}

// A store whose writes of one value, or whose keys, can be made to fail.
class FailingStore : public MemorySettingsStore {
  public:
    bool OpenUserKey(const char* path, KeyAccess access, SettingsKey* key) override {
        opened.push_back(path);
        if ((failOpenProgramKey && std::string(path) == kSettingsKey) ||
            (failOpenSoftware && std::string(path) == "Software")) {
            return false;
        }
        return MemorySettingsStore::OpenUserKey(path, access, key);
    }
    bool CreateSubKey(SettingsKey parent, const char* name, SettingsKey* key) override {
        return !failCreate && MemorySettingsStore::CreateSubKey(parent, name, key);
    }
    bool WriteDword(SettingsKey key, const char* name, uint32_t value) override {
        return failValue != name && MemorySettingsStore::WriteDword(key, name, value);
    }
    std::vector<std::string> opened;
    bool failOpenProgramKey = false;
    bool failOpenSoftware = false;
    bool failCreate = false;
    std::string failValue;
};

class SettingsWriteTest : public DisplayModeTest {
  protected:
    void SetUp() override {
        DisplayModeTest::SetUp();
        g_pSettingsStore = &failing_;
        DispMode.store(DISP_MODE_800X600);
        ZoomMode.store(ZOOM_2);
    }
    FailingStore failing_;
};

TEST_F(SettingsWriteTest, CreatesTheKeyUnderSoftwareWhenItIsMissing) {
    EXPECT_EQ(SetDisplaySettings(), 1);
    EXPECT_EQ(failing_.opened, (std::vector<std::string>{kSettingsKey, "Software"}));
    EXPECT_EQ(failing_.Value(kSettingsKey, "DispMode"), 1u);
    EXPECT_EQ(failing_.Value(kSettingsKey, "ZoomMode"), 2u);
    EXPECT_EQ(failing_.OpenKeyCount(), 0);

    failing_.opened.clear();
    EXPECT_EQ(SetDisplaySettings(), 1);
    EXPECT_EQ(failing_.opened, std::vector<std::string>{kSettingsKey});
}

TEST_F(SettingsWriteTest, AFailedZoomModeWriteStillReturnsOne) {
    failing_.failValue = "ZoomMode";
    EXPECT_EQ(SetDisplaySettings(), 1);
    EXPECT_TRUE(Traced("SetDisplaySettings: RegSetValueEx error!\n"));
    EXPECT_EQ(failing_.Value(kSettingsKey, "DispMode"), 1u);
    EXPECT_FALSE(failing_.Value(kSettingsKey, "ZoomMode").has_value());
}

TEST_F(SettingsWriteTest, KeyThatCanBeNeitherOpenedNorCreated) {
    failing_.failOpenProgramKey = true;
    failing_.failOpenSoftware = true;
    EXPECT_EQ(SetDisplaySettings(), 0);
    EXPECT_TRUE(Traced("SetDisplaySettings: RegOpenKeyEx RegRootKey failed!\n"));

    failing_.failOpenSoftware = false;
    failing_.failCreate = true;
    ClearTraces();
    EXPECT_EQ(SetDisplaySettings(), 0);
    EXPECT_TRUE(Traced("SetDisplaySettings: RegCreateKeyEx failed!\n"));
    EXPECT_FALSE(Traced("SetDisplaySettings: RegSetValueEx error!\n"));
    EXPECT_EQ(failing_.OpenKeyCount(), 0);
    EXPECT_FALSE(failing_.HasKey(kSettingsKey));
}

// The capture sizes of the sessions opened so far, from their traces.
std::vector<std::string> SessionSizes(const std::vector<std::string>& traces) {
    std::vector<std::string> sizes;
    for (const std::string& line : traces) {
        if (line == "854, 480\n" || line == "1136, 480\n" || line == "854, 848\n") {
            sizes.push_back(line);
        }
    }
    return sizes;
}

TEST_F(DisplayModeTest, TheFiveMenuChoices) {
    g_nScreenWidth = kStartWidth;
    g_nScreenHeight = kStartHeight;
    StartSession("link=2.0");
    struct Choice {
        int dispMode, zoomMode;
        std::vector<Size> desktopChanges;
        const char* session;
    };
    const Choice choices[] = {
        {DISP_MODE_800X600, ZOOM_2, {{800, 600}}, "854, 848\n"},
        {DISP_MODE_800X600, ZOOM_1, {}, "1136, 480\n"},
        {DISP_MODE_MIRROR, ZOOM_1, {{kStartWidth, kStartHeight}}, "1136, 480\n"},
        {DISP_MODE_MIRROR, ZOOM_ORIGINAL, {}, "854, 480\n"},
        {DISP_MODE_800X600, ZOOM_ORIGINAL, {{800, 600}}, "854, 480\n"},
    };
    std::vector<Size> changes;
    for (const Choice& choice : choices) {
        ClearTraces();
        SelectDisplayMode(choice.dispMode, choice.zoomMode);
        changes.insert(changes.end(), choice.desktopChanges.begin(), choice.desktopChanges.end());
        EXPECT_EQ(m_desktop.Changes(), changes) << choice.dispMode << "/" << choice.zoomMode;
        EXPECT_EQ(SessionSizes(Traces()), std::vector<std::string>{choice.session});
        EXPECT_TRUE(Traced(" KVCapAPI_Close success\n"));
        EXPECT_EQ(DispMode.load(), choice.dispMode);
        EXPECT_EQ(ZoomMode.load(), choice.zoomMode);
        EXPECT_EQ(g_nCaptureZoom, choice.zoomMode);
    }
    EXPECT_TRUE(WaitForFramesShown(1));
}

TEST_F(DisplayModeTest, AFailedDesktopChangeStillChangesTheMode) {
    m_desktop.FailChanges(true);
    SelectDisplayMode(DISP_MODE_800X600, ZOOM_ORIGINAL);
    EXPECT_EQ(DispMode.load(), DISP_MODE_800X600);
    EXPECT_EQ(ChangeDesktopSize(800, 600), -2);
}

TEST_F(DisplayModeTest, WithTheCaptureStoppedTheZoomIsNotApplied) {
    EXPECT_EQ(SetCaptureZoom(ZOOM_2), 0);
    EXPECT_EQ(g_nCaptureZoom, ZOOM_ORIGINAL);
    EXPECT_EQ(OnDisplayChange(), 0);
    EXPECT_EQ(Traces(), std::vector<std::string>{"OnDisplayChange ok\n"});
}

TEST_F(DisplayModeTest, SavedZoom1GivesAnOriginalSessionThenAZoomedOne) {
    m_store.SetValue(kSettingsKey, "DispMode", 0);
    m_store.SetValue(kSettingsKey, "ZoomMode", 1);
    StartDevice("link=2.0");
    ApplySavedDisplayMode();
    OpenCapture();
    EXPECT_EQ(SessionSizes(Traces()), std::vector<std::string>{"854, 480\n"});
    // What the tray window does when it is created.
    SetCaptureZoom(ZoomMode.load());
    EXPECT_EQ(SessionSizes(Traces()), (std::vector<std::string>{"854, 480\n", "1136, 480\n"}));
    EXPECT_TRUE(WaitForFramesShown(1));
}

TEST_F(DisplayModeTest, FrameRateFollowsTheLinkSpeed) {
    for (auto [link, trace] :
         {std::pair<const char*, const char*>{"3.0", "Set Capture Frame rate: 45 fps\n"},
          {"2.0", "Set Capture Frame rate: 30 fps\n"},
          {"1.1", "Set Capture Frame rate: 30 fps\n"}}) {
        TearDown();
        SetUp();
        StartSession(std::string("link=") + link);
        EXPECT_TRUE(Traced(trace)) << link;
        EXPECT_TRUE(Traced(" KVCapAPI_Start success\n"));
    }
}

TEST_F(DisplayModeTest, OpeningASessionTracesEachStepInOrder) {
    StartSession("link=3.0");
    std::vector<std::string> traces = Traces();
    std::vector<std::string> expected = {
        " KVCapAPI_Initialize success\n",    " KVCapAPI_Create success\n",
        " KVCapAPI_SetCursorMode success\n", "Set Capture Frame rate: 45 fps\n",
        "Set Color Format: CF_24BPP_888\n",  "854, 480\n",
        " KVCapAPI_Start success\n"};
    int at = 0;
    for (const std::string& line : expected) {
        at = TraceIndex(line, at);
        EXPECT_GE(at, 0) << line;
    }
    EXPECT_GE(TraceIndex("m_nWidth: 854, _nHeight: 480\n"), 0);
}

}  // namespace
