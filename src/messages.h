// The bilingual message catalogue: every operator-facing text that exists in
// English and French. Read at the moment of use, in the current language.
#pragma once

enum MessageId {
    MSG_CANCEL,
    MSG_NO_PACKAGE,
    MSG_CONNECTED,
    MSG_DURATION,
    MSG_ERASING,
    MSG_ERASING_LOG,
    MSG_ERROR_TITLE,
    MSG_INSTRUCTIONS,
    MSG_RATE_UNIT,
    MSG_SIZE_UNIT,
    MSG_NOT_CONNECTED,
    MSG_OK,
    MSG_SUCCESS,
    MSG_PLEASE,
    MSG_UNKNOWN_PRODUCT,
    MSG_PROGRAMMING,
    MSG_PROGRAMMING_LOG,
    MSG_START,
    MSG_STOP,
    MSG_ABORTED,
    MSG_TRANSFERRING,
    MSG_RATE_TITLE,
    MSG_TIME_TITLE,
    MSG_UPDATING_WITH,
    MSG_USED,
    MSG_BAD_IMAGE,      // log line when the image cannot be read whole from the package
    // The instructions with the remark for a Linux operator (no driver to
    // install); the Start popup shows it on Linux, MSG_INSTRUCTIONS on Windows.
    MSG_INSTRUCTIONS_LINUX,
    // Log lines of the port scan; printf formats. COM number and device come first.
    MSG_PORT_DENIED,        // %i COM, %s device, %s group, %s group
    MSG_PORT_HELD_BY,       // %i COM, %s device, %s program, %i pid
    MSG_PORT_HELD,          // %i COM, %s device
    MSG_PORT_FAILED,        // %i COM, %s device, %s the system's reason
    MSG_NO_PORT_OPENED,     // no argument
    MSG_CAMERA_DISCONNECTED, // no argument
    MSG_PORT_DENIED_ADMIN,  // %i COM, %s device: permission denied, no group may use it
    MSG_PACKAGE_CHANGED,    // log line when vers.kq was replaced since start-up
    MSG_LISTENING,          // %s the ports listened to ("COM1 (/dev/ttyS0), COM3 (/dev/ttyACM0)")
    // What a screen reader calls the controls whose panel text does not say it.
    MSG_NAME_LANGUAGE,      // the flag: what pressing it does
    MSG_NAME_LOG,           // TEXTBOX
    MSG_NAME_PROGRESS,      // SLIDE
    MSG_NAME_MEGABYTES,     // OCTET
    MSG_NAME_RATE,          // TAUX
    MSG_NAME_TIME,          // TEMPS
    MSG_NAME_CONNECTION,    // BOOT
    MSG_NAME_ANIMATION,     // PICTURE
    // What a screen reader is told when an update ends, by its outcome.
    MSG_SAY_SUCCESS,
    MSG_SAY_CAMERA_ERROR,
    MSG_SAY_DISCONNECTED,
    MSG_SAY_STOPPED,
    MSG_SAY_PACKAGE_REFUSED,
    MSG_SAY_UNKNOWN_PRODUCT,
    MSG_SAY_SEND_FAILED,
    // Signed packages.
    MSG_SIGNATURES_NOT_CHECKED, // log line, once at start-up, when the program trusts no key
    MSG_PACKAGE_UNSIGNED,       // start-up refusals, one per verdict (popup text)
    MSG_PACKAGE_UNTRUSTED,      // %s the signer's key id
    MSG_PACKAGE_ALTERED,
    MSG_PACKAGE_DEMO,
    MSG_PACKAGE_UNREADABLE,
    MSG_KEY_IGNORED,            // log line; %s "PATH: why"
    MSG_COUNT
};

// The entry's text in `language` (0 English, 1 French). UTF-8.
const char *Msg(MessageId id, int language);
