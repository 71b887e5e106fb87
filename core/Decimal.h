// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Decimal text as the archive and the settings store it.

#include <QString>
#include <cstdint>

// Reads optional leading white space and sign, then decimal digits up to the
// first other character. Text without leading digits reads as 0. Values
// beyond the 32-bit range are clamped to it. Only ASCII digits count
// (full-width digits are not digits here).
int32_t ParseDecimal(const QString& text);
int32_t ParseDecimal(const QByteArray& text);

// A size computed from a double scale: the product of the integer and the
// double, formed with a 64-bit significand, then truncated toward zero.
// (2480 scaled by 1024.0 / 2480 gives 1023.)
int ScaleSide(int side, double scale);
