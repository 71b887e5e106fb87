// SPDX-License-Identifier: GPL-3.0-or-later
// The batch tests' main: a Qt core application for the library calls that
// make the expected images.

#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
