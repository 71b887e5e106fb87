// SPDX-License-Identifier: GPL-3.0-or-later
// The page copied to the clipboard is an image another program can paste:
// on an X server the clipboard offers image/png, and its bytes are the
// picture at its own size. Run under xvfb-run with QT_QPA_PLATFORM=xcb.

#include "imaging/Dib.h"
#include "imaging/ImgKit.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>

#include <cstdio>

namespace {

// Runs xclip while this process keeps answering the X server (the clipboard
// owner must serve the request, so no blocking wait).
QByteArray Xclip(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral("xclip"), args);
    QElapsedTimer t;
    t.start();
    while (p.state() != QProcess::NotRunning && t.elapsed() < 20000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        p.waitForFinished(10);
    }
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished();
        return "<timeout>";
    }
    return p.readAllStandardOutput();
}

int Fail(const char* what, const QByteArray& got = {})
{
    std::fprintf(stderr, "FAIL: %s %s\n", what, got.left(200).constData());
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return Fail("not on an X server:", QGuiApplication::platformName().toUtf8());

    // A 300 x 200 picture: red left half, blue right half.
    ImageHandle dib = CreateDib(300, 200, 3);
    TMDIB m(dib);
    for (int y = 0; y < m.Height; ++y) {
        uint8_t* row = m.TopRow - y * m.Stride;
        for (int x = 0; x < m.Width; ++x) {
            row[3 * x] = x < 150 ? 0 : 255;      // blue
            row[3 * x + 1] = 0;                  // green
            row[3 * x + 2] = x < 150 ? 255 : 0;  // red
        }
    }
    if (!ImgKitSetToClipBrd(dib))
        return Fail("ImgKitSetToClipBrd refused the picture");

    const QByteArray targets = Xclip({QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-t"),
                                      QStringLiteral("TARGETS"), QStringLiteral("-o")});
    if (!targets.split('\n').contains("image/png"))
        return Fail("the clipboard offers no image/png; targets:", targets);

    const QByteArray png = Xclip({QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-t"),
                                  QStringLiteral("image/png"), QStringLiteral("-o")});
    QImage pasted;
    if (!pasted.loadFromData(png, "PNG"))
        return Fail("image/png is not a PNG:", png.left(16).toHex());
    if (pasted.size() != QSize(300, 200))
        return Fail("wrong size");
    if (pasted.pixelColor(10, 100) != QColor(255, 0, 0) || pasted.pixelColor(290, 100) != QColor(0, 0, 255))
        return Fail("wrong pixels");
    std::printf("clipboard offers image/png, %d bytes, 300 x 200\n", int(png.size()));
    return 0;
}
