#include "mendoraapp.h"

int main(int argc, char **argv)
{
    MendoraApp app(argc, argv);
    return app.exec();
}
