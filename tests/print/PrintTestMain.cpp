// SPDX-License-Identifier: GPL-3.0-or-later
// The printing tests' main: QPrinter and its paint engines need an
// application object (offscreen).

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
