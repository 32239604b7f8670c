// The port scan: every COM port from COM1 to COM49 that opens listens for
// the bootloader's banner; the others are closed once one has answered.
#pragma once

void OuvertureCom();        // opens and configures every port that opens
void FermetureAutresCom();  // closes every open port except connectedPort
void FermetureCom();        // closes connectedPort (its portStatus entry stays 0)
