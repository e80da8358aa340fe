#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

// Model and widget tests run against a real QApplication on the offscreen platform, so timers,
// queued calls and widgets behave as in the program.
int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
