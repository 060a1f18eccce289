// The glyph of the two "Apply" buttons: a yellow pencil lying diagonally
// with its point at the lower right, 16 x 16, stored together with its
// greyed twin for the disabled state as one 32 x 16 picture of 16 colours.
#pragma once

#include <QIcon>
#include <QImage>

// The 32 x 16 picture: the pencil on the left, its greyed twin on the
// right; 16-colour palette, index 0 transparent.
QImage PencilGlyphStrip();

// The icon for a button: the left half normal, the right half disabled.
QIcon PencilIcon();
