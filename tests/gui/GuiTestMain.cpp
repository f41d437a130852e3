#include "tests/gui/ChildPrograms.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int child = RunChildProgram(argc, argv);
    if (child >= 0)
        return child;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
