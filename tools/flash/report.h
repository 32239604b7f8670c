// What quorvel-flash prints: the log on standard output, the progress on
// standard error, or one JSON object per line per event, or the result only;
// and the same JSON record appended to a file (--log).
//
// Output that its reader stops taking (a pipe closed by `head`, a full disk)
// never stops an update: the failure is said once on standard error and
// that output is written no more; the result is still decided and the exit
// status is still the camera's verdict.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdio>
#include <string>

enum class ReportMode { Plain, Json, Quiet };

// The record's version: every JSON line carries it as "schema". Raised when
// a field changes meaning or goes away; new fields keep it.
constexpr int kRecordSchema = 1;

// Text received from outside (the camera, a device name) made safe for a
// terminal: \r, \t and \n (except as a line's end) written as such, every
// other control character, the C1 range and bytes that are not UTF-8 as
// \xHH, the characters that reorder text on screen (bidirectional overrides
// and isolates) as \u{HHHH}, a backslash doubled. Printable UTF-8 is kept.
std::string visibleLine(const std::string &text);

// Log text that never ends its line is printed in pieces of this many bytes
// at most, so that a camera sending without line ends costs bounded memory.
constexpr std::size_t kLongestLogLine = 4096;

struct ProgressState {
    int percent = 0;
    double megabytesSent = 0.0;
    double megabytesTotal = 0.0;
    double rateKbPerSecond = 0.0;
    std::string elapsed = "00:00";  // as the window's TEMPS shows it
    long long bytes = 0;            // image bytes written so far, counted by the sender
};

// How the update ended, for the last line.
struct ResultRecord {
    int code = 0;
    std::string reason;
    double elapsedSeconds = 0.0;   // since the camera answered, else since the start
    std::string where;             // "COM1 (/dev/ttyACM0) RZ4417", for the human line
    long long bytesSent = 0;       // image bytes the sender wrote
    std::string outcome = "none";  // the loader's outcome value (NomIssue)
    std::string product;           // the camera's product, "" when none answered
    std::string version;           // its image's version as the package writes it ("1.50")
    long long headerSize = -1;     // size sent in the header, -1 when no header went out
    std::string headerChecksum;    // checksum sent in the header, 8 hex digits
};

class Reporter {
public:
    // `now` gives monotonic seconds (the progress line's ten-a-second limit).
    Reporter(ReportMode mode, std::FILE *out, std::FILE *err, bool errIsTerminal, double (*now)());

    // Every later JSON line names this device and COM label ("" for none: null).
    void setPlace(const std::string &device, const std::string &comLabel);
    // Every human line starts with this ("[COM7] "): several processes share a terminal.
    void setPrefix(const std::string &prefix);
    // The JSON record goes to `log` too (appended, one write per line). Not owned.
    void setLog(std::FILE *log);

    // Text the log box appended; whole lines are printed, the rest waits.
    void logAppended(const std::string &text);
    void logReset();
    // A popup's text (the unknown product), printed once per distinct text.
    void popupShown(const std::string &title, const std::string &message);
    // A line of the tool's own (not the camera's), printed as a log line.
    void say(const std::string &text);
    void progress(const ProgressState &state);
    // A JSON event, on standard output in JSON mode and in the --log file.
    void event(const char *name, nlohmann::json fields);
    // The last line: the exit code, a word for it, why, how long, what went out.
    void result(const ResultRecord &record);
    void result(int code, const std::string &reason, double elapsedSeconds, const std::string &where,
                long long bytesSent = 0);
    void finish();  // prints what the log holds without a line end, ends the progress line

    // True once standard output refused a write.
    bool outputLost() const { return outLost; }

private:
    void printLine(const std::string &line);
    void clearProgress();
    void drawProgress(const ProgressState &state, bool force);
    void writeOut(const std::string &text);
    void writeErr(const std::string &text);
    void writeLog(const std::string &text);

    ReportMode mode;
    std::FILE *out;
    std::FILE *err;
    std::FILE *log = nullptr;
    bool terminal;
    double (*now)();
    std::string device;            // "" until known
    std::string comLabel;          // "" until known
    std::string prefix;
    std::string pending;           // log text after its last line end
    std::string lastPopup;
    bool progressShown = false;    // the terminal's progress line is drawn
    double lastDraw = -1.0;
    int lastTenth = -1;
    int lastPercentEvent = -1;
    bool outLost = false;
    bool errLost = false;
    bool logLost = false;
    ProgressState last;
};

const char *resultWord(int code);
// "2026-12-10T05:39:00.123Z": the present moment in UTC.
std::string utcTimestamp();
