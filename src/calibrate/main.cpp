#include <iostream>
#include <string>
#include <vector>

#include <unistd.h>

#include "calibrate/calibrate_options.h"
#include "calibrate/calibration_report.h"
#include "calibrate/install/rule_install.h"
#include "calibrate/run_calibration.h"
#include "calibrate/screen/output_choice.h"

namespace {

using namespace quorin::calibrate;

constexpr int kFailed = 1;
constexpr int kBadCommandLine = 2;
constexpr int kGivenUp = 3;
constexpr int kTimedOut = 4;

int statusOf(Outcome outcome)
{
    switch (outcome) {
    case Outcome::calibrated:
        return 0;
    case Outcome::givenUp:
        return kGivenUp;
    case Outcome::timedOut:
        return kTimedOut;
    case Outcome::failed:
        break;
    }
    return kFailed;
}

// The guided run; then, as root with --install, the rule is put in place,
// else printed with the root command that puts it there.
int calibrate(const CalibrateOptions& options)
{
    if (options.install && geteuid() != 0) {
        std::cerr << "quorin-calibrate: --install needs root; run the calibration without it, "
                     "then the root command it prints"
                  << std::endl;
        return kFailed;
    }
    const RunResult result = runCalibration(options, std::cout);
    if (result.outcome != Outcome::calibrated)
        return statusOf(result.outcome);
    std::cout << ruleLine(result.matrix, result.ruleOutput) << std::endl;
    if (options.install)
        installMatrix(result.matrix, result.ruleOutput, std::cout);
    else
        std::cout << "install: " << installCommand(result.matrix, result.ruleOutput) << std::endl;
    return 0;
}

int act(const CalibrateOptions& options)
{
    if (options.action != CalibrateOptions::Action::installMatrix)
        return calibrate(options);
    std::cout << ruleLine(options.matrix, options.output) << std::endl;
    installMatrix(options.matrix, options.output, std::cout);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const CalibrateOptions options =
        parseCalibrateOptions(std::vector<std::string>(argv + 1, argv + argc));
    const int answered = answerInformationalOptions(options);
    if (answered >= 0)
        return answered;
    try {
        return act(options);
    } catch (const OutputNotChosen& refusal) {
        std::cout << std::flush;
        std::cerr << "quorin-calibrate: " << refusal.what() << std::endl;
        return kBadCommandLine;
    } catch (const std::exception& failure) {
        std::cout << std::flush;
        std::cerr << "quorin-calibrate: " << failure.what() << std::endl;
        return kFailed;
    }
}
