// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Shared pieces of the editor's window tests: patterned 24-bit pictures,
// pixel reading, pointer events sent straight to a control, and an editor
// run with its own prompt, settings record and settings file.

#include "tests/ui/UiTestMain.h"

#include "core/Settings.h"
#include "editor/TEditForm.h"
#include "imaging/DibQImage.h"
#include "imaging/ImageHandle.h"
#include "imaging/ImgKit.h"

#include <QApplication>
#include <QMouseEvent>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <array>
#include <cstring>
#include <memory>

namespace EditorTestSupport {

// A 24-bit picture whose every pixel tells where it is: blue = x, green = y,
// red = 7x + 3y (each mod 256).
inline ImageHandle Pattern(int width, int height)
{
    ImageHandle h = ImageHandle::NewDib(width, height, 24);
    const DibLayout l = DibLayoutOf(h);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = h.Data() + l.bitsOffset + std::size_t(height - 1 - y) * std::size_t(l.stride);
        for (int x = 0; x < width; ++x) {
            row[3 * x] = uint8_t(x);
            row[3 * x + 1] = uint8_t(y);
            row[3 * x + 2] = uint8_t(7 * x + 3 * y);
        }
    }
    return h;
}

// A 24-bit picture of one colour.
inline ImageHandle Flat(int width, int height, uint8_t b, uint8_t g, uint8_t r)
{
    ImageHandle h = ImageHandle::NewDib(width, height, 24);
    const DibLayout l = DibLayoutOf(h);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = h.Data() + l.bitsOffset + std::size_t(y) * std::size_t(l.stride);
        for (int x = 0; x < width; ++x) {
            row[3 * x] = b;
            row[3 * x + 1] = g;
            row[3 * x + 2] = r;
        }
    }
    return h;
}

// Blue, green, red of pixel (x, y), y = 0 the top row.
inline std::array<int, 3> Bgr(const ImageHandle& h, int x, int y)
{
    const DibLayout l = DibLayoutOf(h);
    const uint8_t* p = h.Data() + l.bitsOffset + std::size_t(l.height - 1 - y) * std::size_t(l.stride) + 3 * x;
    return {p[0], p[1], p[2]};
}

inline QSize SizeOf(const ImageHandle& h)
{
    ImgKitInfo info{};
    if (!ImgKitImageInfo(h, info))
        return {};
    return {info.width, info.height};
}

inline QByteArray Bytes(const ImageHandle& h)
{
    return QByteArray(reinterpret_cast<const char*>(h.Data()), qsizetype(h.Size()));
}

inline QImage Picture(const ImageHandle& h)
{
    return DibToQImage(h);
}

// A malformed block: an 8-bit header without the colour table it implies.
// No library call accepts it.
inline ImageHandle Malformed()
{
    return ImageHandle::NewDib(40, 30, 8, 0);
}

// A press at `from`, moves through `to`, a release at `to`.
inline void Drag(QWidget* w, QPoint from, QPoint to)
{
    SendMouse(w, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    SendMouse(w, QEvent::MouseMove, (from + to) / 2, Qt::NoButton, Qt::LeftButton);
    SendMouse(w, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
    SendMouse(w, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
}

// One editor run: the editor over a picture, with a scripted prompt, its own
// settings record and a settings file in a temporary folder.
struct EditorRun {
    QTemporaryDir dir;
    ScriptedPrompt prompt;
    Settings settings;
    std::unique_ptr<QSettings> store;
    std::unique_ptr<TEditForm> form;

    EditorRun() : store(std::make_unique<QSettings>(dir.filePath(QStringLiteral("editor.ini")), QSettings::IniFormat)) {}

    // Builds the editor (settings as they are now), hands it the picture and
    // shows it.
    TEditForm& Open(ImageHandle image)
    {
        form = std::make_unique<TEditForm>(prompt, settings, *store, nullptr);
        form->EditImage = std::move(image);
        form->show();
        return *form;
    }

    template <typename T = QWidget>
    T* W(const char* name) const
    {
        T* w = form->findChild<T*>(QLatin1String(name));
        if (!w)
            qFatal("no control %s", name);
        return w;
    }

    void Click(const char* name) { QTest::mouseClick(W<QAbstractButton>(name), Qt::LeftButton); }
    void Click(int speedButton)
    {
        const QByteArray name = "SpeedButton" + QByteArray::number(speedButton);
        Click(name.constData());
    }

    // The settings as they were written to the file.
    Settings Stored()
    {
        store->sync();
        QSettings reread(dir.filePath(QStringLiteral("editor.ini")), QSettings::IniFormat);
        Settings s;
        LoadSettings(s, reread);
        return s;
    }
};

}  // namespace EditorTestSupport
