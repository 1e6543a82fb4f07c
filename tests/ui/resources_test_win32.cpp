// Loads the compiled resources the way the program does and checks them against the texts,
// ids, sizes and templates the program relies on.
// Wide resource types (RT_DIALOG and the like) for the W functions.
#ifndef UNICODE
#define UNICODE
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "app/display_mode.h"
#include "app/frame_pipeline.h"
#include "app/power_mode.h"
#include "resources/resource.h"
#include "tests/support/engine_fixture.h"
#include "ui/dialog_texts.h"
#include "ui/language_blocks.h"
#include "ui/menu_commands.h"
#include "ui/menu_layout.h"
#include "ui/presenter_hotkeys.h"

namespace {

HINSTANCE Instance() {
    return GetModuleHandleW(nullptr);
}

// The string table: 21 blocks of TEXT_ROLE_COUNT strings at 2001 + 100 k.
constexpr uint32_t kFirstBlock = 2001;
constexpr uint32_t kBlockSpacing = 100;
constexpr uint32_t kBlockCount = 21;
constexpr size_t kStringBufferChars = 128;  // the program's string buffers

bool InBlock(uint32_t id) {
    return id >= kFirstBlock && (id - kFirstBlock) % kBlockSpacing < TEXT_ROLE_COUNT &&
           (id - kFirstBlock) / kBlockSpacing < kBlockCount;
}

// The whole text of a string resource, however long; empty when there is none.
std::wstring WholeText(UINT id) {
    const wchar_t* text = nullptr;
    const int length = LoadStringW(Instance(), id, reinterpret_cast<LPWSTR>(&text), 0);
    return length > 0 ? std::wstring(text, static_cast<size_t>(length)) : std::wstring();
}

std::wstring LoadText(UINT id) {
    wchar_t buffer[128];  // the program's string buffers
    const int length = LoadStringW(Instance(), id, buffer, 128);
    return std::wstring(buffer, length > 0 ? length : 0);
}

std::wstring MenuText(HMENU menu, UINT position) {
    wchar_t buffer[256];
    const int length = GetMenuStringW(menu, position, buffer, 256, MF_BYPOSITION);
    return std::wstring(buffer, length > 0 ? length : 0);
}

// The raw bytes of one resource.
const uint8_t* ResourceBytes(LPCWSTR type, UINT id, DWORD* size = nullptr) {
    HRSRC found = FindResourceW(Instance(), MAKEINTRESOURCEW(id), type);
    if (found == nullptr) {
        return nullptr;
    }
    if (size != nullptr) {
        *size = SizeofResource(Instance(), found);
    }
    return static_cast<const uint8_t*>(LockResource(LoadResource(Instance(), found)));
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) {
    reinterpret_cast<std::set<WORD>*>(param)->insert(language);
    return TRUE;
}

BOOL CALLBACK CollectNameLanguages(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param) {
    EnumResourceLanguagesW(module, type, name, CollectLanguage, param);
    return TRUE;
}

BOOL CALLBACK CollectTypeLanguages(HMODULE module, LPWSTR type, LONG_PTR param) {
    EnumResourceNamesW(module, type, CollectNameLanguages, param);
    return TRUE;
}

}  // namespace

TEST(StringTable, EveryBlockIsCompleteAndNothingLiesOutsideTheBlocks) {
    for (uint32_t id = kFirstBlock - kBlockSpacing; id < kFirstBlock + kBlockSpacing * kBlockCount;
         ++id) {
        const std::wstring text = WholeText(id);
        if (InBlock(id)) {
            EXPECT_FALSE(text.empty()) << "string " << id << " is missing";
            EXPECT_LT(text.size(), kStringBufferChars) << "string " << id << " is cut when loaded";
        } else {
            EXPECT_TRUE(text.empty()) << "string " << id << " lies outside the blocks";
        }
    }
}

