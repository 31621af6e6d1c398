// The three small circled symbols of the update views (an arrow down, an
// information mark, a check mark), drawn in one colour. Icon themes draw
// these differently or not at all, and their symbolic images lose their
// inner lines when recoloured.
#pragma once

#include <QColor>
#include <QPixmap>

namespace vessora {

enum class CircledSymbol { arrowDown, info, checkmark };

// `shape` in `colour`, `size` pixels square at the screen's pixel ratio.
QPixmap drawCircledSymbol(CircledSymbol shape, const QColor& colour, int size = 16);

} // namespace vessora
