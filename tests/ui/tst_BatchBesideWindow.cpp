// SPDX-License-Identifier: GPL-3.0-or-later
// The main window and tolvane-batch on one shared archive at the same time:
// one lock protocol, so whichever holds the write lock writes and the other
// does not. The window is driven through its controls; the batch command
// runs as the child process a user would start beside it.

#include "tests/ui/UiTestMain.h"

#include "imaging/Dib.h"
#include "imaging/ImgKit.h"
#include "ui/TForm1.h"
#include "core/WriteGuard.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTest>
#include <QToolButton>
#include <memory>

class BatchBesideWindowTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<QTemporaryDir> root_;  // the archive: its only folder is the category
    std::unique_ptr<QTemporaryDir> aux_;   // the scan to import, the batch's settings
    ScriptedPrompt prompt_;
    std::unique_ptr<TForm1> form_;

    QString Root() const { return root_->path(); }
    QString R(const QString& rel) const { return Root() + u'/' + rel; }
    QString Input() const { return aux_->filePath(QStringLiteral("scan.jpg")); }

    void Click(const char* name)
    {
        auto* b = form_->findChild<QToolButton*>(QLatin1String(name));
        QVERIFY(b);
        QTest::mouseClick(b, Qt::LeftButton);
    }
    bool Enabled(const char* name) const { return form_->findChild<QWidget*>(QLatin1String(name))->isEnabled(); }

    // The window on the archive, started in it (the lock file's folder).
    void Open()
    {
        form_ = std::make_unique<TForm1>(prompt_, Root());
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
        QVERIFY(form_->ArchiveShared);
        QCOMPARE(form_->CurrentFolder, R(QStringLiteral("Shared")));
    }

    std::unique_ptr<QProcess> StartBatch(int files)
    {
        QStringList args{QStringLiteral("add"), QStringLiteral("--archive"), Root(), QStringLiteral("--category"),
                         QStringLiteral("Shared")};
        for (int i = 0; i < files; ++i)
            args << Input();
        auto child = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), aux_->filePath(QStringLiteral("config")));
        child->setProcessEnvironment(env);
        child->start(QStringLiteral(TOLVANE_BATCH_EXE), args);
        if (!child->waitForStarted(10000))
            qWarning("tolvane-batch did not start");
        return child;
    }

    struct Ended {
        int code = -1;
        QByteArray out, err;
    };
    static Ended Wait(QProcess& child)
    {
        Ended e;
        // It may have ended already, while the window was at work.
        if (child.state() != QProcess::NotRunning)
            child.waitForFinished(120000);
        if (child.state() == QProcess::NotRunning && child.exitStatus() == QProcess::NormalExit)
            e.code = child.exitCode();
        e.out = child.readAllStandardOutput();
        e.err = child.readAllStandardError();
        return e;
    }

    // Importing a file through the window, as a user does it.
    void ImportThroughTheWindow()
    {
        const QString path = Input();
        prompt_.openFileHandlers.push_back([path](const OpenFileRequest&) { return path; });
        Click("Menu08");
    }

    QByteArray Lock() const { return ReadBytes(R(QStringLiteral("NetLock.CTL"))); }
    int ListedCount() const
    {
        return int(ReadBytes(R(QStringLiteral("Shared/FileList.txt"))).count('\n')) - 1;
    }
    // The window comes back to the front after another program had it.
    void Reactivate()
    {
        QEvent away(QEvent::ActivationChange);
        form_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form_.get()));
        QApplication::sendEvent(form_.get(), &away);
    }

