// The streaming worker: sends the loaded image to the camera.
#pragma once

// Thread-pool function, one run per accepted "START OK". Writes the image
// in 512-byte blocks on connectedPort until it is all sent, a write comes
// back short, or transferActive is cleared ("ERROR", Stop). Returns 0.
int EnvoiRS(void *functionData);
