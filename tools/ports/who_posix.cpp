#include "who.h"

#include <unistd.h>

const char kAutomaticNumbering[] = "ttyACM, then ttyUSB, then other serial ports";

std::string currentUser()
{
    return "user uid " + std::to_string(static_cast<int>(::getuid()));
}
