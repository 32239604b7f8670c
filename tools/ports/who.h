// What differs between systems in the port doctor's report: how ports are
// numbered without QUORVEL_COM_PORTS, and who is asking (who_posix.cpp,
// who_win32.cpp).
#pragma once

#include <string>

// How the automatic numbering goes, for the report's first line.
extern const char kAutomaticNumbering[];
// The user whose rights the report is about ("user uid 1000").
std::string currentUser();
