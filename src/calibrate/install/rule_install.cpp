#include "calibrate/install/rule_install.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "calibrate/install/matrix_text.h"
#include "calibrate/install/run_command.h"
#include "calibrate/system_error.h"

namespace quorin::calibrate {

namespace {

constexpr const char* kService = "quorinDaemon.service";
constexpr mode_t kRuleMode = 0644;
constexpr int kNotStarted = 127;

void writeAll(int fd, const std::string& text, const std::string& path)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote < 0)
            throwErrno("cannot write " + path);
        done += static_cast<std::size_t>(wrote);
    }
}

// Written beside the rule and renamed over it, so that udev never reads
// half a file.
void writeRulesFile(const std::string& text)
{
    const std::string temporary = std::string(kRulesPath) + ".new";
    const int fd = checked(
        open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, kRuleMode),
        "cannot create " + temporary);
    try {
        checked(fchmod(fd, kRuleMode), "fchmod " + temporary);
        writeAll(fd, text, temporary);
        checked(fsync(fd), "fsync " + temporary);
    } catch (...) {
        close(fd);
        unlink(temporary.c_str());
        throw;
    }
    checked(close(fd), "close " + temporary);
    checked(rename(temporary.c_str(), kRulesPath), std::string("cannot rename onto ") + kRulesPath);
}

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

std::string installCommand(const Matrix& matrix)
{
    return "sudo quorin-calibrate --install --matrix \"" + matrixText(matrix) + "\"";
}

void installMatrix(const Matrix& matrix, std::ostream& out)
{
    if (geteuid() != 0)
        throw CalibrationFailure("--install needs root: " + installCommand(matrix));
    writeRulesFile(rulesFileText(matrix));
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
