// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the tests of tolvane-batch share: the child process run with its own
// HOME and XDG_CONFIG_HOME (and a prepared Tolvane.conf when a test writes
// one), the input pictures, and the checks of exit status and messages.
// Expected images are made in the test process with the same library calls
// intake makes.

#include "core/Settings.h"
#include "imaging/AutoProcess.h"
#include "imaging/Dib.h"
#include "imaging/ImgKit.h"
#include "tests/support/TestVolume.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <ostream>

inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toUtf8().constData() << '"';
}
inline void PrintTo(const QByteArray& bytes, std::ostream* os)
{
    *os << '"' << bytes.left(200).constData() << (bytes.size() > 200 ? "...\"" : "\"");
}

namespace batchtest {

// The system's text for an error number, as the tool prints it.
inline QByteArray Reason(int code)
{
    return QString::fromLocal8Bit(std::strerror(code)).toLocal8Bit();
}

struct Outcome {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// A page picture: tinted paper, dark strokes, a red patch; pixels written
// row by row.
inline ImageHandle MakePicture(int width, int height)
{
    ImageHandle h = CreateDib(width, height, 3);
    const DibLayout l = DibLayoutOf(h);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = h.Data() + l.bitsOffset + std::size_t(y) * l.stride;
        for (int x = 0; x < width; ++x) {
            int r = 228 + (x * 7 + y * 3) % 9, g = 224 + (x + y) % 7, b = 200 + (x * 3 + y) % 11;
            if ((y / 7) % 3 == 1 && (x * 5 + y) % 13 < 4) {
                r = 30;
                g = 25;
                b = 35;
            }
            if (x > width / 2 && y > height / 2 && y < height * 2 / 3) {
                r = 200;
                g = 50;
                b = 40;
            }
            row[3 * x] = uint8_t(b);
            row[3 * x + 1] = uint8_t(g);
            row[3 * x + 2] = uint8_t(r);
        }
    }
    return h;
}

inline ImageHandle GreyPicture(int width, int height)
{
    ImageHandle h = ImageHandle::NewDib(width, height, 8, 256);
    for (int i = 0; i < 256; ++i)
        std::memset(h.Data() + 40 + 4 * i, i, 3);
    const DibLayout l = DibLayoutOf(h);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            h.Data()[l.bitsOffset + std::size_t(y) * l.stride + x] = uint8_t(150 + (x * 3 + y * 5) % 100);
    return h;
}

inline QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// Width and height of the image in a file; (0, 0) when it cannot be read.
inline std::pair<int, int> SizeOf(const QString& path)
{
    const ImageHandle image = ImgKitFileLoad(path);
    ImgKitInfo info{};
    if (!ImgKitImageInfo(image, info))
        return {0, 0};
    return {info.width, info.height};
}

// What intake makes of the image in `path` with `settings`.
inline PageImages Expected(const QString& path, const Settings& settings)
{
    ImageHandle image = ImgKitFileLoad(path);
    ImgKitInfo info{};
    EXPECT_TRUE(ImgKitImageInfo(image, info));
    if (info.colorType != kImgKitColorFull) {
        EXPECT_TRUE(ReplaceImage(image, ImgKitConvertColor(image, 24)));
    }
    return AutoProcessImage(image, settings);
}

inline QByteArray Jpeg(const ImageHandle& image, int quality)
{
    QByteArray out;
    EXPECT_TRUE(ImgKitJpegEncode(image, quality, out));
    return out;
}

inline QByteArray Bmp(const ImageHandle& image)
{
    QByteArray out;
    EXPECT_TRUE(ImgKitBmpEncode(image, out));
    return out;
}

// The inputs are written once for all tests.
class BatchTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        inputs_ = std::make_unique<QTemporaryDir>();
        ASSERT_TRUE(inputs_->isValid());
        ASSERT_TRUE(ImgKitBmpFileSave(A4(), MakePicture(2480, 3508)));
        ASSERT_TRUE(ImgKitBmpFileSave(Small(), MakePicture(600, 820)));
        ASSERT_TRUE(ImgKitBmpFileSave(Grey(), GreyPicture(500, 700)));
        ASSERT_TRUE(WriteAll(Text(), "not an image\n"));
    }
    static void TearDownTestSuite() { inputs_.reset(); }

    static QString A4() { return inputs_->filePath("a4.bmp"); }
    static QString Small() { return inputs_->filePath("small.bmp"); }
    static QString Grey() { return inputs_->filePath("grey.bmp"); }
    static QString Text() { return inputs_->filePath("notes.jpg"); }

    void SetUp() override
    {
        ASSERT_TRUE(tmp_.isValid());
        ASSERT_TRUE(QDir().mkpath(Home()));
        ASSERT_TRUE(QDir().mkpath(Out()));
        ASSERT_TRUE(QDir().mkpath(Archive()));
    }

    QString Home() const { return tmp_.filePath("home"); }
    QString ConfigFile() const { return Home() + "/.config/Osk/Tolvane.conf"; }
    QString Out() const { return tmp_.filePath("out"); }
    QString O(const QString& name) const { return Out() + u'/' + name; }

    void WriteConfig(const QByteArray& body) const
    {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(ConfigFile()).path()));
        ASSERT_TRUE(WriteAll(ConfigFile(), "[General]\n" + body));
    }

    // Every file and folder under `dir`, relative, sorted.
    static QStringList Tree(const QString& dir)
    {
        QStringList all;
        const QDir base(dir);
        QStringList pending{dir};
        while (!pending.isEmpty()) {
            const QString d = pending.takeFirst();
            for (const QFileInfo& fi : QDir(d).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System
                                                              | QDir::NoDotAndDotDot)) {
                all << base.relativeFilePath(fi.filePath());
                if (fi.isDir())
                    pending << fi.filePath();
            }
        }
        all.sort();
        return all;
    }

    // The child's environment: its own home and settings, headless, and no
    // language data, so that add and scan file their pages without
    // recognising them.
    QProcessEnvironment Env() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", Home());
        env.insert("XDG_CONFIG_HOME", Home() + "/.config");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("TESSDATA_PREFIX", tmp_.filePath("no-language-data"));
        return env;
    }
    // The same with the installed language data.
    QProcessEnvironment RecognitionEnv() const
    {
        QProcessEnvironment env = Env();
        env.remove("TESSDATA_PREFIX");
        return env;
    }

    // Starts tolvane-batch (or the program `exe`, a copy of it) without
    // waiting for it.
    std::unique_ptr<QProcess> Start(const QStringList& args, const QProcessEnvironment& env,
                                    const QString& exe = QString()) const
    {
        auto child = std::make_unique<QProcess>();
        child->setProcessEnvironment(env);
        child->setWorkingDirectory(tmp_.path());
        child->start(exe.isEmpty() ? QStringLiteral(TOLVANE_BATCH_EXE) : exe, args);
        if (!child->waitForStarted(10000))
            ADD_FAILURE() << "tolvane-batch did not start: " << child->errorString().toStdString();
        return child;
    }

    // Waits for a started child; what it said and its exit status (-1 when
    // it did not end normally).
    static Outcome Finish(QProcess& child, int timeoutMs = 120000)
    {
        Outcome run;
        // It may have ended already, while the test waited for its output.
        if (child.state() != QProcess::NotRunning && !child.waitForFinished(timeoutMs)) {
            ADD_FAILURE() << "tolvane-batch did not finish: " << child.errorString().toStdString();
            child.kill();
            child.waitForFinished();
        }
        run.out += child.readAllStandardOutput();
        run.err += child.readAllStandardError();
        run.exitCode = child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
        return run;
    }

    Outcome Batch(const QStringList& args) const { return Batch(args, Env()); }
    Outcome Batch(const QStringList& args, const QProcessEnvironment& env, const QString& exe = QString()) const
    {
        const auto child = Start(args, env, exe);
        if (child->state() == QProcess::NotRunning && child->error() == QProcess::FailedToStart)
            return Outcome{};
        return Finish(*child);
    }

    // ---- an archive of the test's own ----

    QString Archive() const { return tmp_.filePath("archive"); }
    QString A(const QString& relative) const { return Archive() + u'/' + relative; }
    // A category as the create-category button makes it.
    void MakeCategory(const QString& name) const
    {
        for (const char* sub : {"Image", "Thumb", "Text"})
            ASSERT_TRUE(QDir().mkpath(A(name + u'/' + QLatin1String(sub))));
    }
    // The arguments of a command on the test's archive.
    QStringList On(const QString& command, const QString& category, const QStringList& more = {}) const
    {
        QStringList args{command, "--archive", Archive()};
        if (!category.isNull())
            args << "--category" << category;
        return args + more;
    }

    // A run that failed with `code`, one "tolvane-batch: " line on stderr,
    // nothing on stdout.
    static ::testing::AssertionResult FailedWith(const Outcome& run, int code)
    {
        if (run.exitCode != code)
            return ::testing::AssertionFailure() << "exit " << run.exitCode << ", stderr: " << run.err.constData();
        if (!run.err.startsWith("tolvane-batch: ") || !run.err.endsWith('\n') || run.err.count('\n') != 1)
            return ::testing::AssertionFailure() << "stderr not one line: [" << run.err.constData() << "]";
        if (!run.out.isEmpty())
            return ::testing::AssertionFailure() << "stdout: " << run.out.constData();
        return ::testing::AssertionSuccess();
    }

    static ::testing::AssertionResult Succeeded(const Outcome& run)
    {
        if (run.exitCode != 0 || !run.err.isEmpty())
            return ::testing::AssertionFailure() << "exit " << run.exitCode << ", stderr: " << run.err.constData();
        return ::testing::AssertionSuccess();
    }

    QTemporaryDir tmp_;

private:
    static inline std::unique_ptr<QTemporaryDir> inputs_;
};

}  // namespace batchtest
