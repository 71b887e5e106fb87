// SPDX-License-Identifier: GPL-3.0-or-later
// Files given to the program: the handover from a second start to the
// running copy over its local socket, and the window filing them in the
// category the user chooses.

#include "tests/ui/MainWindowFixture.h"

#include "core/PageList.h"
#include "imaging/Dib.h"
#include "imaging/ImgKit.h"
#include "ui/FileHandover.h"

#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QListWidget>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>

class FileHandoverTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir dir_;
    QString Socket() const { return dir_.filePath(QStringLiteral("KORVATOLVANE.socket")); }

    // Sends from another thread while this one runs the server's events.
    bool Send(const QStringList& files, int timeoutMs = 5000)
    {
        std::atomic<int> sent{-1};
        std::thread sender([&] { sent = HandFilesOver(Socket(), files, timeoutMs) ? 1 : 0; });
        // The join below waits for the sender whatever this gives.
        (void)QTest::qWaitFor([&] { return sent != -1; }, timeoutMs + 5000);
        sender.join();
        return sent == 1;
    }

private slots:
    void namesArriveWholeAndInOrderPastAStaleSocketAndAStranger()
    {
        // What a crashed copy leaves: a socket file nobody listens on.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        const QByteArray path = QFile::encodeName(Socket());
        std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
        QVERIFY(QFileInfo::exists(Socket()));

        auto server = std::make_unique<FileHandover>(Socket());
        QVERIFY2(server->Listening(), qPrintable(server->ErrorString()));
        QSignalSpy received(server.get(), &FileHandover::FilesReceived);
        const QStringList files{QStringLiteral("/home/u/スキャン/ｶﾅ 請求書.jpg"), QStringLiteral("/tmp/two\nlines.pdf"),
                                QStringLiteral("/tmp/") + QString(3000, u'長')};
        QVERIFY(Send(files));
        QCOMPARE(received.size(), 1);
        QCOMPARE(received[0][0].toStringList(), files);

        // A stranger claiming four thousand million files is cut off, not
        // believed; the next sender is served.
        std::atomic<int> cutOff{-1};
        std::thread stranger([&] {
            QLocalSocket socket;
            socket.connectToServer(Socket());
            bool dropped = false;
            if (socket.waitForConnected(5000)) {
                socket.write(QByteArray(4, '\xff'));
                socket.waitForBytesWritten(5000);
                dropped = socket.waitForDisconnected(5000) && socket.readAll().isEmpty();
            }
            cutOff = dropped ? 1 : 0;
        });
        QTRY_VERIFY_WITH_TIMEOUT(cutOff != -1, 15000);
        stranger.join();
        QCOMPARE(cutOff.load(), 1);
        QCOMPARE(received.size(), 1);
        QVERIFY(Send({QStringLiteral("/tmp/next.jpg")}));
        QCOMPARE(received.size(), 2);

        // Nobody listening: the sender gives up in its time.
        server.reset();
        QVERIFY(!Send(files, 300));
    }

    void commandLineFilesAreMadeAbsoluteAndOptionsLeftOut()
    {
        const QStringList arguments{QStringLiteral("tolvane"),      QStringLiteral("a.jpg"),
                                    QStringLiteral("--exit-when-shown"), QStringLiteral("/scans/b.pdf"),
                                    QStringLiteral("./-x.tif"),    QStringLiteral("sub/../c d.bmp")};
        QCOMPARE(FilesToOpen(arguments, QStringLiteral("/home/u")),
                 (QStringList{"/home/u/a.jpg", "/scans/b.pdf", "/home/u/-x.tif", "/home/u/c d.bmp"}));
        QCOMPARE(HandoverSocketPath(QStringLiteral("/run/user/7/KORVATOLVANE.lock")),
                 QStringLiteral("/run/user/7/KORVATOLVANE.socket"));
    }
};

class OpenWithTest : public QObject, protected MainWindowFixture {
    Q_OBJECT
private:
    QString Input(const QString& name) const { return F(QStringLiteral("in/") + name); }

