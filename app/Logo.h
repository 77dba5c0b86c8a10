#pragma once
// The program's picture (window icon and about box), drawn so that it stays sharp
// at any scale.
#include <QIcon>
#include <QPixmap>

// A square picture of `size` logical pixels for a screen with the given pixel ratio.
QPixmap MakeLogo(int size, qreal devicePixelRatio = 1.0);
QIcon MakeAppIcon();
