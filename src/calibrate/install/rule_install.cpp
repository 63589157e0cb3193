#include "calibrate/install/rule_install.h"

#include <unistd.h>

#include <string>

#include "calibrate/install/file_replace.h"
#include "calibrate/install/matrix_text.h"
#include "calibrate/install/run_command.h"
#include "calibrate/system_error.h"

namespace quorin::calibrate {

namespace {

constexpr const char* kService = "quorinDaemon.service";
constexpr mode_t kRuleMode = 0644;
constexpr int kNotStarted = 127;

void mustRun(const std::vector<std::string>& command)
{
    const int status = runCommand(command);
    if (status == kNotStarted)
        throw CalibrationFailure("cannot run " + command[0] + " (is it installed?)");
    if (status != 0)
        throw CalibrationFailure(command[0] + " " + command[1] + " failed (status " +
                                 std::to_string(status) + ")");
}

// Without the service: the rule is in udev's database once the device is
// told to change, but libinput reads it only from a device it adds.
void askForRestart(std::ostream& out)
{
    runCommand({"udevadm", "trigger", "--action=change", "--subsystem-match=input",
                std::string("--attr-match=name=") + kDeviceName});
    out << "restart: quorinDaemon does not run as the service " << kService
        << "; restart it (echo exit > /tmp/backlight, then start quorinDaemon again) so that "
        << kDeviceName << " is made anew and the desktop takes the matrix up" << std::endl;
}

}  // namespace

void installMatrix(const Matrix& matrix, const std::string& output, std::ostream& out)
{
    if (!output.empty() && !isPlainOutputName(output))
        throw CalibrationFailure("the output's name cannot stand in the rule: " + output);
    if (geteuid() != 0)
        throw CalibrationFailure("--install needs root: " + installCommand(matrix, output));
    // Renamed over the old one, so that udev never reads half a file.
    replaceFile(kRulesPath, rulesFileText(matrix, output), kRuleMode);
    out << "installed " << kRulesPath << std::endl;
    mustRun({"udevadm", "control", "--reload"});
    if (runCommand({"systemctl", "is-active", "--quiet", kService}) != 0) {
        askForRestart(out);
        return;
    }
    mustRun({"systemctl", "try-restart", kService});
    out << "restarted " << kService << ": " << kDeviceName
        << " was made anew and carries the matrix" << std::endl;
}

}  // namespace quorin::calibrate
