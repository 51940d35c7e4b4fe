#include <QCoreApplication>
#include <gtest/gtest.h>

// Some units need a Qt application object (event loop, network manager); give every test program one.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
