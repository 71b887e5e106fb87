// SPDX-License-Identifier: GPL-3.0-or-later
// One test program for all window tests: builds the application object the
// program uses, keeps settings in a temporary folder, runs every registered
// Qt Test class in turn.
//
//   tolvane_ui_tests                 every class
//   tolvane_ui_tests CLASS [ARGS]    that class only, Qt Test arguments after it
//   tolvane_ui_tests --list-classes  the class names, one a line (ctest asks
//                                    this to make one entry per class)

#include "tests/ui/UiTestMain.h"

#include "imaging/ImgKit.h"
#include "widgets/TApplication.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

namespace {

std::vector<std::pair<const char*, UiTestFactory>>& Registry()
{
    static std::vector<std::pair<const char*, UiTestFactory>> r;
    return r;
}

}  // namespace

int RegisterUiTest(const char* name, UiTestFactory factory)
{
    Registry().emplace_back(name, std::move(factory));
    return int(Registry().size());
}

ScriptedPrompt& AppPrompt()
{
    static ScriptedPrompt p;
    return p;
}

QByteArray ReadBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QSize SizeOf(const QString& path)
{
    ImageHandle h = ImgKitFileLoad(path);
    ImgKitInfo info{};
    if (!h || !ImgKitImageInfo(h, info))
        return {};
    return {info.width, info.height};
}

bool WriteTestFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(bytes) == bytes.size();
}

bool MakeCategory(const QString& root, const QString& name)
{
    QDir dir(root);
    return dir.mkpath(name + QStringLiteral("/Image")) && dir.mkpath(name + QStringLiteral("/Thumb"))
           && dir.mkpath(name + QStringLiteral("/Text"));
}

// As in the scan tests: the SANE backends stay loaded until the process
// ends, so LeakSanitizer names what a backend keeps instead of an unloaded
// module.
extern "C" int dlclose(void*)
{
    return 0;
}

int main(int argc, char* argv[])
{
    // Answered before any Qt object exists: listing needs no display.
    if (argc > 1 && std::strcmp(argv[1], "--list-classes") == 0) {
        for (const auto& entry : Registry())
            std::printf("%s\n", entry.first);
        return 0;
    }

    qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
    // Settings of the tests never reach the user's own configuration.
    QTemporaryDir configDir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, configDir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, configDir.path());
    // No language data: the windows recognise no text in the background (which
    // would add files to the test categories as it goes) unless a test points
    // TESSDATA_PREFIX at real data.
    QTemporaryDir noLanguages;
    qputenv("TESSDATA_PREFIX", QFile::encodeName(noLanguages.path()));

    TApplication::InstallFontSubstitutes();
    TApplication app(argc, argv);
    app.SetPrompt(&AppPrompt());

    // Optional first argument: run only the test class of that name.
    QStringList args = app.arguments();
    QString only;
    if (args.size() > 1 && !args[1].startsWith(u'-')) {
        only = args[1];
        args.removeAt(1);
    }
    int failed = 0;
    int ran = 0;
    for (auto& [name, factory] : Registry()) {
        if (!only.isEmpty() && only != QLatin1String(name))
            continue;
        std::unique_ptr<QObject> test(factory());
        failed += QTest::qExec(test.get(), args);
        ++ran;
    }
    // A class that was renamed or dropped must not pass by running nothing.
    if (ran == 0) {
        std::fprintf(stderr, "no test class named \"%s\" (see --list-classes)\n", qPrintable(only));
        return 2;
    }
    return failed == 0 ? 0 : 1;
}
