// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/smb/SmbRig.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <csignal>

namespace {

// How long the server and each mount may take to come up on a loaded
// machine; the waits poll and end as soon as they are ready.
constexpr int kStartMs = 60000;
constexpr int kPollMs = 20;
constexpr long kFuseMagic = 0x65735546;

QString FindTool(const QString& name)
{
    QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(name, {"/usr/sbin", "/sbin", "/usr/local/sbin"});
    return path;
}

bool WriteText(const QString& path, const QString& text)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text.toUtf8()) >= 0;
}

// A port nobody listens on now. The server may still lose it to someone
// else before it binds; Start() then tries another.
quint16 FreePort()
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0)
        return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    quint16 port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0
        && ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    ::close(s);
    return port;
}

bool Accepts(quint16 port)
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0)
        return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(s);
    return ok;
}

// Started so that it dies with the test program, its output in `log`. In a
// process group of its own: smbd, ending, signals its whole group.
std::unique_ptr<QProcess> Spawn(const QString& program, const QStringList& args, const QProcessEnvironment& env,
                                const QString& log)
{
    auto p = std::make_unique<QProcess>();
    p->setProgram(program);
    p->setArguments(args);
    p->setProcessEnvironment(env);
    p->setStandardInputFile(QProcess::nullDevice());
    p->setStandardOutputFile(log);
    p->setProcessChannelMode(QProcess::MergedChannels);
    p->setChildProcessModifier([] {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    });
    p->start();
    p->waitForStarted(10000);
    return p;
}

void End(std::unique_ptr<QProcess>& p)
{
    if (!p)
        return;
    if (p->state() != QProcess::NotRunning) {
        p->terminate();
        if (!p->waitForFinished(15000)) {
            p->kill();
            p->waitForFinished(5000);
        }
    }
    p.reset();
}

QString Tail(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    const qint64 size = f.size();
    if (size > 4000)
        f.seek(size - 4000);
    return QString::fromUtf8(f.readAll());
}

}  // namespace

QString SmbRig::Home(Workstation w) const
{
    return root_->filePath(w == A ? "homeA" : "homeB");
}

QString SmbRig::MountPoint(Workstation w) const
{
    return root_->filePath(w == A ? "mntA" : "mntB");
}

QString SmbRig::Share(Workstation w) const
{
    return MountPoint(w) + QStringLiteral("/127.0.0.1:%1/share").arg(port_);
}

QProcessEnvironment SmbRig::Env(Workstation w) const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", Home(w));
    env.insert("XDG_CONFIG_HOME", Home(w) + "/.config");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    // No language data: the pages are filed without their texts recognised.
    env.insert("TESSDATA_PREFIX", Home(w) + "/no-language-data");
    return env;
}

bool SmbRig::OffClock(QProcessEnvironment& env, const QString& offset)
{
    QString library;
    for (const QString& dir : {QStringLiteral("/usr/lib/x86_64-linux-gnu"), QStringLiteral("/usr/lib/aarch64-linux-gnu"),
                               QStringLiteral("/usr/lib")}) {
        if (QFileInfo::exists(dir + "/faketime/libfaketime.so.1")) {
            library = dir + "/faketime/libfaketime.so.1";
            break;
        }
    }
    if (library.isEmpty())
        return false;
    const QString preload = env.value("LD_PRELOAD");
    env.insert("LD_PRELOAD", preload.isEmpty() ? library : library + u':' + preload);
    env.insert("FAKETIME", offset);
    // Timeouts and waits keep the machine's pace.
    env.insert("FAKETIME_DONT_FAKE_MONOTONIC", "1");
    // A sanitized program wants its runtime first among the preloads; the
    // clock library ahead of it only changes what time it is.
    const QString asan = env.value("ASAN_OPTIONS");
    env.insert("ASAN_OPTIONS", asan.isEmpty() ? QStringLiteral("verify_asan_link_order=0")
                                              : asan + QStringLiteral(":verify_asan_link_order=0"));
    return true;
}

