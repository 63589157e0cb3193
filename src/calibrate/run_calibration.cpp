#include "calibrate/run_calibration.h"

#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <vector>

#include "calibrate/calibration_report.h"
#include "calibrate/fit/calibration_session.h"
#include "calibrate/fit/output_frame.h"
#include "calibrate/input/escape_keys.h"
#include "calibrate/input/touch_input.h"
#include "calibrate/install/matrix_text.h"
#include "calibrate/install/rule_install.h"
#include "calibrate/screen/screen.h"
#include "calibrate/signal_watch.h"
#include "calibrate/system_error.h"

namespace quorin::calibrate {

namespace {

using Clock = std::chrono::steady_clock;

const char* signalName(int signal)
{
    switch (signal) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    case SIGQUIT:
        return "SIGQUIT";
    default:
        return "a signal";
    }
}

class CalibrationLoop {
public:
    CalibrationLoop(const CalibrateOptions& options, std::ostream& log);
    RunResult run();

private:
    std::optional<Outcome> turn();
    void showScreenIfReady();
    void showTarget();
    std::optional<Outcome> readTouches();
    std::optional<Outcome> judge(const TouchSummary& finished);
    std::optional<Outcome> finish(Verdict verdict);
    void logOtherFrame();
    std::optional<Outcome> checkKeysAndSignals(const std::vector<pollfd>& ready);
    std::vector<pollfd> waitSet() const;
    int millisecondsLeft() const;

    const CalibrateOptions& options;
    std::ostream& log;
    TouchInput touch;
    SignalWatch signals;
    std::unique_ptr<Screen> screen;
    EscapeKeys keys;
    TouchSampler sampler;
    std::optional<CalibrationSession> session;
    Clock::time_point deadline;
};

TouchRules rulesFrom(const CalibrateOptions& options)
{
    TouchRules rules;
    rules.minSamples = options.minSamples;
    return rules;
}

CalibrationLoop::CalibrationLoop(const CalibrateOptions& options, std::ostream& log)
    : options(options),
      log(log),
      touch(options.touchDevice),
      screen(openScreen(options, {options.output, touch.udevProperty("WL_OUTPUT")})),
      keys(!screen->ownsKeyboard(), touch.path()),
      sampler(touch.position()),
      deadline(Clock::now() + std::chrono::seconds(options.timeoutSeconds))
{
    log << deviceLine(touch.path(), touch.xAxis(), touch.yAxis()) << std::endl;
}

RunResult CalibrationLoop::run()
{
    std::optional<Outcome> outcome;
    while (!outcome)
        outcome = turn();
    RunResult result;
    result.outcome = *outcome;
    const ScreenFrame frame = screen->frame();
    if (session)
        result.matrix = installedMatrix(session->fit().matrix, frame);
    // A name that cannot stand in the rule as it is stays out of it.
    if (frame.place.tiedByRule && isPlainOutputName(frame.place.name))
        result.ruleOutput = frame.place.name;
    return result;
}

// A new session whenever the screen's size is new: the targets' pixels
// follow it, and touches of the old ones would not fit.
void CalibrationLoop::showScreenIfReady()
{
    const Size size = screen->size();
    const bool redraw = screen->needsRedraw();
    if (size.width == 0)
        return;
    if (session && session->screen().width == size.width &&
        session->screen().height == size.height) {
        if (redraw)
            showTarget();
        return;
    }
    if (session)
        log << "resized: the screen is now " << size.width << "x" << size.height
            << ", starting again" << std::endl;
    session.emplace(size, touch.xAxis(), touch.yAxis(), rulesFrom(options));
    log << screenLine(size, screen->kind()) << std::endl;
    const ScreenFrame frame = screen->frame();
    if (!frame.server.empty())
        log << frameLine(frame) << std::endl;
    if (!frame.place.name.empty())
        log << layoutLine(frame) << std::endl;
    log << targetLine(*session) << std::endl;
    showTarget();
}

void CalibrationLoop::showTarget()
{
    const Target& target = session->currentTarget();
    screen->draw(target.x, target.y);
    deadline = Clock::now() + std::chrono::seconds(options.timeoutSeconds);
}

std::vector<pollfd> CalibrationLoop::waitSet() const
{
    std::vector<pollfd> set{{signals.fd(), POLLIN, 0}, {touch.fd(), POLLIN, 0}};
    for (const int fd : keys.fds())
        set.push_back({fd, POLLIN, 0});
    if (screen->pollFd() >= 0)
        set.push_back({screen->pollFd(), POLLIN, 0});
    return set;
}

int CalibrationLoop::millisecondsLeft() const
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left) + 1;
}

