// The port scan: from the operator's Ok until a camera has answered (or
// Stop, or the window's close), every COM port from COM1 to COM49 that opens
// listens for the bootloader's banner; ports that appear later are tried
// about once a second, and the operator is told why a port that exists
// cannot be used. The others are closed once one has answered.
#pragma once

void OuvertureCom();        // opens every port that opens, then keeps trying the others
void FermetureAutresCom();  // ends the scan; closes every open port except connectedPort
void FermetureCom();        // ends the scan; closes connectedPort (its portStatus entry stays 0)
void ReessaiCom();          // one more try of every COM port not open (the watch calls it)
bool ScrutationEnCours();   // true while the scan runs
// The worker's write found the camera's line hung up (data: the COM number):
// the hang-up is handled now if the port's callback has not done it yet.
void PerteVueEnEcrivant(void *portAsData);
