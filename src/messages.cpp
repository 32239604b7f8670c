// The message catalogue, English then French, UTF-8. The texts are the
// program's own, typos included: operators and their manuals know them so.
#include "messages.h"

namespace {

const char *const kCatalogue[MSG_COUNT][2] = {
    /* MSG_CANCEL */ {"Cancel", "Annuler"},
    /* MSG_NO_PACKAGE */ {"Can't find 'vers.kq' file!", "Impossible d'ouvrir le fichier 'vers.kq'!"},
    /* MSG_CONNECTED */ {"Connected", "Connecté"},
    /* MSG_DURATION */ {"Duration: about 1 minute", "Durée: environ 1 minute"},
    /* MSG_ERASING */ {"Erasing FLASH", "Effacement de la FLASH"},
    /* MSG_ERASING_LOG */ {"Erasing FLASH...\n", "Effacement de la FLASH...\n"},
    /* MSG_ERROR_TITLE */ {"Error!", "Erreur!"},
    /* MSG_INSTRUCTIONS */
    {"   1. Switch off the camera.\n"
     "   2. Connect the USB cable to the camera and the PC.\n"
     "   3. Power on the camera by pressing simultaneously 'F1' and 'F3' keys, till the Bootloader starts.\n"
     "   4. Then, press 'Ok' to start update.\n"
     "\n"
     "Remark: On first use, you'll need to install Camera's USB driver.\n"
     "You'll find it in 'Program Files\\Quorvel\\WindowsUSBSerialDrivers' directory.",
     "   1. Eteindre la caméra.\n"
     "   2. Connecter le câble USB entre le PC et la caméra.\n"
     "   3. Allumer la caméra en appuyant simultanément sur les touches 'F1' et 'F3' jusqu'au démarrage du Bootloader.\n"
     "   4. Appuyer alors sur Ok pour lancer la mise à jour.\n"
     "\n"
     "Remarque: lors de la première utilisation, le driver USB devra être installé.\n"
     "Il se trouve dans le répertoire 'Program Files\\Quorvel\\WindowsUSBSerialDrivers'."},
    /* MSG_RATE_UNIT */ {"kb/s", "ko/s"},
    /* MSG_SIZE_UNIT */ {"Mb", "Mo"},
    /* MSG_NOT_CONNECTED */ {"Not connected", "Non connecté"},
    /* MSG_OK */ {"Ok", "Ok"},
    /* MSG_SUCCESS */ {"Operation successful!\n", "Mise à jour réussie!\n"},
    /* MSG_PLEASE */ {"Please...", "S'il vous plait..."},
    /* MSG_UNKNOWN_PRODUCT */
    {"This product is unknown, and can't bu updated!",
     "Ce produit n'est pas reconnu, et ne peut être mis à jour!"},
    /* MSG_PROGRAMMING */ {"Programming FLASH", "Programmation de la FLASH"},
    /* MSG_PROGRAMMING_LOG */ {"Programming FLASH...\n", "Programmation de la FLASH...\n"},
    /* MSG_START */ {"Start", "Démarrer"},
    /* MSG_STOP */ {"Stop", "Stop"},
    /* MSG_ABORTED */ {"\nTransfer aborted!\n", "\nTransfert abandonné!\n"},
    /* MSG_TRANSFERRING */ {"Transferring file...\n", "Transfert du fichier en cours...\n"},
    /* MSG_RATE_TITLE */ {"Transfert rate:", "Taux de transfert:"},
    /* MSG_TIME_TITLE */ {"Transfer time:", "Temps de transfert:"},
    /* MSG_UPDATING_WITH */ {"Updating with", "Mise à jour avec"},
    /* MSG_USED */ {"used", "utilisé"},
    /* MSG_BAD_IMAGE */
    {"\nThe firmware image could not be read whole from 'vers.kq': nothing was sent.\n",
     "\nL'image du firmware n'a pu être lue entière dans 'vers.kq' : rien n'a été envoyé.\n"},
    /* MSG_INSTRUCTIONS_LINUX */
    {"   1. Switch off the camera.\n"
     "   2. Connect the USB cable to the camera and the PC.\n"
     "   3. Power on the camera by pressing simultaneously 'F1' and 'F3' keys, till the Bootloader starts.\n"
     "   4. Then, press 'Ok' to start update.\n"
     "\n"
     "Remark: No driver needs to be installed: the camera appears as a serial port by itself.\n"
     "Your account must be allowed to use serial ports (member of the 'dialout' group).",
     "   1. Eteindre la caméra.\n"
     "   2. Connecter le câble USB entre le PC et la caméra.\n"
     "   3. Allumer la caméra en appuyant simultanément sur les touches 'F1' et 'F3' jusqu'au démarrage du Bootloader.\n"
     "   4. Appuyer alors sur Ok pour lancer la mise à jour.\n"
     "\n"
     "Remarque: aucun driver n'est à installer : la caméra apparaît d'elle-même comme un port série.\n"
     "Votre compte doit avoir le droit d'utiliser les ports série (membre du groupe 'dialout')."},
    /* MSG_PORT_DENIED */
    {"COM%i (%s): permission denied. Your account must be in the '%s' group "
     "(sudo usermod -aG %s $USER), then log out and in again.\n",
     "COM%i (%s) : accès refusé. Votre compte doit être dans le groupe '%s' "
     "(sudo usermod -aG %s $USER), puis fermez la session et reconnectez-vous.\n"},
    /* MSG_PORT_HELD_BY */
    {"COM%i (%s): in use by %s, pid %i. Close that program; the port is tried again every second.\n",
     "COM%i (%s) : utilisé par %s, pid %i. Fermez ce programme ; le port est réessayé chaque seconde.\n"},
    /* MSG_PORT_HELD */
    {"COM%i (%s): in use by another program. Close it; the port is tried again every second.\n",
     "COM%i (%s) : utilisé par un autre programme. Fermez-le ; le port est réessayé chaque seconde.\n"},
    /* MSG_PORT_FAILED */
    {"COM%i (%s): cannot be opened (%s).\n",
     "COM%i (%s) : ne peut être ouvert (%s).\n"},
    /* MSG_NO_PORT_OPENED */
    {"No serial port could be opened for 10 s. Check that the USB cable is plugged in and the "
     "camera is in its Bootloader; run 'quorvel-ports' to see this PC's serial ports.\n",
     "Aucun port série n'a pu être ouvert depuis 10 s. Vérifiez que le câble USB est branché et "
     "que la caméra est dans son Bootloader ; lancez 'quorvel-ports' pour voir les ports série du PC.\n"},
    /* MSG_CAMERA_DISCONNECTED */
    {"\nThe camera was disconnected: update stopped.\n",
     "\nLa caméra a été déconnectée : mise à jour arrêtée.\n"},
    /* MSG_PORT_DENIED_ADMIN */
    {"COM%i (%s): permission denied, and no group may use this device. Ask your administrator "
     "to give it to the 'dialout' group (a udev rule).\n",
     "COM%i (%s) : accès refusé, et aucun groupe ne peut utiliser ce périphérique. Demandez à "
     "l'administrateur de le confier au groupe 'dialout' (une règle udev).\n"},
    /* MSG_PACKAGE_CHANGED */
    {"\n'vers.kq' has changed since Quorvel started: nothing was sent. Restart Quorvel to "
     "update from the new package.\n",
     "\n'vers.kq' a changé depuis le lancement de Quorvel : rien n'a été envoyé. Relancez "
     "Quorvel pour mettre à jour avec le nouveau package.\n"},
    /* MSG_LISTENING */
    {"Listening on %s for 10 s: no camera has answered. Check that the camera was started in its "
     "Bootloader (F1 and F3 held at power-on) and that the USB cable is plugged in; run "
     "'quorvel-ports' to see this PC's serial ports.\n",
     "À l'écoute de %s depuis 10 s : aucune caméra n'a répondu. Vérifiez que la caméra a été "
     "démarrée dans son Bootloader (F1 et F3 appuyées à la mise sous tension) et que le câble USB "
     "est branché ; lancez 'quorvel-ports' pour voir les ports série du PC.\n"},
    /* MSG_NAME_LANGUAGE */
    {"Language: switch to French", "Langue : passer en anglais"},
    /* MSG_NAME_LOG */
    {"Update log", "Journal de mise à jour"},
    /* MSG_NAME_PROGRESS */
    {"Progress", "Progression"},
    /* MSG_NAME_MEGABYTES */
    {"Megabytes sent", "Mégaoctets envoyés"},
    /* MSG_NAME_RATE */
    {"Transfer rate", "Taux de transfert"},
    /* MSG_NAME_TIME */
    {"Transfer time", "Temps de transfert"},
    /* MSG_NAME_CONNECTION */
    {"Camera connection", "Connexion de la caméra"},
    /* MSG_NAME_ANIMATION */
    {"Update activity animation", "Animation de mise à jour en cours"},
    /* MSG_SAY_SUCCESS */
    {"Update finished: operation successful.", "Mise à jour terminée : réussie."},
    /* MSG_SAY_CAMERA_ERROR */
    {"The camera answered ERROR: the update has failed. Press Stop.",
     "La caméra a répondu ERROR : la mise à jour a échoué. Appuyez sur Stop."},
    /* MSG_SAY_DISCONNECTED */
    {"The camera was disconnected: update stopped.",
     "La caméra a été déconnectée : mise à jour arrêtée."},
    /* MSG_SAY_STOPPED */
    {"Update stopped.", "Mise à jour arrêtée."},
    /* MSG_SAY_PACKAGE_REFUSED */
    {"Update refused: the firmware package could not be used, nothing was sent.",
     "Mise à jour refusée : le package du firmware est inutilisable, rien n'a été envoyé."},
    /* MSG_SAY_UNKNOWN_PRODUCT */
    {"Update refused: this product is unknown.", "Mise à jour refusée : ce produit est inconnu."},
    /* MSG_SAY_SEND_FAILED */
    {"Update aborted: the image could not be sent to the camera.",
     "Mise à jour abandonnée : l'image n'a pu être envoyée à la caméra."},
    /* MSG_SIGNATURES_NOT_CHECKED */
    {"Signatures are not checked: this build of Quorvel trusts no key, so 'vers.kq' is used as it "
     "is.\n",
     "Les signatures ne sont pas vérifiées : cette version de Quorvel ne fait confiance à aucune clé, "
     "'vers.kq' est utilisé tel quel.\n"},
    /* MSG_PACKAGE_UNSIGNED */
    {"'vers.kq' is not signed: Quorvel updates cameras only from a signed firmware package.",
     "'vers.kq' n'est pas signé : Quorvel ne met à jour les caméras qu'avec un package de firmware "
     "signé."},
    /* MSG_PACKAGE_UNTRUSTED */
    {"'vers.kq' is signed by key %s, which this Quorvel does not trust.",
     "'vers.kq' est signé par la clé %s, à laquelle ce Quorvel ne fait pas confiance."},
    /* MSG_PACKAGE_ALTERED */
    {"'vers.kq' does not match its signature: it was changed after it was signed.",
     "'vers.kq' ne correspond pas à sa signature : il a été modifié après avoir été signé."},
    /* MSG_PACKAGE_DEMO */
    {"'vers.kq' is a demo package (test images, never for a real camera).",
     "'vers.kq' est un package de démonstration (images de test, jamais pour une vraie caméra)."},
    /* MSG_PACKAGE_UNREADABLE */
    {"'vers.kq' could not be read whole: its signature cannot be checked.",
     "'vers.kq' n'a pu être lu en entier : sa signature ne peut être vérifiée."},
    /* MSG_KEY_IGNORED */
    {"Trusted key ignored: %s\n", "Clé de confiance ignorée : %s\n"},
};

} // namespace

const char *Msg(MessageId id, int language)
{
    if (id < 0 || id >= MSG_COUNT)
        return "";
    return kCatalogue[id][language == 1 ? 1 : 0];
}
