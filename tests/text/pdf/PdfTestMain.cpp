// SPDX-License-Identifier: GPL-3.0-or-later
// The PDF tests' main: a GUI application (offscreen) for QPdfWriter's fonts.

#include <QGuiApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    // Test discovery runs without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
