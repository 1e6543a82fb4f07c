// Reads the three dialog templates (DLGTEMPLATEEX) and checks header, font and controls.
// Wide resource types (RT_DIALOG and the like) for the W functions.
#ifndef UNICODE
#define UNICODE
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

#include "resources/resource.h"

namespace {

constexpr const wchar_t* BUTTON_CLASS = L"button";
constexpr const wchar_t* STATIC_CLASS = L"static";
constexpr DWORD DIALOG_STYLE = 0x80C808C8;

struct DialogItem {
    DWORD style;
    DWORD exStyle;
    short x, y, cx, cy;
    DWORD id;
    std::wstring className;  // lower case; predefined classes stored as ordinals are named
    std::wstring text;
    WORD textOrdinal;  // a resource id instead of a text, as for SS_BITMAP
};

struct DialogTemplate {
    DWORD style;
    DWORD exStyle;
    short cx, cy;
    std::wstring title;
    WORD pointSize;
    BYTE charSet;
    std::wstring face;
    std::vector<DialogItem> items;
};

class TemplateReader {
  public:
    explicit TemplateReader(const uint8_t* bytes) : bytes_(bytes) {}

    template <typename T>
    T Read() {
        T value;
        std::memcpy(&value, bytes_ + offset_, sizeof value);
        offset_ += sizeof value;
        return value;
    }
    std::wstring String() {
        std::wstring text;
        for (wchar_t c = Read<wchar_t>(); c != 0; c = Read<wchar_t>()) {
            text.push_back(c);
        }
        return text;
    }
    // sz_Or_Ord: empty, 0xFFFF and an ordinal, or a string.
    void StringOrOrdinal(std::wstring* text, WORD* ordinal) {
        WORD first;
        std::memcpy(&first, bytes_ + offset_, sizeof first);
        *ordinal = 0;
        if (first == 0xFFFF) {
            offset_ += 2;
            *ordinal = Read<WORD>();
        } else {
            *text = String();
        }
    }
    void AlignToDword() { offset_ = (offset_ + 3) & ~size_t{3}; }

  private:
    const uint8_t* bytes_;
    size_t offset_ = 0;
};

DialogTemplate LoadTemplate(UINT id) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(id), RT_DIALOG);
    EXPECT_NE(found, nullptr) << id;
    if (found == nullptr) {
        return {};
    }
    TemplateReader reader(static_cast<const uint8_t*>(LockResource(LoadResource(instance, found))));
    DialogTemplate dialog{};
    EXPECT_EQ(reader.Read<WORD>(), 1);       // dlgVer
    EXPECT_EQ(reader.Read<WORD>(), 0xFFFF);  // signature
    reader.Read<DWORD>();                    // helpID
    dialog.exStyle = reader.Read<DWORD>();
    dialog.style = reader.Read<DWORD>();
    const WORD count = reader.Read<WORD>();
    reader.Read<short>();
    reader.Read<short>();
    dialog.cx = reader.Read<short>();
    dialog.cy = reader.Read<short>();
    std::wstring unused;
    WORD ordinal;
    reader.StringOrOrdinal(&unused, &ordinal);  // menu
    reader.StringOrOrdinal(&unused, &ordinal);  // class
    dialog.title = reader.String();
    dialog.pointSize = reader.Read<WORD>();
    reader.Read<WORD>();  // weight
    reader.Read<BYTE>();  // italic
    dialog.charSet = reader.Read<BYTE>();
    dialog.face = reader.String();
    for (WORD i = 0; i < count; ++i) {
        reader.AlignToDword();
        DialogItem item{};
        reader.Read<DWORD>();  // helpID
        item.exStyle = reader.Read<DWORD>();
        item.style = reader.Read<DWORD>();
        item.x = reader.Read<short>();
        item.y = reader.Read<short>();
        item.cx = reader.Read<short>();
        item.cy = reader.Read<short>();
        item.id = reader.Read<DWORD>();
        WORD classOrdinal;
        reader.StringOrOrdinal(&item.className, &classOrdinal);
        if (classOrdinal == 0x0080) {
            item.className = L"button";
        } else if (classOrdinal == 0x0082) {
            item.className = L"static";
        }
        for (wchar_t& c : item.className) {
            c = towlower(c);
        }
        reader.StringOrOrdinal(&item.text, &item.textOrdinal);
        const WORD extra = reader.Read<WORD>();
        for (WORD b = 0; b < extra; ++b) {
            reader.Read<BYTE>();
        }
        dialog.items.push_back(item);
    }
    return dialog;
}

