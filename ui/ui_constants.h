// Panel and control identifiers of the panel definition "Quorvel.uir".
// The definition names each control by its constant (objectName) and the
// panel loader maps those names to these ids; both must change together.
#pragma once

constexpr int PANEL = 1;          // panel resource id; panel callback "Sortir"

constexpr int GO = 2;             // command button "Start"; callback "Transfert"
constexpr int STOP = 3;           // command button "Stop"; callback "Transfert"
constexpr int TIMER = 4;          // timer control, 0.2 s; callback "Transfert"
constexpr int TITRE_TEMPS = 5;    // text message, caption of TEMPS
constexpr int TEMPS = 6;          // text message, elapsed time
constexpr int TITRE_TAUX = 7;     // text message, caption of TAUX
constexpr int TAUX = 8;           // numeric (double), transfer rate kb/s
constexpr int TEXTBOX = 9;        // text box, the update log
constexpr int SLIDE = 10;         // horizontal slide (int 0..100), progress
constexpr int OCTET = 11;         // numeric (double), megabytes sent
constexpr int LED1 = 12;          // LED, erasing
constexpr int LED2 = 13;          // LED, programming
constexpr int INFO = 14;          // text message, the pending update
constexpr int BOOT = 15;          // LED, bootloader connected
constexpr int PICTURE = 16;       // picture ring, activity animation
constexpr int DUREE = 17;         // text message, duration hint
constexpr int DECORATION_2 = 18;  // frame
constexpr int DECORATION = 19;    // frame
constexpr int LANGU = 20;         // picture ring, language toggle; callback "Transfert"

// Names of the controls in the definition, indexed by id (2..20).
constexpr const char *kControlNames[] = {
    "", "", "GO", "STOP", "TIMER", "TITRE_TEMPS", "TEMPS", "TITRE_TAUX", "TAUX",
    "TEXTBOX", "SLIDE", "OCTET", "LED1", "LED2", "INFO", "BOOT", "PICTURE",
    "DUREE", "DECORATION_2", "DECORATION", "LANGU"};
