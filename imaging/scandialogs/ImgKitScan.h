// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The image library's scanner calls, on SANE (imaging/scan does the work on
// the scan thread; these are the windows around it).
//
// Each call is modal and returns when its window closes; while SANE works
// (device discovery, opening, the read loop) the windows keep painting and a
// progress window with a cancel button shows each scan.

#include "imaging/ImageHandle.h"
#include "imaging/scan/ScanEasy.h"

class QWidget;

// The scanner selection dialog. OK stores the choice in the library's own
// settings; with no scanner at all the dialog says so and stores nothing.
// True when a choice was stored (the program ignores the answer).
bool ImgKitScanSelect(QWidget* window);

// The scanner's own dialog: mode, source, resolution, the area on a
// preview, and the device's other options. The scanned image, or null
// (closed, cancelled, failed, or no scanner).
ImageHandle ImgKitScan(QWidget* window);

// A scan with the values of `block`, no dialog but the progress window. The
// image, or null with block.error set (see ImgKitScanEasyBlock).
ImageHandle ImgKitScanEasy(QWidget* window, ImgKitScanEasyBlock& block);

// Ends SANE (sane_exit on the scan thread). The program calls it once at
// the end, or holds a scan::ScanLibraryGuard in main().
void ImgKitScanShutdown();
