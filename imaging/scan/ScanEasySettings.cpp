// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/scan/ScanEasySettings.h"

namespace {

constexpr double kInchesPerMillimetre = 0.03937007874015748;

float Inches(int32_t millimetres)
{
    return float(double(millimetres) * kInchesPerMillimetre);
}

}  // namespace

ImgKitScanEasyBlock ScanEasyBlockFromSettings(const Settings& settings)
{
    ImgKitScanEasyBlock block;
    switch (settings.ScanMode) {
    case 1:
        block.mode = kImgKitScanBilevel;
        break;
    case 2:
        block.mode = kImgKitScanGray;
        break;
    case 3:
        block.mode = kImgKitScanPalette;
        break;
    default:
        block.mode = kImgKitScanColor;
        break;
    }
    block.left = Inches(settings.ScanLeft);
    block.top = Inches(settings.ScanTop);
    block.right = Inches(settings.ScanRight);
    block.bottom = Inches(settings.ScanBottom);
    block.resolution = float(settings.ScanReso);
    block.error = kImgKitScanOk;
    return block;
}

QString ScanEasyErrorMessage(int32_t error)
{
    switch (error) {
    case kImgKitScanErrorNoMemory:
        return QStringLiteral("メモリー不足です");
    case kImgKitScanErrorUnsupported:
        return QStringLiteral("このスキャナでは本機能は使用できません");
    case kImgKitScanErrorSettings:
        return QStringLiteral("設定が不正です（スキャナに合っていません）");
    case kImgKitScanErrorOther:
        return QStringLiteral("その他のエラーが発生しました");
    case kImgKitScanErrorCancelled:
        return QStringLiteral("キャンセルされました");
    default:
        return {};
    }
}