    // Answers the destination chooser with `name`, recording what it had
    // chosen when it opened.
    void Choose(const QString& name, QString* preselected)
    {
        prompt_.modalHandlers.push_back([=](QDialog& d) {
            if (d.objectName() != QLatin1String("TSelectForm"))
                return int(QDialog::Rejected);
            auto* list = d.findChild<QListWidget*>(QStringLiteral("ListBox"));
            const auto selected = list->selectedItems();
            *preselected = selected.isEmpty() ? QString() : selected.first()->text();
            const auto items = list->findItems(name, Qt::MatchExactly);
            if (items.isEmpty())
                return int(QDialog::Rejected);
            list->setCurrentItem(items.first());
            return int(QDialog::Accepted);
        });
    }

private slots:
    void init()
    {
        BeginTest();
        QVERIFY(QDir().mkpath(F(QStringLiteral("in"))));
        QVERIFY(ImgKitJpegFileSave(Input(QStringLiteral("one.jpg")), CreateDib(300, 400, 3), 90));
        QVERIFY(ImgKitBmpFileSave(Input(QStringLiteral("two.bmp")), CreateDib(200, 300, 3)));
        QVERIFY(WriteTestFile(Input(QStringLiteral("notes.jpg")), "not an image\n"));
    }
    void cleanup() { EndTest(); }

    void eachReadableFileBecomesAPageOfTheChosenCategory()
    {
        MakeCat(QStringLiteral("A"), 2);
        MakeCat(QStringLiteral("B"), 1);
        Open();
        QCOMPARE(QFileInfo(form_->CurrentFolder).fileName(), QStringLiteral("A"));
        QString preselected;
        Choose(QStringLiteral("B"), &preselected);
        form_->OpenFiles({Input(QStringLiteral("one.jpg")), Input(QStringLiteral("notes.jpg")),
                          Input(QStringLiteral("missing.jpg")), Input(QStringLiteral("two.bmp"))});
        QTRY_VERIFY(prompt_.modalHandlers.empty());
        QCOMPARE(preselected, QStringLiteral("A"));
        QCOMPARE(QFileInfo(form_->CurrentFolder).fileName(), QStringLiteral("B"));
        QTRY_COMPARE(Lines(QStringLiteral("B")).size(), 4);
        QCOMPARE(Lines(QStringLiteral("B")), (QStringList{"00000003", "00000001.jpg", "00000002.jpg", "00000003.jpg"}));
        QCOMPARE(Lines(QStringLiteral("A")).size(), 3);
        // The two that cannot be read are told, and the rest went on.
        QCOMPARE(prompt_.Texts(), (std::vector<QString>{QStringLiteral("読込めないデータ形式です"),
                                                        QStringLiteral("読込めないデータ形式です")}));
        QCOMPARE(SizeOf(F(QStringLiteral("B/Image/00000003.jpg"))).isValid(), true);
    }

    void filesWaitForAnOpenDialogAndStopAtTheFullCategory()
    {
        MakeListedCategory(QStringLiteral("Cat"), 998);
        Open();
        QDialog other(form_.get());
        other.setModal(true);
        other.show();
        QString preselected;
        Choose(QStringLiteral("Cat"), &preselected);
        form_->OpenFiles({Input(QStringLiteral("one.jpg")), Input(QStringLiteral("two.bmp"))});
        QTest::qWait(400);
        QCOMPARE(prompt_.modalHandlers.size(), size_t(1));  // not asked yet
        other.close();
        QTRY_VERIFY(prompt_.modalHandlers.empty());
        QCOMPARE(preselected, QStringLiteral("Cat"));
        QTRY_COMPARE(Lines(QStringLiteral("Cat")).size(), 1000);
        QCOMPARE(Lines(QStringLiteral("Cat")).first(), QStringLiteral("00000999"));
        QCOMPARE(prompt_.Texts(), std::vector<QString>{kPageLimitMessage});
    }

    void aCancelledChooserFilesNothing()
    {
        MakeCat(QStringLiteral("A"), 1);
        Open();
        prompt_.modalHandlers.push_back([](QDialog&) { return int(QDialog::Rejected); });
        form_->OpenFiles({Input(QStringLiteral("one.jpg"))});
        QTRY_VERIFY(prompt_.modalHandlers.empty());
        QTest::qWait(50);
        QCOMPARE(Lines(QStringLiteral("A")).size(), 2);
        QVERIFY(prompt_.Texts().empty());
    }
};

TOLVANE_UI_TEST(FileHandoverTest);
TOLVANE_UI_TEST(OpenWithTest);

#include "tst_OpenWith.moc"
