// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The backdrop behind the full-screen viewer: a borderless, maximised window
// filled by one plain panel, so the main window stays hidden while pages are
// viewed and turned. Shown on construction, closed on destruction.

#include <QWidget>

class TDummy : public QWidget {
    Q_OBJECT
public:
    explicit TDummy(QWidget* owner = nullptr);
    ~TDummy() override;
};
