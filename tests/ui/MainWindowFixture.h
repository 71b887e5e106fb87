// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main window over an archive of its own: a temporary folder as the
// archive root, every question answered by the scripted prompt, the settings
// fresh. A window test class derives from it, calls BeginTest() in init()
// and EndTest() in cleanup().

#include "core/Settings.h"
#include "tests/ui/UiTestMain.h"
#include "ui/TForm1.h"

#include <QStringList>
#include <QTemporaryDir>
#include <memory>

class MainWindowFixture {
protected:
    std::unique_ptr<QTemporaryDir> root_;
    ScriptedPrompt prompt_;
    std::unique_ptr<TForm1> form_;

    QString Root() const { return root_->path(); }
    // A path in the archive root, and one in the category "Cat".
    QString F(const QString& rel) const { return Root() + u'/' + rel; }
    QString Cat(const QString& rel) const { return Root() + QStringLiteral("/Cat/") + rel; }

    // A fresh archive, prompt and settings (kept in memory and in the store).
    void BeginTest(const Settings& settings = DefaultSettings());
    // The window closes; every question it asked must have had its answer.
    void EndTest();
    // The window over the archive, shown and exposed.
    void Open();
    // Clicks the tool button of that name.
    void Click(const char* name);

    // A category whose list names `pages` pages NNNNNNNN.jpg under a header
    // of `header` (the number of pages when negative); no page files.
    void MakeListedCategory(const QString& name, int pages, int header = -1);
    // A category of `pages` small pictures (60+N × 80) with their thumbnails
    // and the memos "memo N".
    void MakeCat(const QString& name, int pages, const char* ext = ".jpg");
    // The lines of a category's list, header first.
    QStringList Lines(const QString& name) const;
    // The files of a category's Image, Thumb and Text folders ("Image/…").
    QStringList PageFiles(const QString& name = QStringLiteral("Cat")) const;
};
