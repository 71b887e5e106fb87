// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A panel used as a title strip: its caption is drawn at the left edge,
// vertically centred, in the highlight colours of the palette.

#include "widgets/Controls.h"

class TTitlePanel : public TPanel {
    Q_OBJECT
public:
    explicit TTitlePanel(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