// The resource compiler reads the script in one code page; a text in another comes out as
// replacement characters or C1 controls.
TEST(StringTable, EveryTextSurvivedTheResourceCompiler) {
    for (uint32_t k = 0; k < kBlockCount; ++k) {
        for (uint32_t role = 0; role < TEXT_ROLE_COUNT; ++role) {
            const uint32_t id = kFirstBlock + kBlockSpacing * k + role;
            const std::wstring text = WholeText(id);
            for (wchar_t c : text) {
                EXPECT_FALSE(c == 0xFFFD || (c >= 0x80 && c < 0xA0) || (c < 0x20 && c != L'\t'))
                    << "string " << id << " holds U+" << std::hex << static_cast<int>(c);
            }
            // A tab parts an item from its hotkey: Freeze and Blank have one, the rest none.
            const bool listsKeys = role == static_cast<uint32_t>(TextRole::Freeze) ||
                                   role == static_cast<uint32_t>(TextRole::Blank);
            EXPECT_EQ(std::count(text.begin(), text.end(), L'\t'), listsKeys ? 1 : 0)
                << "string " << id;
        }
    }
}

TEST(StringTable, SpotChecksInUtf16) {
    EXPECT_EQ(LoadText(2601),
              std::wstring(L"\x30C7\x30A3\x30B9\x30D7\x30EC\x30A4\x30E2\x30FC\x30C9"));
    EXPECT_EQ(LoadText(3901), std::wstring(L"\x0648\x0636\x0639 \x0627\x0644\x0639\x0631\x0636"));
    EXPECT_EQ(LoadText(2309), L"Tarq Projira  Versione");
    EXPECT_EQ(LoadText(3110), L"K7Q0 FW Versioe");
    EXPECT_EQ(LoadText(3707), std::wstring(L"\xC790\xB3D9 \xC804\xC6D0:"));
    EXPECT_EQ(LoadText(2810), std::wstring(L"K7Q0 FW \x7248\x672C A01"));
}

TEST(StringTable, EveryLanguageHasItsBlockAndEveryBlockALanguage) {
    std::set<uint32_t> reached;
    for (uint32_t lcid = 0; lcid < 0x10000; ++lcid) {
        if (const uint32_t base = GetLanguageBase(lcid)) {
            reached.insert(base);
        }
    }
    std::set<uint32_t> blocks;
    for (uint32_t k = 0; k < kBlockCount; ++k) {
        blocks.insert(kFirstBlock + kBlockSpacing * k);
    }
    EXPECT_EQ(reached, blocks);
}

TEST(Resources, AllStoredUnderOneLanguage) {
    std::set<WORD> languages;
    EnumResourceTypesW(Instance(), CollectTypeLanguages, reinterpret_cast<LONG_PTR>(&languages));
    EXPECT_EQ(languages, std::set<WORD>{MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL)});

    // So a Japanese user interface still loads the English block by its id.
    const LANGID before = GetThreadUILanguage();
    SetThreadUILanguage(MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN));
    EXPECT_EQ(LoadText(4001), L"Display Mode");
    SetThreadUILanguage(before);
}

// The sub-menus of resource 106 by level, walked the way the menu build walks them.
struct TrayMenuResource {
    HMENU resource = LoadMenuW(Instance(), MAKEINTRESOURCEW(IDR_TRAYMENU));
    HMENU menus[MENU_LEVEL_COUNT] = {};

    TrayMenuResource() {
        menus[static_cast<int>(MenuLevel::Top)] = GetSubMenu(resource, 0);
        for (const SubMenuLink& link : SUB_MENU_LINKS) {
            menus[static_cast<int>(link.level)] =
                GetSubMenu(menus[static_cast<int>(link.parent)], link.position);
        }
    }
    ~TrayMenuResource() { DestroyMenu(resource); }
    HMENU operator[](MenuLevel level) const { return menus[static_cast<int>(level)]; }
};

std::wstring EnglishText(TextRole role) {
    return LoadText(StringId(ENGLISH_LANGUAGE_BASE, role));
}

