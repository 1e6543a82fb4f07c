// Loads the compiled resources the way the program does and checks them against the texts,
// ids, sizes and templates the program relies on.
// Wide resource types (RT_DIALOG and the like) for the W functions.
#ifndef UNICODE
#define UNICODE
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "ui/dialog_texts.h"
#include "ui/language_blocks.h"
#include "ui/menu_layout.h"

namespace {

HINSTANCE Instance() {
    return GetModuleHandleW(nullptr);
}

struct ExpectedBlock {
    uint32_t languageBase;
    const wchar_t* texts[TEXT_ROLE_COUNT];
};

// Every string of every language block, in role order.
const ExpectedBlock EXPECTED_BLOCKS[] = {
    // Spanish
    {2001,
     {L"Modo pantalla", L"Espejo", L"Tamaño original", L"Zoom 1", L"Zoom 2", L"Modo de energía",
      L"Encendido automático", L"Acerca de", L"Tarq Projira Versión", L"K7Q0 Versión de FW",
      L"© 2026 Desarrolladores de vorn_kvusb", L"Todos los derechos reservados.",
      L"Fallo de ventilador.", L"El proyector se ha sobrecalentado."}},
    // French
    {2101,
     {L"Mode d'affichage", L"Miroir", L"Taille d'origine", L"Zoom 1", L"Zoom 2",
      L"Mode d'alimentation", L"Alimentation auto", L"À propos de", L"Tarq Projira Version",
      L"K7Q0 Version micrologiciel", L"© 2026 Développeurs de vorn_kvusb", L"Tous droits réservés.",
      L"Panne de ventilateur", L"Surchauffe du projecteur."}},
    // German
    {2201,
     {L"Anzeigemodus", L"Spiegel", L"Originalgröße", L"Zoom 1", L"Zoom 2", L"Energiemodus",
      L"Autom. EIN/AUS", L"Info", L"Tarq Projira-Version", L"K7Q0 FW-Version",
      L"© 2026 vorn_kvusb-Entwickler", L"Alle Rechte vorbehalten.", L"Lüfter defekt.",
      L"Projektor überhitzt."}},
    // Italian
    {2301,
     {L"Modalità visualizzazione", L"Rifletti", L"Formato originale", L"Zoom 1", L"Zoom 2",
      L"Modalità alimentazione", L"Accensione auto", L"Informazioni su", L"Tarq Projira  Versione",
      L"K7Q0 FW Versione", L"© 2026 Sviluppatori di vorn_kvusb", L"Tutti i diritti riservati.",
      L"Errore ventola.", L"Proiettore surriscaldato."}},
    // Portuguese
    {2401,
     {L"Modo de Exibição", L"Espelho", L"Tamanho Original", L"Zoom 1", L"Zoom 2",
      L"Modo de energia", L"Energia Auto", L"Sobre", L"Versão Tarq Projira", L"Versão K7Q0 FW",
      L"© 2026 Programadores do vorn_kvusb", L"Todos os direitos reservados.",
      L"Falha na ventoinha.", L"Projector em sobreaquecimento."}},
    // Russian
    {2501,
     {L"Режим отображения", L"Зеркало", L"Исходный размер", L"Масштаб 1", L"Масштаб 2",
      L"Режим питания", L"Автом. питание", L"О программе", L"Версия Tarq Projira",
      L"Версия K7Q0 FW", L"© 2026 Разработчики vorn_kvusb", L"Все права защищены.",
      L"Сбой вентилятора.", L"Перегрев проектора."}},
    // Japanese
    {2601,
     {L"ディスプレイモード", L"ミラー", L"元のサイズ", L"ズーム 1", L"ズーム 2", L"電源モード",
      L"自動", L"バージョン情報", L"Tarq Projira バージョン", L"K7Q0 FW バージョン",
      L"© 2026 vorn_kvusb 開発者", L"無断複製・転載を禁じます。", L"ファンが故障しています。",
      L"プロジェクタが過熱しています。"}},
    // Chinese, traditional script
    {2701,
     {L"顯示模式", L"鏡像", L"原始尺寸", L"縮放 1", L"縮放 2", L"電源模式", L"自動", L"關於",
      L"Tarq Projira 版本", L"K7Q0 FW 版本", L"© 2026 vorn_kvusb 開發者", L"版權所有。",
      L"風扇失敗。", L"投影機過熱。"}},
    // Chinese, simplified script
    {2801,
     {L"显示模式", L"镜像", L"原始大小", L"缩放 1", L"缩放 2", L"电源模式", L"自动", L"关于",
      L"Tarq Projira 版本", L"K7Q0 FW 版本 A01", L"© 2026 vorn_kvusb 开发者", L"保留所有权利。",
      L"风扇故障。", L"投影机过热。"}},
    // Polish
    {2901,
     {L"Tryb wyświetlania", L"Lustro", L"Rozmiar oryginału", L"Zoom 1", L"Zoom 2",
      L"Tryb zasilania", L"Automatyczne ustawienia zasilania", L"Informacje",
      L"Tarq Projira wersja", L"Oprogramowanie K7Q0 wersja", L"© 2026 Twórcy vorn_kvusb",
      L"Wszelkie prawa zastrzeżone.", L"Usterka wentylatora", L"Przegrzanie projektora"}},
    // Thai
    {3001,
     {L"โหมดการแสดงผล", L"สำเนาเหมือนจริง", L"ขนาดต้นฉบับ", L"ซูม 1", L"ซูม 2", L"โหมดพลังงาน",
      L"จัดการพลังงานอัตโนมัติ", L"เกี่ยวกับ", L"Tarq Projira เวอร์ชั่น", L"K7Q0 FW เวอร์ชั่น",
      L"© 2026 ผู้พัฒนา vorn_kvusb", L"สงวนลิขสิทธิ์", L"พัดลมทำงานผิดพลาด", L"โปรเจคเตอร์ร้อนเกินไป"}},
    // Dutch
    {3101,
     {L"Weergavemodus", L"Spiegelen", L"Origineel formaat", L"Zoom 1", L"Zoom 2", L"Energiebeheer",
      L"Auto-energie", L"Info", L"Tarq Projira Versie", L"K7Q0 FW Versioe",
      L"© 2026 vorn_kvusb-ontwikkelaars", L"Alle rechten voorbehouden.", L"Ventilatorstoring",
      L"Projector oververhit."}},
    // Czech
    {3201,
     {L"Režim zobrazení", L"Zrcadlo", L"Původní velikost", L"Přiblížení 1", L"Přiblížení 2",
      L"Režim napájení", L"Automatické napájení", L"Informace", L"Verze Tarq Projira",
      L"K7Q0 Verze FW", L"© 2026 Vývojáři vorn_kvusb", L"Všechna práva vyhrazena.",
      L"Chyba ventilátoru.", L"Projektor se přehřívá."}},
    // Danish
    {3301,
     {L"Skærmtilstand", L"Spejl", L"Oprindelig størrelse", L"Zoom 1", L"Zoom 2", L"Strømtilstand",
      L"Automatisk strøm", L"Om", L"Tarq Projira Version", L"K7Q0 FW Version",
      L"© 2026 vorn_kvusb-udviklerne", L"Alle rettigheder forbeholdes.", L"Blæserfejl.",
      L"Projektor overophedet."}},
    // Swedish
    {3401,
     {L"Visningsläge", L"Spegel", L"Originalstorlek", L"Zoom 1", L"Zoom 2", L"Effektläge",
      L"Autostart", L"Om", L"Tarq Projira Version", L"K7Q0 FW Version",
      L"© 2026 vorn_kvusb-utvecklarna", L"Alla rättigheter förbehållna.", L"Fläktfel.",
      L"Projektor överhettad."}},
    // Hungarian
    {3501,
     {L"Megjelenítési mód", L"Tükrözés", L"Eredeti méret", L"Zoom 1", L"Zoom 2",
      L"Energiagazdálkodás mód", L"Automatikus energiagazdálkodás", L"Névjegy",
      L"Tarq Projira Verzió", L"K7Q0 FW verzió", L"© 2026 A vorn_kvusb fejlesztői",
      L"Minden jog fenntartva.", L"Ventilátor hiba.", L"A projektor túlmalagedett."}},
    // Turkish
    {3601,
     {L"Gösterim Modu", L"Ayna", L"Orijinal Boyut", L"Yakınlaştırma 1", L"Yakınlaştırma 2",
      L"Güç Modu", L"Otomatik Güç", L"Hakkında", L"Tarq Projira Sürüm", L"K7Q0 FW Sürümü",
      L"© 2026 vorn_kvusb geliştiricileri", L"Tüm hakları saklıdır.", L"Fan hatası.",
      L"Projektör fazla ısındı."}},
    // Korean
    {3701,
     {L"디스플레이 모드", L"미러", L"원래 크기", L"확대 1", L"확대 2", L"전원 모드", L"자동 전원:",
      L"정보", L"Tarq Projira 버전", L"K7Q0 FW 버전", L"© 2026 vorn_kvusb 개발자",
      L"모든 권리 보유.", L"팬 오류.", L"프로젝터 과열."}},
    // Vietnamese
    {3801,
     {L"Chế Độ Hiển Thị", L"Gương", L"Kích Cỡ Ban Đầu", L"Zoom 1", L"Zoom 2", L"Chế Độ Pin",
      L"Nguồn Tự Động", L"Giới thiệu", L"Tarq Projira Phiên bản", L"K7Q0 Phần sụn phiên bản",
      L"© 2026 Các nhà phát triển vorn_kvusb", L"Bảo lưu mọi quyền.", L"Hỏng quạt.",
      L"Máy chiếu quá nóng."}},
    // Arabic
    {3901,
     {L"وضع العرض", L"المرآة", L"الحجم الأصلي", L"تكبير/تصغير 1", L"تكبير/تصغير 2", L"وضع الطاقة",
      L"طاقة تلقائية", L"حول", L"Tarq Projira الإصدار", L"K7Q0 FW الإصدار",
      L"© 2026 مطورو vorn_kvusb", L"جميع الحقوق محفوظة.", L"فشلت المروحة.",
      L"ارتفاع حرارة جهاز الإسقاط الضوئي."}},
    // English
    {4001,
     {L"Display Mode", L"Mirror", L"Original", L"Zoom 1", L"Zoom 2", L"Power Mode", L"Auto Power",
      L"About", L"Tarq Projira Version", L"K7Q0 FW Version", L"© 2026 vorn_kvusb developers",
      L"All rights reserved.", L"Fan failure.", L"Projector overheated."}},
};

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

TEST(StringTable, EveryBlockHoldsItsFourteenTexts) {
    ASSERT_EQ(std::size(EXPECTED_BLOCKS), 21u);
    for (const ExpectedBlock& block : EXPECTED_BLOCKS) {
        for (uint32_t role = 0; role < TEXT_ROLE_COUNT; ++role) {
            EXPECT_EQ(LoadText(block.languageBase + role), block.texts[role])
                << "string " << block.languageBase + role;
        }
        // Nothing beyond the block, nothing before it.
        EXPECT_EQ(LoadText(block.languageBase + TEXT_ROLE_COUNT), L"") << block.languageBase;
        EXPECT_EQ(LoadText(block.languageBase - 1), L"") << block.languageBase;
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

TEST(StringTable, LanguageBlocksMatchGetLanguageBase) {
    // Every base GetLanguageBase can return is a block of the table.
    for (uint32_t lcid = 0; lcid < 0x10000; ++lcid) {
        const uint32_t base = GetLanguageBase(lcid);
        if (base != 0) {
            ASSERT_NE(LoadText(base), L"") << std::hex << lcid;
        }
    }
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

TEST(TrayMenu, ItemsIdsAndPositions) {
    HMENU resource = LoadMenuW(Instance(), MAKEINTRESOURCEW(IDR_TRAYMENU));
    ASSERT_NE(resource, nullptr);
    HMENU top = GetSubMenu(resource, 0);
    ASSERT_NE(top, nullptr);
    ASSERT_EQ(GetMenuItemCount(top), 5);

    EXPECT_EQ(GetMenuItemID(top, 0), static_cast<UINT>(IDM_TITLE));
    EXPECT_EQ(MenuText(top, 0), L"Tarq Projira");
    EXPECT_TRUE(GetMenuState(top, 0, MF_BYPOSITION) & MF_GRAYED);
    EXPECT_TRUE(GetMenuState(top, 1, MF_BYPOSITION) & MF_SEPARATOR);
    EXPECT_EQ(MenuText(top, 2), L"Display Mode");
    EXPECT_EQ(MenuText(top, 3), L"Power Mode");
    EXPECT_EQ(GetMenuItemID(top, 4), static_cast<UINT>(IDM_ABOUT));
    EXPECT_EQ(MenuText(top, 4), L"About");
    EXPECT_FALSE(GetMenuState(top, 4, MF_BYPOSITION) & MF_GRAYED);

    // Walk the sub-menus the way the menu build does.
    HMENU menus[5] = {top};
    for (const SubMenuLink& link : SUB_MENU_LINKS) {
        menus[static_cast<int>(link.level)] =
            GetSubMenu(menus[static_cast<int>(link.parent)], link.position);
        ASSERT_NE(menus[static_cast<int>(link.level)], nullptr);
    }
    HMENU displayMode = menus[static_cast<int>(MenuLevel::DisplayMode)];
    EXPECT_EQ(MenuText(displayMode, 0), L"Mirror");
    EXPECT_EQ(MenuText(displayMode, 1), L"800x600");

    const struct {
        MenuLevel level;
        std::vector<UINT> ids;
        std::vector<std::wstring> texts;
    } leaves[] = {
        {MenuLevel::Mirror, {40013, 40014}, {L"Original", L"Zoom 1"}},
        {MenuLevel::Mode800x600, {40017, 40018, 40019}, {L"Original", L"Zoom 1", L"Zoom 2"}},
        {MenuLevel::PowerMode, {40020, 40021}, {L"Auto Power", L"ECO"}},
    };
    for (const auto& leaf : leaves) {
        HMENU menu = menus[static_cast<int>(leaf.level)];
        ASSERT_EQ(GetMenuItemCount(menu), static_cast<int>(leaf.ids.size()));
        for (UINT i = 0; i < leaf.ids.size(); ++i) {
            EXPECT_EQ(GetMenuItemID(menu, i), leaf.ids[i]);
            EXPECT_EQ(MenuText(menu, i), leaf.texts[i]);
        }
    }
    for (const PictureMenuItem& item : PICTURE_MENU_ITEMS) {
        EXPECT_LT(item.position,
                  static_cast<uint32_t>(GetMenuItemCount(menus[static_cast<int>(item.level)])));
    }
    DestroyMenu(resource);
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
