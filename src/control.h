// Update control: the panel's callbacks, the start and the end of an update.
#pragma once

// Control callback of GO, STOP, TIMER and LANGU (UI thread). Returns 0.
int Transfert(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
// Panel callback: the window's close box ends the update and the program. Returns 0.
int Sortir(int panel, int event, void *callbackData, int eventData1, int eventData2);
// A known camera answered on connectedPort: keep that port, close the
// others, send START and show the update display.
int EnvoiStart();
// Ends the update display and closes connectedPort; the panel goes idle.
int ArretCom();
// The camera's port went away during an update (cable pulled, camera off):
// the log says so and the update ends as the operator's Stop ends it. After
// the camera said "WRITE OK" (it restarts into its new firmware) the update
// ends as a success at once.
void CameraDeconnectee();
// Discards the worker's pool, if there is one: returns once its worker has
// returned, with the panel calls it made delivered. Clear transferActive
// first for the worker to leave before its next block.
void AbandonPool();

// Names the controls whose panel text does not say what they are, for a
// screen reader, in the current language (start-up and the language toggle).
void NommerControles(int panel);

// The two panel states of GO, STOP and LANGU.
void EtatRepos(int panel);    // idle: GO shown, STOP hidden, LANGU usable
void EtatMarche(int panel);   // running: STOP shown, GO hidden, LANGU dimmed