TEST(TrayMenu, EveryMenuTheBuildReachesIsThereInEnglish) {
    const TrayMenuResource menu;
    ASSERT_NE(menu.resource, nullptr);
    for (HMENU level : menu.menus) {
        ASSERT_NE(level, nullptr);
    }
    HMENU top = menu[MenuLevel::Top];
    EXPECT_EQ(GetMenuItemID(top, 0), static_cast<UINT>(IDM_TITLE));
    EXPECT_TRUE(GetMenuState(top, 0, MF_BYPOSITION) & MF_GRAYED);
    EXPECT_TRUE(GetMenuState(top, 1, MF_BYPOSITION) & MF_SEPARATOR);
    EXPECT_EQ(GetMenuItemID(top, 4), static_cast<UINT>(IDM_ABOUT));
    // The presenter's items come after the described ones, parted from them.
    EXPECT_TRUE(GetMenuState(top, 5, MF_BYPOSITION) & MF_SEPARATOR);
    EXPECT_EQ(GetMenuItemCount(top), 10);
    // The resource's own texts are the English block's, which the build puts in their place.
    for (const TopMenuItem& item : TOP_MENU_ITEMS) {
        EXPECT_EQ(MenuText(top, item.position), EnglishText(item.text)) << item.position;
    }
    for (const PictureMenuItem& item : PICTURE_MENU_ITEMS) {
        HMENU parent = menu[item.level];
        ASSERT_LT(item.position, static_cast<uint32_t>(GetMenuItemCount(parent)));
        if (item.text) {
            EXPECT_EQ(MenuText(parent, item.position), EnglishText(*item.text)) << item.traceGroup;
        }
    }
}

// Every command item, chosen, leaves the menu showing it "on" and its neighbours "off": the
// resource's ids, the command handler and the pictures agree.
class TrayMenuCommands : public EngineTest {};

TEST_F(TrayMenuCommands, EachItemChosenIsTheOneShownOn) {
    OpenProjector("");
    const TrayMenuResource menu;
    int commands = 0;
    for (const PictureMenuItem& item : PICTURE_MENU_ITEMS) {
        const UINT id = GetMenuItemID(menu[item.level], item.position);
        if (id == static_cast<UINT>(-1) || id == IDM_ONE_WINDOW) {
            continue;  // a sub-menu, shown on through its items; the tray's own window choice
        }
        ++commands;
        RunMenuCommand(id);
        const MenuState state{DispMode.load(),    ZoomMode.load(), PowerMode,
                              g_nWallHold.load(), FlipMode.load(), g_nCaptureWindow.load() != 0};
        for (const PictureMenuItem& other : PICTURE_MENU_ITEMS) {
            if (other.level == item.level) {
                EXPECT_EQ(IsMenuCheckOn(other.check, state), other.position == item.position)
                    << "after command " << id << ", item " << other.position;
            }
        }
    }
    EXPECT_EQ(commands, 13);
}

// What the menu lists after each of the two items is what the program registers.
TEST(TrayMenu, FreezeAndBlankListTheHotkeysTheProgramRegisters) {
    for (const PresenterHotkey& hotkey : PRESENTER_HOTKEYS) {
        EXPECT_EQ(hotkey.modifiers & ~MOD_NOREPEAT,
                  static_cast<UINT>(MOD_CONTROL | MOD_ALT | MOD_SHIFT));
        const std::wstring text = EnglishText(hotkey.item);
        EXPECT_EQ(text.substr(text.find(L'\t') + 1),
                  std::wstring(L"Ctrl+Alt+Shift+") + static_cast<wchar_t>(hotkey.key));
        const TrayMenuResource menu;
        const int position = hotkey.item == TextRole::Freeze ? 6 : 7;
        EXPECT_EQ(GetMenuItemID(menu[MenuLevel::Top], position), hotkey.command);
    }
}

