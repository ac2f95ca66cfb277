#include "window/qt/qt_dialog_font.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <algorithm>
#include <cstring>
#include <span>
#include <utility>

namespace {

struct FontSubstitute {
    const char* name;
    bool proportional;
};

// The Windows Japanese Gothics the dialog resources name, by their full-width
// and their ASCII spellings.
const FontSubstitute knownFonts[] = {
    {"ＭＳ Ｐゴシック", true}, {"MS PGothic", true},   {"ＭＳ ゴシック", false},
    {"MS Gothic", false},      {"MS UI Gothic", true}, {"MS Shell Dlg", true},
};

const char* const proportionalGothics[] = {
    "IPAPGothic",       "IPA Pゴシック", "VL PGothic",         "TakaoPGothic",
    "Noto Sans CJK JP", "Noto Sans JP",  "Source Han Sans JP", "Droid Sans Japanese",
};
const char* const fixedGothics[] = {
    "IPAGothic", "IPAゴシック", "VL Gothic", "TakaoGothic", "Noto Sans Mono CJK JP",
};

void appendInstalled(QStringList* families, const QString& family) {
    if (!families->contains(family) && QFontDatabase::hasFamily(family)) families->append(family);
}

}  // namespace

QStringList dialogFontFamilies(const char* name) {
    QStringList families;
    if (name == nullptr) name = "";
    appendInstalled(&families, QString::fromUtf8(name));
    bool proportional = true;
    for (const FontSubstitute& known : knownFonts) {
        if (std::strcmp(known.name, name) == 0) proportional = known.proportional;
    }
    std::span<const char*const> first = proportionalGothics, second = fixedGothics;
    if (!proportional) std::swap(first, second);
    for (const std::span<const char* const> gothics : {first, second}) {
        for (const char* family : gothics) appendInstalled(&families, QString::fromUtf8(family));
    }
    return families;
}

QFont dialogFont(const char* name, int32_t pointSize) {
    QFont font;
    const QStringList families = dialogFontFamilies(name);
    if (!families.isEmpty()) {
        font.setFamilies(families);
    } else {
        font.setStyleHint(QFont::SansSerif);
        font.setFamily(QString());
    }
    font.setPointSize(pointSize > 0 ? pointSize : 9);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    return font;
}

DialogBaseUnits dialogBaseUnits(const QFont& font) {
    // The average width over the 52 Latin letters, as Windows measures it
    // for dialogs; the height is the font's full line height.
    const QFontMetrics metrics(font);
    const int32_t letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {std::max((letters / 26 + 1) / 2, 1), std::max(metrics.height(), 1)};
}

int32_t dialogUnitsToPixels(int32_t units, int32_t baseUnit, int32_t divisor) {
    if (divisor == 0) return 0;
    const int64_t product = static_cast<int64_t>(units) * baseUnit;
    const int64_t half = divisor / 2;
    const int64_t rounded = product >= 0 ? (product + half) / divisor : (product - half) / divisor;
    return static_cast<int32_t>(rounded);
}
