#include "ui/ostrel_app.h"

int main(int argc, char** argv) {
    COstrelApp app(argc, argv);
    app.InitInstance();
    return app.ExitStatus();
}
