#include "base/message_box.h"
#include "ui/ostrel_app.h"

#include <cstdlib>
#include <gtest/gtest.h>

// Widget tests need the application object before anything else.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0); // also when ctest lists the tests
    COstrelApp app(argc, argv);
    // A real message box would wait forever for a click that never comes.
    SetMessageBoxHandler([](const MessageBoxRequest& request) {
        ADD_FAILURE() << "unexpected message box: " << request.title << ": " << request.text;
        return IDOK;
    });
    return RUN_ALL_TESTS();
}
