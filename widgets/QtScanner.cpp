// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/QtScanner.h"

#include "imaging/scandialogs/ImgKitScan.h"

bool QtScanner::ScanSelect()
{
    return ImgKitScanSelect(window_);
}

ImageHandle QtScanner::Scan()
{
    return ImgKitScan(window_);
}

ImageHandle QtScanner::ScanEasy(ImgKitScanEasyBlock& block)
{
    return ImgKitScanEasy(window_, block);
}
