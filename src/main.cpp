// Quorvel: writes new firmware into the camera over its USB serial link.
#include "startup.h"

int main(int argc, char **argv)
{
    return QuorvelMain(argc, argv);
}
