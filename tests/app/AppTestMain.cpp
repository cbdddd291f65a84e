// Runs the window tests inside one application object, on the offscreen platform unless
// another one is asked for.
#include "app/Application.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

int main(int argc, char* argv[])
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication App(argc, argv);
    QApplication::setApplicationName(AppTitle);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
