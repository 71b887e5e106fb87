// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The seam through which the program scans: each call is modal (the
// library's windows, the scan itself) and answers with a picture or none.
// The program uses QtScanner (widgets), which calls the ImgKit scanner
// functions; tests may answer from a script instead.

#include "imaging/ImageHandle.h"
#include "imaging/scan/ScanEasy.h"

class Scanner {
public:
    virtual ~Scanner() = default;

    // The scanner selection dialog; true when a choice was stored.
    virtual bool ScanSelect() = 0;
    // The scanner's own dialog; the scanned picture, or null.
    virtual ImageHandle Scan() = 0;
    // The one-shot scan of `block`; the picture, or null with block.error set.
    virtual ImageHandle ScanEasy(ImgKitScanEasyBlock& block) = 0;
};
