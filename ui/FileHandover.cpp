// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/FileHandover.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>
#include <QtEndian>

#include <memory>
#include <optional>

namespace {

// One handover: the number of files, then each name as its length and its
// UTF-8 bytes, all counts 32-bit big-endian. The running copy answers one
// byte once it has them all.
constexpr quint32 kMaxFiles = 10000;
constexpr quint32 kMaxNameBytes = 64 * 1024;
constexpr char kTaken = '\x01';
// A sender that stops half-way is dropped after this long.
constexpr int kSenderPatienceMs = 10000;

QByteArray Frame(const QStringList& files)
{
    QByteArray out;
    auto put = [&out](quint32 n) {
        char be[4];
        qToBigEndian(n, be);
        out.append(be, 4);
    };
    put(quint32(files.size()));
    for (const QString& file : files) {
        const QByteArray name = file.toUtf8();
        put(quint32(name.size()));
        out += name;
    }
    return out;
}

enum class Parse { NeedMore, Done, Refused };

// Reads a whole frame from `bytes`, refusing one that breaks the limits
// before it has been read at all.
Parse ParseFrame(const QByteArray& bytes, QStringList& files)
{
    qsizetype at = 0;
    auto get = [&](quint32& n) {
        if (bytes.size() - at < 4)
            return false;
        n = qFromBigEndian<quint32>(bytes.constData() + at);
        at += 4;
        return true;
    };
    quint32 count = 0;
    if (!get(count))
        return Parse::NeedMore;
    if (count > kMaxFiles)
        return Parse::Refused;
    QStringList names;
    for (quint32 i = 0; i < count; ++i) {
        quint32 length = 0;
        if (!get(length))
            return Parse::NeedMore;
        if (length > kMaxNameBytes)
            return Parse::Refused;
        if (bytes.size() - at < qsizetype(length))
            return Parse::NeedMore;
        names << QString::fromUtf8(bytes.constData() + at, qsizetype(length));
        at += length;
    }
    if (at != bytes.size())
        return Parse::Refused;  // more than one frame: not a sender of ours
    files = names;
    return Parse::Done;
}

}  // namespace

class HandoverListener : public QObject {
    Q_OBJECT
public:
    bool Listen(const QString& socketPath, QString* error)
    {
        server_.setSocketOptions(QLocalServer::UserAccessOption);
        if (!server_.listen(socketPath) && server_.serverError() == QAbstractSocket::AddressInUseError) {
            QLocalServer::removeServer(socketPath);
            server_.listen(socketPath);
        }
        *error = server_.errorString();
        connect(&server_, &QLocalServer::newConnection, this, &HandoverListener::TakeConnection);
        return server_.isListening();
    }

signals:
    void FilesReceived(const QStringList& files);

private:
    void TakeConnection()
    {
        while (QLocalSocket* socket = server_.nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            auto buffer = std::make_shared<QByteArray>();
            auto* patience = new QTimer(socket);
            patience->setSingleShot(true);
            connect(patience, &QTimer::timeout, socket, &QLocalSocket::abort);
            patience->start(kSenderPatienceMs);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer] {
                *buffer += socket->readAll();
                QStringList files;
                switch (ParseFrame(*buffer, files)) {
                case Parse::NeedMore:
                    return;
                case Parse::Refused:
                    socket->abort();
                    return;
                case Parse::Done:
                    socket->write(&kTaken, 1);
                    socket->flush();
                    socket->disconnectFromServer();
                    emit FilesReceived(files);
                    return;
                }
            });
        }
    }

    QLocalServer server_{this};  // a child: it moves to the thread with its listener
};

FileHandover::FileHandover(const QString& socketPath, QObject* parent) : QObject(parent)
{
    listener_ = new HandoverListener;
    listener_->moveToThread(&thread_);
    connect(listener_, &HandoverListener::FilesReceived, this, &FileHandover::FilesReceived);
    thread_.setObjectName(QStringLiteral("file handover"));
    thread_.start();
    QMetaObject::invokeMethod(
        listener_, [&] { listening_ = listener_->Listen(socketPath, &error_); }, Qt::BlockingQueuedConnection);
}

FileHandover::~FileHandover()
{
    // The server closes (and its socket file goes) on its own thread.
    QMetaObject::invokeMethod(listener_, [this] { delete listener_; }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}

bool HandFilesOver(const QString& socketPath, const QStringList& files, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    for (;;) {
        socket.connectToServer(socketPath);
        if (socket.waitForConnected(int(deadline.remainingTime())))
            break;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);  // not listening yet, or not there
    }
    socket.write(Frame(files));
    while (socket.bytesToWrite() > 0)
        if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
            return false;
    while (socket.bytesAvailable() < 1)
        if (!socket.waitForReadyRead(int(deadline.remainingTime())))
            return false;
    char answer = 0;
    return socket.read(&answer, 1) == 1 && answer == kTaken;
}

QString HandoverSocketPath(const QString& lockPath)
{
    QString path = lockPath;
    if (path.endsWith(QStringLiteral(".lock")))
        path.chop(5);
    return path + QStringLiteral(".socket");
}

QStringList FilesToOpen(const QStringList& arguments, const QString& workingFolder)
{
    QStringList files;
    const QDir base(workingFolder);
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument.isEmpty() || argument.startsWith(u'-'))
            continue;
        files << QDir::cleanPath(base.absoluteFilePath(argument));
    }
    return files;
}

#include "FileHandover.moc"
