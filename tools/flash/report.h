// What quorvel-flash prints: the log on standard output, the progress on
// standard error, or one JSON object per line per event, or the result only.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdio>
#include <string>

enum class ReportMode { Plain, Json, Quiet };

// Text received from outside (the camera, a device name) made safe for a
// terminal: \r, \t and \n (except as a line's end) written as such, every
// other control character, the C1 range and bytes that are not UTF-8 as
// \xHH, a backslash doubled. Printable UTF-8 is kept.
std::string visibleLine(const std::string &text);

struct ProgressState {
    int percent = 0;
    double megabytesSent = 0.0;
    double megabytesTotal = 0.0;
    double rateKbPerSecond = 0.0;
    std::string elapsed = "00:00";  // as the window's TEMPS shows it
};

class Reporter {
public:
    // `now` gives monotonic seconds (the progress line's ten-a-second limit).
    Reporter(ReportMode mode, std::FILE *out, std::FILE *err, bool errIsTerminal, double (*now)());

    // Text the log box appended; whole lines are printed, the rest waits.
    void logAppended(const std::string &text);
    void logReset();
    // A popup's text (the unknown product), printed once per distinct text.
    void popupShown(const std::string &title, const std::string &message);
    void progress(const ProgressState &state);
    // A JSON event; nothing in the other modes.
    void event(const char *name, nlohmann::json fields);
    // The last line: the exit code, a word for it, why, how long.
    void result(int code, const std::string &reason, double elapsedSeconds, const std::string &where,
                long long bytesSent = 0);
    void finish();  // prints what the log holds without a line end, ends the progress line

private:
    void printLine(const std::string &line);
    void clearProgress();
    void drawProgress(const ProgressState &state, bool force);

    ReportMode mode;
    std::FILE *out;
    std::FILE *err;
    bool terminal;
    double (*now)();
    std::string pending;           // log text after its last line end
    std::string lastPopup;
    bool progressShown = false;    // the terminal's progress line is drawn
    double lastDraw = -1.0;
    int lastTenth = -1;
    int lastPercentEvent = -1;
    ProgressState last;
};

const char *resultWord(int code);