void ExpectItem(const DialogItem& item, DWORD id, const wchar_t* className,
                const std::wstring& text, WORD textOrdinal, DWORD style, short x, short y, short cx,
                short cy) {
    EXPECT_EQ(item.id, id);
    EXPECT_EQ(item.className, className) << id;
    EXPECT_EQ(item.text, text) << id;
    EXPECT_EQ(item.textOrdinal, textOrdinal) << id;
    EXPECT_EQ(item.style, style) << std::hex << id;
    EXPECT_EQ(item.exStyle, 0u) << id;
    EXPECT_EQ(item.x, x) << id;
    EXPECT_EQ(item.y, y) << id;
    EXPECT_EQ(item.cx, cx) << id;
    EXPECT_EQ(item.cy, cy) << id;
}

constexpr DWORD CHILD = WS_CHILD | WS_VISIBLE;
constexpr DWORD LEFT_TEXT = CHILD | WS_GROUP | SS_LEFT;
constexpr DWORD PICTURE = CHILD | SS_BITMAP;
constexpr DWORD NO_ID = 0xFFFFFFFF;

void ExpectShellFont(const DialogTemplate& dialog) {
    EXPECT_EQ(dialog.pointSize, 8);
    EXPECT_EQ(dialog.face, L"MS Shell Dlg");
    EXPECT_EQ(dialog.charSet, DEFAULT_CHARSET);
}

}  // namespace

TEST(DialogTemplates, AboutBox) {
    const DialogTemplate dialog = LoadTemplate(IDD_ABOUT);
    EXPECT_EQ(dialog.style, DIALOG_STYLE);
    EXPECT_EQ(dialog.exStyle, 0u);
    EXPECT_EQ(dialog.cx, 259);
    EXPECT_EQ(dialog.cy, 76);
    EXPECT_EQ(dialog.title, L"About Tarq Projira");
    ExpectShellFont(dialog);
    ASSERT_EQ(dialog.items.size(), 6u);
    ExpectItem(dialog.items[0], IDOK, BUTTON_CLASS, L"OK", 0, CHILD | WS_TABSTOP | BS_DEFPUSHBUTTON,
               202, 7, 50, 14);
    ExpectItem(dialog.items[1], IDC_COPYRIGHT, STATIC_CLASS, L"\x00A9 2026 vorn_kvusb developers",
               0, LEFT_TEXT, 52, 40, 135, 11);
    ExpectItem(dialog.items[2], IDC_RIGHTS, STATIC_CLASS, L"All rights reserved.", 0, LEFT_TEXT, 52,
               55, 107, 8);
    ExpectItem(dialog.items[3], IDC_APP_VERSION, STATIC_CLASS, L"Tarq Projira Version", 0,
               LEFT_TEXT, 52, 12, 126, 8);
    ExpectItem(dialog.items[4], IDC_FW_VERSION, STATIC_CLASS, L"K7Q0 FW Version", 0, LEFT_TEXT, 52,
               26, 127, 8);
    ExpectItem(dialog.items[5], NO_ID, STATIC_CLASS, L"", IDB_ABOUT_PICTURE, PICTURE, 17, 14, 21,
               20);
}

TEST(DialogTemplates, WarningBoxesAreTopmostWithoutAButton) {
    const struct {
        UINT id;
        DWORD textId;
        const wchar_t* text;
    } warnings[] = {
        {IDD_OVERHEAT, IDC_OVERHEAT_TEXT, L"Projector Overheated."},
        {IDD_FANFAIL, IDC_FANFAIL_TEXT, L"Fan failure."},
    };
    for (const auto& warning : warnings) {
        const DialogTemplate dialog = LoadTemplate(warning.id);
        EXPECT_EQ(dialog.style, DIALOG_STYLE) << warning.id;
        EXPECT_EQ(dialog.exStyle, static_cast<DWORD>(WS_EX_TOPMOST)) << warning.id;
        EXPECT_EQ(dialog.cx, 243);
        EXPECT_EQ(dialog.cy, 36);
        EXPECT_EQ(dialog.title, L"Tarq Projira");
        ExpectShellFont(dialog);
        ASSERT_EQ(dialog.items.size(), 2u) << warning.id;
        ExpectItem(dialog.items[0], warning.textId, STATIC_CLASS, warning.text, 0, LEFT_TEXT, 48,
                   13, 182, 8);
        ExpectItem(dialog.items[1], NO_ID, STATIC_CLASS, L"", IDB_WARNING_PICTURE, PICTURE, 14, 8,
                   21, 20);
    }
}