std::optional<Outcome> CalibrationLoop::turn()
{
    showScreenIfReady();
    std::vector<pollfd> set = waitSet();
    screen->beforePoll();
    const int limit = screen->pollLimitMs();
    const int ready = poll(set.data(), set.size(),
                           limit < 0 ? millisecondsLeft() : std::min(limit, millisecondsLeft()));
    const int pollError = errno;
    // A hung-up connection counts as readable: reading it reports the loss.
    screen->afterPoll(screen->pollFd() >= 0 &&
                      (set.back().revents & (POLLIN | POLLERR | POLLHUP)) != 0);
    errno = pollError;
    if (ready < 0 && errno != EINTR)
        throwErrno("poll");
    if (std::optional<Outcome> stop = checkKeysAndSignals(set))
        return stop;
    if ((set[1].revents & (POLLIN | POLLERR | POLLHUP)) != 0)
        if (std::optional<Outcome> outcome = readTouches())
            return outcome;
    if (Clock::now() < deadline)
        return std::nullopt;
    log << "timeout: no touch counted on "
        << (session ? session->currentTarget().name : "the screen, which never appeared") << " in "
        << options.timeoutSeconds << " s" << std::endl;
    return Outcome::timedOut;
}

std::optional<Outcome> CalibrationLoop::checkKeysAndSignals(const std::vector<pollfd>& ready)
{
    if ((ready[0].revents & POLLIN) != 0) {
        const int signal = signals.take();
        log << "given up: " << signalName(signal) << std::endl;
        return Outcome::givenUp;
    }
    bool escape = screen->escapePressed();
    for (const pollfd& entry : ready)
        for (const int fd : keys.fds())
            if (entry.fd == fd && (entry.revents & POLLIN) != 0 && EscapeKeys::escapeOn(fd))
                escape = true;
    if (escape) {
        log << "given up: Escape" << std::endl;
        return Outcome::givenUp;
    }
    if (!screen->closed())
        return std::nullopt;
    log << "given up: the compositor closed the window" << std::endl;
    return Outcome::givenUp;
}

std::optional<Outcome> CalibrationLoop::readTouches()
{
    for (const input_event& event : touch.readEvents()) {
        const std::optional<TouchSummary> finished = sampler.feed(event);
        if (sampler.needsResync())
            sampler.resync(touch.position());
        if (finished && session)
            if (std::optional<Outcome> outcome = judge(*finished))
                return outcome;
    }
    return std::nullopt;
}

std::optional<Outcome> CalibrationLoop::judge(const TouchSummary& finished)
{
    log << touchLine(*session, finished) << std::endl;
    const std::size_t before = session->targetIndex();
    const Verdict verdict = session->offer(finished);
    if (verdict == Verdict::accepted) {
        if (before + 1 == kCornerCount)
            log << matrixLine(installedMatrix(session->fit().matrix, screen->frame())) << std::endl;
        log << targetLine(*session) << std::endl;
        showTarget();
        return std::nullopt;
    }
    if (!session->over()) {
        log << againLine(*session, verdict) << std::endl;
        deadline = Clock::now() + std::chrono::seconds(options.timeoutSeconds);
        return std::nullopt;
    }
    return finish(verdict);
}

std::optional<Outcome> CalibrationLoop::finish(Verdict verdict)
{
    if (verdict == Verdict::degenerate) {
        log << "failed: " << session->fit().error << std::endl;
        return Outcome::failed;
    }
    log << centreLine(*session) << std::endl;
    if (verdict == Verdict::fitted) {
        logOtherFrame();
        return Outcome::calibrated;
    }
    log << "failed: " << describe(verdict) << std::endl;
    return Outcome::failed;
}

// Where the display server's frame is not known, the other candidate: the
// fit turned back where the output is turned, the fit onto the layout
// where there are several outputs. The user tries it if taps land so.
void CalibrationLoop::logOtherFrame()
{
    const ScreenFrame frame = screen->frame();
    if (frame.frame == MatrixFrame::unknown && frame.turn != Turn::none)
        log << "if taps land turned: "
            << installCommand(matrixOnUnturnedOutput(session->fit().matrix, frame.turn))
            << std::endl;
    if (frame.place.spread == TouchSpread::unknown && !frame.place.name.empty())
        log << "if taps land spread over the layout: "
            << installCommand(matrixOnLayout(session->fit().matrix, frame.place)) << std::endl;
}

}  // namespace

RunResult runCalibration(const CalibrateOptions& options, std::ostream& log)
{
    CalibrationLoop loop(options, log);
    return loop.run();
}

}  // namespace quorin::calibrate
