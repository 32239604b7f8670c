#include "who.h"

#include <windows.h>

const char kAutomaticNumbering[] = "Windows' own COM numbers";

std::string currentUser()
{
    char name[256];
    DWORD size = sizeof name;
    if (!::GetUserNameA(name, &size))
        return "this user";
    return "user " + std::string(name);
}
