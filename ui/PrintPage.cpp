// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/PrintPage.h"

#include "core/PrintGeometry.h"
#include "core/Prompt.h"
#include "imaging/Dib.h"
#include "imaging/ImgKit.h"
#include "imaging/PictureTarget.h"

#include <QImage>
#include <QPainter>
#include <QPrinter>

namespace {

// Keeps the picture TMDIB::DrawToImage hands over.
class HeldPicture : public PictureTarget {
public:
    void SetPicture(const QImage& picture) override { picture_ = picture; }
    const QImage& Picture() const { return picture_; }

private:
    QImage picture_;
};

}  // namespace

PrintResult PrintPageImage(Prompt& prompt, QPrinter& printer, const QString& imagePath)
{
    if (!prompt.PrinterSetup(printer))
        return PrintResult::Cancelled;

    const QString unreadable = QStringLiteral("画像ファイルを読み込めません");
    HeldPicture held;
    {
        ImageHandle dib = ImgKitFileLoad(imagePath);
        if (!dib) {
            prompt.MessageDlg(unreadable, DlgIcon::Error);
            return PrintResult::LoadFailed;
        }
        TMDIB view(dib);
        if (!view.DrawToImage(held)) {
            prompt.MessageDlg(unreadable, DlgIcon::Error);
            return PrintResult::DrawFailed;
        }
        // The picture is a copy of its own: the block goes before printing,
        // so a large page is not held twice while the printer's file is made.
    }
    const QImage& picture = held.Picture();

    printer.setDocName(QStringLiteral("Tolvane"));
    QPainter painter;
    if (!painter.begin(&printer))
        return PrintResult::PrinterFailed;
    // The painter's origin is the top left corner of the printable area and
    // width() x height() is that area in device pixels at the printer's
    // resolution (pageRect(DevicePixel) has the same size, placed on the
    // paper), so the picture is centred on what the printer can print.
    const QRect target = PrintTargetRect(printer.width(), printer.height(), picture.width(), picture.height());
    // The whole picture goes to the printer, which scales it to the
    // rectangle at its own resolution: nothing is shrunk beforehand. No
    // smoothing: a painter that scales itself samples, dropping rows and
    // columns when it reduces (the PDF that Qt makes for a file or for CUPS
    // leaves the scaling to whoever renders it, without interpolation). And
    // the picture goes into that PDF losslessly, not recompressed as JPEG.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.setRenderHint(QPainter::LosslessImageRendering, true);
    painter.drawImage(target, picture);
    if (!painter.end())
        return PrintResult::PrinterFailed;
    return PrintResult::Printed;
}
