#include "mendoraapp.h"

int main(int argc, char **argv)
{
    if (const auto status = MendoraApp::answerCommandLine(argc, argv))
        return *status;
    MendoraApp app(argc, argv);
    return app.exec();
}
