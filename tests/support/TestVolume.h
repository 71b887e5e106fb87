// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A folder that writes must fail in, for the tests of failed saves.
//
// As root, permission bits do not stop a write, so the folder becomes a small
// tmpfs of its own: the test lays out its files, Seal() remounts it read-only
// (ReadOnly) or fills the rest of it (Full, writes then fail with ENOSPC), and
// Release() makes it writable again so the test can look at what is left. The
// tmpfs is unmounted when the object goes. As any other user, ReadOnly takes
// the write bits off the folder instead; Full needs root.
//
//     TestVolume vol(P("Cat"), TestVolume::ReadOnly);
//     if (!vol.Unavailable().isEmpty()) GTEST_SKIP() << qPrintable(vol.Unavailable());
//     ... lay out files in P("Cat") ...
//     ASSERT_TRUE(vol.Seal());
//     ... the write that must fail ...
//     vol.Release();
//     ... check what is in P("Cat") ...

#include <QString>

class TestVolume {
public:
    enum Kind { ReadOnly, Full };

    // Makes `folder` (created when missing, and empty) ready to be laid out.
    TestVolume(const QString& folder, Kind kind);
    ~TestVolume();
    TestVolume(const TestVolume&) = delete;
    TestVolume& operator=(const TestVolume&) = delete;

    // Empty when the folder is ready; else why this cannot be done here (the
    // message to skip with).
    const QString& Unavailable() const { return unavailable_; }
    // True when the folder is a tmpfs of its own.
    bool Mounted() const { return mounted_; }

    // After the lay-out: writes into the folder fail from now on. False (and
    // Unavailable() says why) when that could not be done or does not bind.
    bool Seal();
    // Writes work again (the filler of a full volume is removed).
    void Release();

private:
    QString folder_;
    Kind kind_;
    bool mounted_ = false;
    bool sealed_ = false;
    QString unavailable_;
};
