#include "console/PravikApp.h"

int main(int argc, char** argv) {
    CPravikApp app(argc, argv);
    return app.Run();
}
