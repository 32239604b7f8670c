// Quorvel: writes new firmware into the camera over its USB serial link.
#include "panel_qt.h"
#include "startup.h"

int main(int argc, char **argv)
{
    UseQtPanel();  // the operator's window
    return QuorvelMain(argc, argv);
}
