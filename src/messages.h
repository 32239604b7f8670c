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
    MSG_COUNT
};

// The entry's text in `language` (0 English, 1 French). UTF-8.
const char *Msg(MessageId id, int language);
