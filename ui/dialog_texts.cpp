#include "ui/dialog_texts.h"

#include <algorithm>

#include "ui/language_blocks.h"

namespace {

// Builds one formatted line the way the wide printf into the About box's buffer does.
class LineBuilder {
  public:
    LineBuilder& Text(std::u16string_view text) {
        line_.append(text);
        return *this;
    }
    LineBuilder& Char(char16_t c) {
        line_.push_back(c);
        return *this;
    }
    LineBuilder& Number(uint32_t value) {
        char16_t digits[10];
        size_t count = 0;
        do {
            digits[count++] = static_cast<char16_t>(u'0' + value % 10);
            value /= 10;
        } while (value != 0);
        while (count != 0) {
            line_.push_back(digits[--count]);
        }
        return *this;
    }
    LineBuilder& Version(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
        return Number(a).Char(u'.').Number(b).Char(u'.').Number(c).Char(u'.').Number(d);
    }
    // What the control shows: the text up to the first zero character, cut to the buffer.
    std::u16string Visible() const {
        const size_t end = std::min(line_.find(u'\0'), ABOUT_LINE_MAX_CHARS);
        return line_.substr(0, end);
    }

  private:
    std::u16string line_;
};

}  // namespace

std::u16string FormatFirmwareLine(std::span<const uint8_t, 64> info,
                                  std::optional<std::u16string_view> label, uint32_t lcid) {
    const uint32_t fourth = info[3] * 256u + info[4];
    const uint8_t* mcu = &info[FIRMWARE_INFO_MCU_OFFSET];
    LineBuilder line;
    const auto addNumbersAndMcu = [&] {
        line.Version(info[0], info[1], info[2], fourth)
            .Char(u' ')
            .Char(mcu[0])
            .Char(mcu[1])
            .Char(mcu[2]);
    };
    if (!label) {
        line.Text(u"K7Q0 FW Version ");
        addNumbersAndMcu();
    } else if (IsRightToLeftLanguage(lcid)) {
        addNumbersAndMcu();
        line.Char(u' ').Text(*label);
    } else {
        line.Text(*label).Char(u' ');
        addNumbersAndMcu();
    }
    return line.Visible();
}

std::u16string FormatProgramVersionLine(const FileVersion& v,
                                        std::optional<std::u16string_view> label, uint32_t lcid) {
    LineBuilder line;
    if (!label) {
        line.Text(u"Tarq Projira Version ").Version(v.major, v.minor, v.third, v.fourth);
    } else if (IsRightToLeftLanguage(lcid)) {
        line.Version(v.major, v.minor, v.third, v.fourth).Char(u' ').Text(*label);
    } else {
        line.Text(*label).Char(u' ').Version(v.major, v.minor, v.third, v.fourth);
    }
    return line.Visible();
}

uint32_t WarningStringId(uint32_t lcid, WarningKind kind) {
    if (PrimaryLanguage(lcid) == PRIMARY_LANGUAGE_ENGLISH) {
        return 0;
    }
    const uint32_t base = GetLanguageBase(lcid);
    if (base == 0) {
        return 0;
    }
    return StringId(base,
                    kind == WarningKind::Overheat ? TextRole::Overheat : TextRole::FanFailure);
}
