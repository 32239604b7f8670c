// What quorvel-flash prints.
#include "report.h"

#include "options.h"
#include "visible_text.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>

namespace {

constexpr double kRedrawInterval = 0.1;  // the terminal's progress line: ten a second at most

// Where to cut a line of `text` at most `limit` bytes long without
// splitting a UTF-8 sequence.
std::size_t cutAt(const std::string &text, std::size_t limit)
{
    std::size_t at = limit;
    for (int back = 0; back < 3 && at > 0 && (static_cast<unsigned char>(text[at]) & 0xc0) == 0x80; ++back)
        --at;
    return at > 0 ? at : limit;
}

} // namespace

std::string visibleLine(const std::string &text)
{
    std::string out;
    std::string run;
    auto flush = [&] {
        out += visibleText(run);
        run.clear();
    };
    for (const char c : text) {
        if (c == '\r' || c == '\t' || c == '\n') {
            flush();
            out += c == '\r' ? "\\r" : c == '\t' ? "\\t" : "\\n";
        } else {
            run += c;
        }
    }
    flush();
    return out;
}

const char *resultWord(int code)
{
    switch (code) {
    case kExitWritten: return "success";
    case kExitFailed: return "failed";
    case kExitRefused: return "refused";
    case kExitNoCamera: return "no-camera";
    case kExitDisconnected: return "disconnected";
    case kExitUnknownProduct: return "unknown-product";
    case kExitPortUnusable: return "port-unusable";
    case kExitTimeout: return "timeout";
    case kExitFlashing: return "interrupted-while-flashing";
    case kExitInterrupted: return "interrupted";
    default: return code > 128 ? "interrupted" : "failed";
    }
}

std::string utcTimestamp()
{
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const long long millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    const std::tm *utc = std::gmtime(&seconds);  // the UI thread's alone
    char text[40] = "1970-01-01T00:00:00";
    if (utc)
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", utc);
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "%s.%03lldZ", text, millis < 0 ? 0 : millis);
    return stamp;
}

Reporter::Reporter(ReportMode mode_, std::FILE *out_, std::FILE *err_, bool errIsTerminal, double (*now_)())
    : mode(mode_), out(out_), err(err_), terminal(errIsTerminal), now(now_)
{
}

void Reporter::setPlace(const std::string &device_, const std::string &comLabel_)
{
    device = device_;
    comLabel = comLabel_;
}

void Reporter::setPrefix(const std::string &prefix_)
{
    prefix = prefix_;
}

void Reporter::setLog(std::FILE *log_)
{
    log = log_;
}

// Standard output refused a write: said once on standard error, then left
// alone. The update goes on; only its printing is lost.
void Reporter::writeOut(const std::string &text)
{
    if (outLost)
        return;
    errno = 0;
    const bool written = std::fputs(text.c_str(), out) >= 0 && std::fflush(out) == 0;
    if (written)
        return;
    const int error = errno;
    outLost = true;
    std::clearerr(out);
    writeErr("quorvel-flash: standard output: " + std::string(error ? std::strerror(error) : "write failed")
             + "; the update goes on, its result is the exit status\n");
}

void Reporter::writeErr(const std::string &text)
{
    if (errLost)
        return;
    if (std::fputs(text.c_str(), err) < 0 || std::fflush(err) != 0) {
        errLost = true;  // nowhere left to say it
        std::clearerr(err);
    }
}

void Reporter::writeLog(const std::string &text)
{
    if (!log || logLost)
        return;
    errno = 0;
    if (std::fputs(text.c_str(), log) >= 0 && std::fflush(log) == 0)
        return;
    const int error = errno;
    logLost = true;
    std::clearerr(log);
    writeErr("quorvel-flash: --log file: " + std::string(error ? std::strerror(error) : "write failed")
             + "; the update goes on without it\n");
}

void Reporter::printLine(const std::string &line)
{
    event("log", {{"text", visibleLine(line)}});
    if (mode != ReportMode::Plain)
        return;
    clearProgress();
    writeOut(prefix + visibleLine(line) + "\n");
    if (terminal && lastDraw >= 0)
        drawProgress(last, true);
}

void Reporter::say(const std::string &text)
{
    printLine(text);
}

void Reporter::logAppended(const std::string &text)
{
    pending += text;
    std::size_t start = 0;
    for (std::size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1) {
        // A "\r\n" ends a line as the window's log box shows it; a lone \r is shown.
        std::size_t length = end - start;
        if (length > 0 && pending[end - 1] == '\r')
            --length;
        printLine(pending.substr(start, length));
    }
    pending.erase(0, start);
    // Text that never ends its line goes out in pieces: kept whole, it would
    // grow without bound and be searched again at every append.
    while (pending.size() > kLongestLogLine) {
        const std::size_t cut = cutAt(pending, kLongestLogLine);
        printLine(pending.substr(0, cut));
        pending.erase(0, cut);
    }
}

void Reporter::logReset()
{
    pending.clear();
}

