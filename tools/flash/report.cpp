// What quorvel-flash prints.
#include "report.h"

#include "options.h"
#include "visible_text.h"

#include <cmath>

namespace {

constexpr double kRedrawInterval = 0.1;  // the terminal's progress line: ten a second at most

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
    case kExitInterrupted: return "interrupted";
    default: return "failed";
    }
}

Reporter::Reporter(ReportMode mode_, std::FILE *out_, std::FILE *err_, bool errIsTerminal, double (*now_)())
    : mode(mode_), out(out_), err(err_), terminal(errIsTerminal), now(now_)
{
}

void Reporter::printLine(const std::string &line)
{
    if (mode == ReportMode::Quiet)
        return;
    if (mode == ReportMode::Json) {
        event("log", {{"text", visibleLine(line)}});
        return;
    }
    clearProgress();
    std::fprintf(out, "%s\n", visibleLine(line).c_str());
    std::fflush(out);
    if (terminal && lastDraw >= 0)
        drawProgress(last, true);
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
    std::fprintf(err, "\r%*s\r", 72, "");
    std::fflush(err);
    progressShown = false;
}

void Reporter::drawProgress(const ProgressState &s, bool force)
{
    const double t = now();
    if (!force && lastDraw >= 0 && t - lastDraw < kRedrawInterval && s.percent < 100)
        return;
    lastDraw = t;
    std::fprintf(err, "\r%3d %%  %.3f / %.3f MB  %.1f KB/s  %s  ", s.percent, s.megabytesSent,
                 s.megabytesTotal, s.rateKbPerSecond, s.elapsed.c_str());
    std::fflush(err);
    progressShown = true;
}

void Reporter::progress(const ProgressState &state)
{
    last = state;
    if (mode == ReportMode::Quiet)
        return;
    if (mode == ReportMode::Json) {
        if (state.percent != lastPercentEvent) {
            lastPercentEvent = state.percent;
            event("progress", {{"percent", state.percent},
                               {"bytes", static_cast<long long>(state.megabytesSent * 1048576.0 + 0.5)}});
        }
        return;
    }
    if (terminal) {
        drawProgress(state, false);
        return;
    }
    const int tenth = state.percent / 10;
    if (tenth <= lastTenth || tenth == 0)
        return;
    lastTenth = tenth;
    std::fprintf(err, "%3d %%  %.3f / %.3f MB  %.1f KB/s  %s\n", state.percent, state.megabytesSent,
                 state.megabytesTotal, state.rateKbPerSecond, state.elapsed.c_str());
    std::fflush(err);
}

// One line of compact JSON, keys in alphabetical order. Every text given
// here went through visibleLine and is valid UTF-8; were it not, the bad
// bytes would be written as U+FFFD rather than the line lost.
void Reporter::event(const char *name, nlohmann::json fields)
{
    if (mode != ReportMode::Json)
        return;
    nlohmann::json object = nlohmann::json::object();
    object["event"] = name;
    if (fields.is_object())
        for (auto it = fields.begin(); it != fields.end(); ++it)
            object[it.key()] = it.value();
    const std::string line = object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    std::fprintf(out, "%s\n", line.c_str());
    std::fflush(out);
}

void Reporter::result(int code, const std::string &reason, double elapsedSeconds, const std::string &where,
                      long long bytesSent)
{
    finish();
    if (mode == ReportMode::Json) {
        event("result", {{"code", code},
                         {"result", resultWord(code)},
                         {"reason", visibleLine(reason)},
                         {"elapsed", std::round(elapsedSeconds * 1000.0) / 1000.0},
                         {"bytes_sent", bytesSent}});
        return;
    }
    std::fprintf(out, "quorvel-flash: %s%s%s (exit %d, %.1f s): %s\n", resultWord(code),
                 where.empty() ? "" : " ", where.c_str(), code, elapsedSeconds, visibleLine(reason).c_str());
    std::fflush(out);
}

void Reporter::finish()
{
    if (!pending.empty()) {
        const std::string rest = pending;
        pending.clear();
        printLine(rest);
    }
    if (progressShown) {
        std::fputc('\n', err);
        std::fflush(err);
        progressShown = false;
    }
    lastDraw = -1;
}