bool SmbRig::Fail(const QString& why)
{
    why_ = why;
    Stop();
    return false;
}

bool SmbRig::Start()
{
    why_.clear();
    if (::geteuid() != 0)
        return Fail("the Samba server and the FUSE mounts of the rig need root");
    for (const char* tool : {"smbd", "smbnetfs", "fusermount3"}) {
        if (FindTool(tool).isEmpty())
            return Fail(QStringLiteral("%1 is not installed (apt-get install samba smbnetfs fuse3)").arg(tool));
    }
    const int fuse = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fuse < 0)
        return Fail(QStringLiteral("/dev/fuse cannot be opened: %1").arg(QString::fromLocal8Bit(strerror(errno))));
    ::close(fuse);
    if (!QFileInfo::exists(TOLVANE_SMB_CREATE_SHIM))
        return Fail(QStringLiteral("%1 is not built").arg(TOLVANE_SMB_CREATE_SHIM));

    root_ = std::make_unique<QTemporaryDir>();
    if (!root_->isValid())
        return Fail("cannot make a temporary folder");
    if (!StartServer())
        return false;
    for (Workstation w : {A, B}) {
        if (!StartMount(w))
            return false;
    }
    return true;
}

bool SmbRig::StartServer()
{
    const QString dir = root_->path();
    for (const char* sub : {"share", "server/private", "server/lock", "server/state", "server/cache", "server/pid",
                            "server/ncalrpc"})
        QDir().mkpath(dir + u'/' + QLatin1String(sub));
    // A port lost to someone else between FreePort() and the bind ends the
    // server at once; then the next one is tried.
    for (int attempt = 0; attempt < 3; ++attempt) {
        port_ = FreePort();
        if (port_ == 0)
            return Fail("no free TCP port on 127.0.0.1");
        const QString conf = QStringLiteral(R"([global]
  netbios name = TOLVANERIG
  workgroup = WORKGROUP
  server role = standalone server
  smb ports = %1
  interfaces = 127.0.0.1
  bind interfaces only = yes
  disable netbios = yes
  server services = smb
  server min protocol = SMB2
  private dir = %2/server/private
  lock directory = %2/server/lock
  state directory = %2/server/state
  cache directory = %2/server/cache
  pid directory = %2/server/pid
  ncalrpc dir = %2/server/ncalrpc
  log file = %2/server/smbd.log
  log level = 1
  max log size = 0
  map to guest = Bad User
  guest account = root
  load printers = no
  printing = bsd
  printcap name = /dev/null
  disable spoolss = yes
[share]
  path = %2/share
  read only = no
  guest ok = yes
  force user = root
)")
                                 .arg(port_)
                                 .arg(dir);
        if (!WriteText(dir + "/server/smb.conf", conf))
            return Fail("cannot write smb.conf");
        smbd_ = Spawn(FindTool("smbd"),
                      {"--foreground", "--no-process-group", "-s", dir + "/server/smb.conf"},
                      QProcessEnvironment::systemEnvironment(), dir + "/server/smbd.out");
        QDeadlineTimer deadline(kStartMs);
        while (smbd_->state() == QProcess::Running && !deadline.hasExpired()) {
            if (Accepts(port_))
                return true;
            QThread::msleep(kPollMs);
        }
        if (smbd_->state() == QProcess::Running)
            return Fail(QStringLiteral("smbd does not accept connections on 127.0.0.1:%1 after %2 s\n%3")
                            .arg(port_)
                            .arg(kStartMs / 1000)
                            .arg(Logs()));
        End(smbd_);
    }
    return Fail("smbd ended at start-up three times\n" + Logs());
}

