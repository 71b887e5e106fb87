// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A real network drive for the tests: a private Samba server on 127.0.0.1
// with one share, mounted twice through FUSE with smbnetfs. Each mount is
// its own SMB client with its own home folder (.smb/smb.conf and
// .smb/smbnetfs.conf), so the two mounts behave as two workstations that
// have mapped the same drive.
//
// The server listens on a free port of its own; smbnetfs reaches it through
// the path element "127.0.0.1:PORT" (libsmbclient takes the port from the
// URL smb://127.0.0.1:PORT/share). The mounts cache neither names nor
// attributes nor file data, so what one workstation writes the other reads
// at once.
//
// Everything lives in one temporary folder and goes with the object: the
// mounts are unmounted and the processes ended. Should the test program
// itself die, the server and the mounts die with it (parent-death signal,
// auto_unmount).
//
//     SmbTest (below) starts one rig per test suite; a test that cannot have
//     one is skipped with the reason, or fails when TOLVANE_REQUIRE_SMB=1.

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

class SmbRig {
public:
    enum Workstation { A, B };

    SmbRig() = default;
    ~SmbRig() { Stop(); }
    SmbRig(const SmbRig&) = delete;
    SmbRig& operator=(const SmbRig&) = delete;

    // Starts the server and mounts its share twice. False when that cannot
    // be done here; Why() says what is missing or what failed.
    bool Start();
    // Unmounts both mounts and ends every process. Done by the destructor.
    void Stop();

    const QString& Why() const { return why_; }
    quint16 Port() const { return port_; }

    // The root of the share as workstation `w` sees it.
    QString Share(Workstation w) const;
    // The share's folder on the server's own disk.
    QString ServerFolder() const { return root_->filePath("share"); }

    // The environment for a child process run as workstation `w`: its own
    // HOME and XDG_CONFIG_HOME, headless.
    QProcessEnvironment Env(Workstation w) const;
    // `env` with the process's clock put off by `offset` (faketime's
    // notation, "+60s"), the file server's clock left alone. False when
    // libfaketime is not installed.
    static bool OffClock(QProcessEnvironment& env, const QString& offset);

    // The server's log and each mount's output, for a failure message.
    QString Logs() const;

private:
    QString Home(Workstation w) const;
    QString MountPoint(Workstation w) const;
    bool Fail(const QString& why);
    bool StartServer();
    bool StartMount(Workstation w);
    void Unmount(Workstation w);

    QString why_;
    std::unique_ptr<QTemporaryDir> root_;
    quint16 port_ = 0;
    std::unique_ptr<QProcess> smbd_;
    std::unique_ptr<QProcess> mounts_[2];
};

// One rig for all tests of a suite. `Base` is the fixture the tests would
// have without the network drive.
template <class Base = ::testing::Test>
class SmbFixture : public Base {
protected:
    static void SetUpTestSuite()
    {
        Base::SetUpTestSuite();
        rig_ = std::make_unique<SmbRig>();
        rig_->Start();
    }
    static void TearDownTestSuite()
    {
        rig_.reset();
        Base::TearDownTestSuite();
    }

    void SetUp() override
    {
        Base::SetUp();
        if (!rig_->Why().isEmpty()) {
            if (qEnvironmentVariableIntValue("TOLVANE_REQUIRE_SMB") == 1)
                FAIL() << "no network drive (TOLVANE_REQUIRE_SMB=1): " << rig_->Why().toStdString();
            GTEST_SKIP() << "no network drive: " << rig_->Why().toStdString();
        }
        // A folder of the test's own on the share.
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = QString::fromLatin1(info->test_suite_name()) + u'.' + QString::fromLatin1(info->name());
        folder_.replace(u'/', u'_');
        ASSERT_TRUE(QDir().mkpath(OnServer(QString())));
    }

    static SmbRig& Rig() { return *rig_; }
    // `relative` in the test's folder on the share, through workstation `w`,
    // and on the server's disk.
    QString On(SmbRig::Workstation w, const QString& relative) const { return Join(rig_->Share(w), relative); }
    QString OnServer(const QString& relative) const { return Join(rig_->ServerFolder(), relative); }

private:
    QString Join(const QString& share, const QString& relative) const
    {
        return share + u'/' + folder_ + (relative.isEmpty() ? QString() : u'/' + relative);
    }

    QString folder_;
    static inline std::unique_ptr<SmbRig> rig_;
};

using SmbTest = SmbFixture<>;