TEST(Pictures, BitmapsLoadAt32BitsPerPixel) {
    std::vector<std::pair<UINT, LONG>> bitmaps;
    for (uint16_t id : MENU_BITMAP_IDS) {
        bitmaps.push_back({id, 18});
    }
    bitmaps.push_back({IDB_ABOUT_PICTURE, 32});
    bitmaps.push_back({IDB_WARNING_PICTURE, 32});
    for (const auto& [id, side] : bitmaps) {
        HBITMAP bitmap = LoadBitmapW(Instance(), MAKEINTRESOURCEW(id));
        ASSERT_NE(bitmap, nullptr) << id;
        BITMAP info{};
        ASSERT_NE(GetObjectW(bitmap, sizeof info, &info), 0) << id;
        EXPECT_EQ(info.bmWidth, side) << id;
        EXPECT_EQ(info.bmHeight, side) << id;
        DeleteObject(bitmap);

        const auto* header =
            reinterpret_cast<const BITMAPINFOHEADER*>(ResourceBytes(RT_BITMAP, id));
        ASSERT_NE(header, nullptr) << id;
        EXPECT_EQ(header->biBitCount, 32) << id;
        EXPECT_EQ(header->biWidth, side) << id;
        EXPECT_EQ(header->biHeight, side) << id;
    }
}

TEST(Pictures, IconHasOne32By32ImageAt32Bits) {
    HICON icon = LoadIconW(Instance(), MAKEINTRESOURCEW(IDI_KVUSB));
    ASSERT_NE(icon, nullptr);
    DestroyIcon(icon);

    // GRPICONDIR: reserved, type, count, then 14-byte entries.
    const uint8_t* group = ResourceBytes(RT_GROUP_ICON, IDI_KVUSB);
    ASSERT_NE(group, nullptr);
    WORD count;
    std::memcpy(&count, group + 4, 2);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(group[6], 32);  // width
    EXPECT_EQ(group[7], 32);  // height
    WORD bitCount;
    std::memcpy(&bitCount, group + 6 + 6, 2);
    EXPECT_EQ(bitCount, 32);
}

TEST(VersionResource, FileAndProductVersionAndNames) {
    wchar_t path[MAX_PATH];
    ASSERT_NE(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &handle);
    ASSERT_NE(size, 0u);
    std::vector<uint8_t> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000006u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000006u);

    // The English About box's first line.
    const FileVersion version =
        FileVersionFromFixedInfo(fixed->dwFileVersionMS, fixed->dwFileVersionLS);
    const std::wstring label = LoadText(4009);
    const std::u16string line =
        FormatProgramVersionLine(version, std::u16string(label.begin(), label.end()), 0x0409);
    EXPECT_EQ(std::wstring(line.begin(), line.end()), L"Tarq Projira Version 1.0.0.6");

    const struct {
        const wchar_t* name;
        const wchar_t* value;
    } strings[] = {
        {L"InternalName", L"vorn_kvusb"},
        {L"OriginalFilename", L"vorn_kvusb.exe"},
        {L"FileDescription", L"vorn_kvusb Application"},
        {L"ProductName", L"vorn_kvusb Application"},
        {L"FileVersion", L"1.0.0.6"},
        {L"ProductVersion", L"1.0.0.6"},
    };
    for (const auto& s : strings) {
        wchar_t* value = nullptr;
        const std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + s.name;
        ASSERT_TRUE(
            VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length))
            << s.name;
        EXPECT_STREQ(value, s.value);
    }
}

TEST(Manifest, AsksForAdministratorDpiAwarenessAndCommonControls6) {
    DWORD size = 0;
    const uint8_t* bytes = ResourceBytes(RT_MANIFEST, 1, &size);
    ASSERT_NE(bytes, nullptr);
    const std::string manifest(reinterpret_cast<const char*>(bytes), size);
    EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos);
    EXPECT_NE(manifest.find(">PerMonitorV2, PerMonitor<"), std::string::npos);
    EXPECT_NE(manifest.find(">true/pm<"), std::string::npos);
    EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
              std::string::npos);
}