bool SmbRig::StartMount(Workstation w)
{
    // The client's own Samba settings and caches, apart from the
    // system's and from the other workstation's.
    const QString home = Home(w);
    for (const char* sub : {".smb/cache", ".smb/lock", ".smb/state", ".smb/private", ".config"})
        QDir().mkpath(home + u'/' + QLatin1String(sub));
    QDir().mkpath(MountPoint(w));
    const QString clientConf = QStringLiteral(R"([global]
  workgroup = WORKGROUP
  client min protocol = SMB2
  name resolve order = host
  disable netbios = yes
  cache directory = %1/.smb/cache
  lock directory = %1/.smb/lock
  state directory = %1/.smb/state
  private dir = %1/.smb/private
  log level = 0
)")
                                   .arg(home);
    // No browsing of the network, no key ring. neg_cache "false" would be
    // the way to switch off the cache of failed look-ups, but smbnetfs 0.6.3
    // hangs at start-up with it; a 1 ms life does the same. smbnetfs reads
    // the file only when nobody else may (it holds passwords).
    const QString netfsConf = QStringLiteral(R"(smb_query_browsers "false"
use_libsecret "false"
neg_cache_timeout 1
auth "guest" ""
local_charset "utf-8"
samba_charset "utf-8"
)");
    const QString netfsPath = home + "/.smb/smbnetfs.conf";
    if (!WriteText(home + "/.smb/smb.conf", clientConf) || !WriteText(netfsPath, netfsConf)
        || !QFile::setPermissions(netfsPath, QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return Fail("cannot write the client configuration in " + home);

    // No kernel caching of names, attributes or data: every look-up and
    // read goes to the server. Creates made exclusive on the server (see
    // exclusive_create.c).
    QProcessEnvironment env = Env(w);
    env.insert("LD_PRELOAD", QStringLiteral(TOLVANE_SMB_CREATE_SHIM));
    auto& mount = mounts_[w];
    mount = Spawn(FindTool("smbnetfs"),
                  {MountPoint(w), "-f", "-o",
                   "auto_unmount,attr_timeout=0,entry_timeout=0,negative_timeout=0,direct_io,log_file=" + home
                       + "/smbnetfs.log"},
                  env, home + "/smbnetfs.out");
    const QByteArray point = QFile::encodeName(MountPoint(w));
    const QString share = Share(w);
    QDeadlineTimer deadline(kStartMs);
    while (mount->state() == QProcess::Running && !deadline.hasExpired()) {
        struct statfs fs {};
        if (::statfs(point.constData(), &fs) == 0 && fs.f_type == kFuseMagic && QFileInfo(share).isDir())
            return true;
        QThread::msleep(kPollMs);
    }
    return Fail(QStringLiteral("smbnetfs did not make %1 reachable (%2)\n%3")
                    .arg(share, mount->state() == QProcess::Running ? QStringLiteral("timed out")
                                                                    : QStringLiteral("it ended"),
                         Logs()));
}

void SmbRig::Unmount(Workstation w)
{
    if (!mounts_[w])
        return;
    const QString point = MountPoint(w);
    if (QProcess::execute("fusermount3", {"-u", "-q", point}) != 0)
        QProcess::execute("fusermount3", {"-u", "-z", "-q", point});
    // Unmounted, smbnetfs ends by itself.
    if (mounts_[w]->state() != QProcess::NotRunning)
        mounts_[w]->waitForFinished(10000);
    End(mounts_[w]);
}

void SmbRig::Stop()
{
    if (!root_)
        return;
    Unmount(A);
    Unmount(B);
    End(smbd_);
    root_.reset();
}

QString SmbRig::Logs() const
{
    if (!root_)
        return QString();
    QString all;
    for (const char* file : {"server/smbd.out", "server/smbd.log", "homeA/smbnetfs.out", "homeA/smbnetfs.log",
                             "homeB/smbnetfs.out", "homeB/smbnetfs.log"}) {
        const QString text = Tail(root_->filePath(file)).trimmed();
        if (!text.isEmpty())
            all += QStringLiteral("--- %1:\n%2\n").arg(QLatin1String(file), text);
    }
    return all;
}
