// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The resize dialog of the editor's high-quality shrink and enlarge: the
// current size in the first group, the new size in two edit boxes, coupled by
// the aspect ratio while "比率保存する" is selected. Escape closes it without
// confirming and Enter with, whichever control has the focus.
//
// Use: set StaticText1 (current height) and StaticText2 (current width),
// run it modally, then read Confirmed and, when it is 1, the decimal values of
// Edit2 (new width) and Edit1 (new height).

#include <QDialog>
#include <memory>

class QLineEdit;
class TRadioGroup;
class TStaticText;

namespace Ui {
class TfSize;
}

class TfSize : public QDialog {
    Q_OBJECT
public:
    explicit TfSize(QWidget* owner = nullptr);
    ~TfSize() override;

    int Confirmed = 0;         // 1 when closed by OK or Enter
    bool Updating = false;     // set while the dialog writes its own edit boxes
    double AspectRatio = 0;    // current width / current height; 0 when undefined

    TStaticText* StaticText1() const;  // current height
    TStaticText* StaticText2() const;  // current width
    QLineEdit* Edit1() const;          // new height
    QLineEdit* Edit2() const;          // new width
    TRadioGroup* RadioGroup1() const;

    // Copies the current size into the edit boxes and takes the ratio. A
    // current height or width of 0 or less leaves the ratio undefined (0)
    // and the boxes uncoupled.
    void FormShow();
    // The change handler of both edit boxes.
    void Edit1Change(QObject* sender);
    void Button1Click();
    void Button2Click();
    // Escape and Enter close the dialog; true when the key was taken.
    bool FormKeyDown(int key);

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void CloseWith(int confirmed);

    std::unique_ptr<Ui::TfSize> ui_;
};