void Reporter::popupShown(const std::string &title, const std::string &message)
{
    const std::string text = title + " " + message;
    if (text == lastPopup)
        return;
    lastPopup = text;
    printLine(text);
}

void Reporter::clearProgress()
{
    if (!progressShown)
        return;
    writeErr("\r" + std::string(72 + prefix.size(), ' ') + "\r");
    progressShown = false;
}

void Reporter::drawProgress(const ProgressState &s, bool force)
{
    const double t = now();
    if (!force && lastDraw >= 0 && t - lastDraw < kRedrawInterval && s.percent < 100)
        return;
    lastDraw = t;
    char line[160];
    std::snprintf(line, sizeof line, "\r%s%3d %%  %.3f / %.3f MB  %.1f KB/s  %s  ", prefix.c_str(), s.percent,
                  s.megabytesSent, s.megabytesTotal, s.rateKbPerSecond, s.elapsed.c_str());
    writeErr(line);
    progressShown = true;
}

void Reporter::progress(const ProgressState &state)
{
    last = state;
    if (state.percent != lastPercentEvent) {
        lastPercentEvent = state.percent;
        event("progress", {{"percent", state.percent}, {"bytes", state.bytes}});
    }
    if (mode != ReportMode::Plain)
        return;
    if (terminal) {
        drawProgress(state, false);
        return;
    }
    const int tenth = state.percent / 10;
    if (tenth <= lastTenth || tenth == 0)
        return;
    lastTenth = tenth;
    char line[160];
    std::snprintf(line, sizeof line, "%s%3d %%  %.3f / %.3f MB  %.1f KB/s  %s\n", prefix.c_str(), state.percent,
                  state.megabytesSent, state.megabytesTotal, state.rateKbPerSecond, state.elapsed.c_str());
    writeErr(line);
}

// One line of compact JSON, keys in alphabetical order, on standard output
// in JSON mode and in the --log file. Every line says which record version
// it follows, when it was written and where. Every text given here went
// through visibleLine and is valid UTF-8; were it not, the bad bytes would
// be written as U+FFFD rather than the line lost.
void Reporter::event(const char *name, nlohmann::json fields)
{
    if (mode != ReportMode::Json && !log)
        return;
    nlohmann::json object = nlohmann::json::object();
    object["event"] = name;
    object["schema"] = kRecordSchema;
    object["time"] = utcTimestamp();
    object["device"] = device.empty() ? nlohmann::json(nullptr) : nlohmann::json(visibleLine(device));
    object["port"] = comLabel.empty() ? nlohmann::json(nullptr) : nlohmann::json(comLabel);
    if (fields.is_object())
        for (auto it = fields.begin(); it != fields.end(); ++it)
            object[it.key()] = it.value();
    const std::string line = object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    if (mode == ReportMode::Json)
        writeOut(line);
    writeLog(line);
}

void Reporter::result(int code, const std::string &reason, double elapsedSeconds, const std::string &where,
                      long long bytesSent)
{
    ResultRecord record;
    record.code = code;
    record.reason = reason;
    record.elapsedSeconds = elapsedSeconds;
    record.where = where;
    record.bytesSent = bytesSent;
    result(record);
}

void Reporter::result(const ResultRecord &r)
{
    finish();
    const double elapsed = std::round(r.elapsedSeconds * 1000.0) / 1000.0;
    const double rate = r.elapsedSeconds > 0 ? std::round(r.bytesSent / r.elapsedSeconds) : 0.0;
    auto textOrNull = [](const std::string &text) {
        return text.empty() ? nlohmann::json(nullptr) : nlohmann::json(visibleLine(text));
    };
    event("result", {{"code", r.code},
                     {"result", resultWord(r.code)},
                     {"reason", visibleLine(r.reason)},
                     {"outcome", r.outcome},
                     {"elapsed", elapsed},
                     {"bytes_sent", r.bytesSent},
                     {"rate", rate},
                     {"product", textOrNull(r.product)},
                     {"version", textOrNull(r.version)},
                     {"header_size", r.headerSize >= 0 ? nlohmann::json(r.headerSize) : nlohmann::json(nullptr)},
                     {"header_checksum", textOrNull(r.headerChecksum)}});
    if (mode == ReportMode::Json && !outLost)
        return;
    char head[96];
    std::snprintf(head, sizeof head, " (exit %d, %.1f s): ", r.code, r.elapsedSeconds);
    const std::string line = prefix + "quorvel-flash: " + resultWord(r.code) + (r.where.empty() ? "" : " ") + r.where
                             + head + visibleLine(r.reason) + "\n";
    if (mode != ReportMode::Json)
        writeOut(line);
    if (outLost)
        writeErr(line);  // the verdict is still said where it can be read
}

void Reporter::finish()
{
    if (!pending.empty()) {
        const std::string rest = pending;
        pending.clear();
        printLine(rest);
    }
    if (progressShown) {
        writeErr("\n");
        progressShown = false;
    }
    lastDraw = -1;
}
