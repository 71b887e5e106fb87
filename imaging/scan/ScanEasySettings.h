// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The one-shot scan as the program asks for it: the block filled from the
// settings, and what the user is told when no picture comes back.

#include "core/Settings.h"
#include "imaging/scan/ScanEasy.h"

#include <QString>

// ScanMode 0 (full colour) → 2, 1 (black and white) → 0, 2 (grey) → 1,
// 3 (palette colour) → 3; any other value scans in full colour. The edges
// are millimetres × 0.03937007874015748 (inches); the resolution is
// ScanReso dpi.
ImgKitScanEasyBlock ScanEasyBlockFromSettings(const Settings& settings);

// The message for the block's error code (caption "Tolvane", OK); empty for
// 0 and for codes the library does not define: nothing is shown.
QString ScanEasyErrorMessage(int32_t error);