private slots:
    void init()
    {
        root_ = std::make_unique<QTemporaryDir>();
        aux_ = std::make_unique<QTemporaryDir>();
        QVERIFY(MakeCategory(Root(), QStringLiteral("Shared")));
        QVERIFY(QDir().mkpath(aux_->filePath(QStringLiteral("config"))));
        QVERIFY(ImgKitJpegFileSave(Input(), CreateDib(2480, 3508, 3), 90));
        QVERIFY(WriteTestFile(R(QStringLiteral("NetLock.CTL")), "0\r\n"));
        prompt_.Clear();
    }

    void cleanup()
    {
        form_.reset();
        QVERIFY2(prompt_.unanswered == 0, "a question was asked that the test did not expect");
    }

    // The window takes the lock: the batch command is refused and writes
    // nothing while the window files a page; given back, the batch files.
    void whileTheWindowHoldsTheLockTheBatchIsRefused()
    {
        Open();
        QVERIFY(!Enabled("Menu08"));
        Click("SpeedButton4");  // free: taken without a question
        QVERIFY(form_->LockHeld);
        QCOMPARE(Lock().left(3), QByteArray("1\r\n"));
        QVERIFY(Enabled("Menu08"));

        auto batch = StartBatch(1);
        ImportThroughTheWindow();
        const Ended refused = Wait(*batch);
        QCOMPARE(refused.code, 3);
        QVERIFY(refused.out.isEmpty());
        // The holder named: this process, which runs the window.
        QVERIFY2(refused.err.contains(QStringLiteral("(process %1, since ").arg(QCoreApplication::applicationPid()).toUtf8())
                     && refused.err.contains(") holds its write lock"),
                 refused.err.constData());
        QCOMPARE(form_->Pages.lines, (QStringList{QStringLiteral("00000001"), QStringLiteral("00000001.jpg")}));
        QCOMPARE(ReadBytes(R(QStringLiteral("Shared/FileList.txt"))), QByteArray("00000001\r\n00000001.jpg\r\n"));
        QCOMPARE(Lock().left(3), QByteArray("1\r\n"));  // still the window's

        Click("SpeedButton4");  // given back
        QVERIFY(!form_->LockHeld);
        QCOMPARE(Lock(), QByteArray("0\r\n"));
        batch = StartBatch(1);
        const Ended filed = Wait(*batch);
        QCOMPARE(filed.code, 0);
        QCOMPARE(filed.out, QByteArray("00000002.jpg\t") + QFile::encodeName(Input()) + '\n');
        QCOMPARE(ReadBytes(R(QStringLiteral("Shared/FileList.txt"))),
                 QByteArray("00000002\r\n00000001.jpg\r\n00000002.jpg\r\n"));
        QCOMPARE(Lock(), QByteArray("0\r\n"));
        QVERIFY(prompt_.Texts().empty());  // no message, no question
    }

    // The batch command takes the lock: the window must ask, and answered
    // No it stays read-only while the batch writes; afterwards it takes the
    // lock without a question.
    void whileTheBatchHoldsTheLockTheWindowDoesNotWrite()
    {
        Open();
        auto batch = StartBatch(20);
        QByteArray out;
        QDeadlineTimer deadline(60000);
        while (!out.contains('\n') && !deadline.hasExpired() && batch->state() == QProcess::Running) {
            batch->waitForReadyRead(100);
            out += batch->readAllStandardOutput();
        }
        QVERIFY2(out.contains('\n'), batch->readAllStandardError().constData());
        QCOMPARE(Lock().left(3), QByteArray("1\r\n"));

        prompt_.boxAnswers = {BoxAnswer::No};
        Click("SpeedButton4");
        QCOMPARE(prompt_.shown.size(), size_t(1));
        QCOMPARE(prompt_.shown[0].caption, QStringLiteral("共有スペースへの書込権限取得"));
        QCOMPARE(prompt_.shown[0].buttons, BoxButtons::YesNo);
        // who holds it, beside the question
        QVERIFY2(prompt_.shown[0].detail.contains(QStringLiteral("(process %1, since ").arg(batch->processId())),
                 qPrintable(prompt_.shown[0].detail));
        QVERIFY(!form_->LockHeld);
        for (const char* name : {"Menu07", "Menu08", "SpeedButton1", "SpeedButton2", "SpeedButton11"})
            QVERIFY2(!Enabled(name), name);
        QCOMPARE(Lock().left(3), QByteArray("1\r\n"));

        const Ended ended = Wait(*batch);
        out += ended.out;
        QCOMPARE(ended.code, 0);
        QCOMPARE(out.count('\n'), 20);
        QCOMPARE(Lock(), QByteArray("0\r\n"));

        Click("SpeedButton4");  // free again: no question this time
        QCOMPARE(prompt_.shown.size(), size_t(1));
        QVERIFY(form_->LockHeld);
        QVERIFY(Enabled("Menu08"));
        // Taking the lock read the list again: a new page keeps the batch's.
        QCOMPARE(form_->Grid.P, 20);
        ImportThroughTheWindow();
        QCOMPARE(ListedCount(), 21);
        QCOMPARE(form_->Pages.lines.size(), qsizetype(22));
        form_.reset();  // closing gives it back
        QCOMPARE(Lock(), QByteArray("0\r\n"));
    }

    // Not shared: the batch files pages while the window shows the
    // category; coming back to the window shows them, and a page the window
    // files keeps them.
    void pagesTheBatchFiledMeanwhileAreShownAndKept()
    {
        QVERIFY(QFile::remove(R(QStringLiteral("NetLock.CTL"))));
        form_ = std::make_unique<TForm1>(prompt_, Root());
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
        QCOMPARE(form_->Grid.P, 0);
        QCOMPARE(Wait(*StartBatch(2)).code, 0);
        Reactivate();
        QCOMPARE(form_->Grid.P, 2);
        QCOMPARE(Wait(*StartBatch(1)).code, 0);
        ImportThroughTheWindow();  // without coming back first
        QVERIFY(prompt_.Texts().empty());
        QCOMPARE(ListedCount(), 4);
        QCOMPARE(form_->Pages.lines,
                 (QStringList{"00000004", "00000001.jpg", "00000002.jpg", "00000003.jpg", "00000004.jpg"}));
        QCOMPARE(form_->Grid.K, 3);
    }

    // Another workstation forces the lock: the window's next write says who
    // took it, writes nothing, and the window turns read-only; closing it
    // gives nothing back.
    void aForcedTakeoverTurnsTheWindowReadOnlyAtItsNextWrite()
    {
        Open();
        Click("SpeedButton4");
        QVERIFY(form_->LockHeld);
        OwnerToken other = NewOwnerToken();
        other.host = QStringLiteral("workstation-b");
        const QByteArray taken = "1\r\n" + other.Line().toUtf8() + "\r\n";
        QVERIFY(WriteTestFile(R(QStringLiteral("NetLock.CTL")), taken));
        ImportThroughTheWindow();
        QCOMPARE(prompt_.Texts(), std::vector<QString>{QStringLiteral("書込権限が他のワークステーションに移りました")});
        QVERIFY2(prompt_.shown.back().detail.contains(other.Describe()), qPrintable(prompt_.shown.back().detail));
        QVERIFY(ListedCount() <= 0);
        QCOMPARE(QDir(R(QStringLiteral("Shared/Image"))).entryList(QDir::Files).size(), qsizetype(0));
        QVERIFY(!form_->LockHeld);
        for (const char* name : {"Menu07", "Menu08", "Menu03", "SpeedButton1", "SpeedButton11"})
            QVERIFY2(!Enabled(name), name);
        form_.reset();
        QCOMPARE(Lock(), taken);
    }

    // A memo edited while another workstation took the lock is not written.
    void aMemoIsNotSavedAfterATakeover()
    {
        Open();
        Click("SpeedButton4");
        ImportThroughTheWindow();
        QCOMPARE(ListedCount(), 1);
        form_->findChild<QPlainTextEdit*>(QStringLiteral("Memo0"))->setPlainText(QStringLiteral("a note"));
        OwnerToken other = NewOwnerToken();
        QVERIFY(WriteTestFile(R(QStringLiteral("NetLock.CTL")), "1\r\n" + other.Line().toUtf8() + "\r\n"));
        Click("SpeedButton1");  // the copy saves the shown memos first
        QCOMPARE(prompt_.Texts(), std::vector<QString>{QStringLiteral("書込権限が他のワークステーションに移りました")});
        QCOMPARE(ReadBytes(R(QStringLiteral("Shared/Text/00000001.txt"))), QByteArray("\r\n"));
        QCOMPARE(ListedCount(), 1);
        QVERIFY(!form_->LockHeld);
    }
};

TOLVANE_UI_TEST(BatchBesideWindowTest);

#include "tst_BatchBesideWindow.moc"
