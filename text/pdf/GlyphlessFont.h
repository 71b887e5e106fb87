// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A TrueType font with one empty glyph, for the invisible text of a page.

#include <QByteArray>

QByteArray GlyphlessFont();
