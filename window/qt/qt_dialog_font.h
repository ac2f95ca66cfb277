// The dialog font and the dialog units measured from it. Dialogs are laid
// out in dialog units: a quarter of the font's average character width
// across, an eighth of its height down.
#pragma once

#include <QFont>
#include <QStringList>
#include <cstdint>

struct DialogBaseUnits {
    int32_t x;  // average character width, pixels
    int32_t y;  // character height, pixels
};

// Installed families to try for a font name, best first. Windows font names
// without an installed match map to a Japanese Gothic of the same kind
// (proportional or fixed pitch).
QStringList dialogFontFamilies(const char* name);
// The named font at pointSize (normal weight, upright); when no candidate is
// installed, the platform's sans-serif font of that size.
QFont dialogFont(const char* name, int32_t pointSize);
DialogBaseUnits dialogBaseUnits(const QFont& font);
// units * baseUnit / divisor, rounded half away from zero.
int32_t dialogUnitsToPixels(int32_t units, int32_t baseUnit, int32_t divisor);
