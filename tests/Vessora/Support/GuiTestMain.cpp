// The main of the application's tests: one QApplication for the whole run,
// on the offscreen platform unless the caller chose another, and in-memory
// user defaults so no test reads or writes the user's own.
#include "VessoraCore/Foundation/UserDefaults.hpp"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    vessora::UserDefaults::setStandard(vessora::UserDefaults::inMemory());
    return RUN_ALL_TESTS();
}
