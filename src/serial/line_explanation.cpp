#include "serial/line_explanation.h"

#include <cerrno>
#include <system_error>

#include "serial/line_settings.h"

namespace quorin {

namespace {

constexpr const char* kMiniUartDriver = "bcm2835-aux-uart";
constexpr const char* kPiAdvice = "see RASPBERRY PI in man quorinDaemon";

bool onRaspberryPi(const LineFacts& facts)
{
    return facts.machine.rfind("Raspberry Pi", 0) == 0;
}

// "Serial line /dev/serial0 (ttyS1): ", naming the kernel's line where
// the path does not.
std::string lineName(const std::string& device, const LineFacts& facts)
{
    std::string text = "Serial line " + device;
    if (!facts.name.empty() && device != "/dev/" + facts.name)
        text += " (" + facts.name + ")";
    return text + ": ";
}

std::string useAnotherLine(const LineFacts& facts)
{
    std::string text = "name the controller's line with --device";
    if (onRaspberryPi(facts))
        text += "; on a Raspberry Pi that is the PL011, /dev/ttyAMA0, once Bluetooth has let it "
                "go (" +
                std::string(kPiAdvice) + ")";
    return text;
}

std::string heldPortsText(const LineFacts& facts)
{
    std::string text;
    for (const HeldPort& held : facts.heldPorts)
        text += (text.empty() ? "" : ", ") + held.port + " for " + held.holder;
    return text;
}

// A USB adapter's line is never one the kernel holds for a device.
bool usbLine(const std::string& device)
{
    const std::string name = device.substr(device.find_last_of('/') + 1);
    return name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0;
}

std::string missingNode(const std::string& device, const LineFacts& facts)
{
    std::string text = "there is no such device";
    if (!facts.heldPorts.empty() && !usbLine(device)) {
        text += "; the kernel holds the serial port " + heldPortsText(facts) +
                ", which leaves it no node";
        if (onRaspberryPi(facts))
            return text + ": a Raspberry Pi's PL011 given to Bluetooth (" + kPiAdvice + ")";
    }
    return text + "; " + useAnotherLine(facts);
}

std::string noUartBehind(const LineFacts& facts)
{
    std::string text = "no UART answers behind this port";
    if (facts.noUart && !facts.driver.empty())
        text += " (" + facts.driver + " found none there: the port is a placeholder)";
    return text + "; " + useAnotherLine(facts);
}

std::string withAccess(const std::string& text, const LineFacts& facts)
{
    return facts.access.empty() ? text : text + " (" + facts.access + ")";
}

}  // namespace

std::string explainOpenFailure(const std::string& device, int error, const LineFacts& facts)
{
    const std::string name = lineName(device, facts);
    switch (error) {
    case ENOENT:
        return name + missingNode(device, facts);
    case EIO:
    case ENXIO:
    case ENODEV:
        return name + noUartBehind(facts);
    case EACCES:
        return name + withAccess("permission denied", facts) +
               "; run the daemon as root or as a user who may read and write it";
    case EPERM:
        return name + "not permitted: a service's device list (DeviceAllow=) or a security "
                      "module forbids it";
    case EBUSY:
        return name + "busy: another program holds it for itself";
    default:
        return name + "cannot be opened (" + std::system_category().message(error) + ")";
    }
}

std::string explainSettingsNotKept(const std::string& device,
                                   const std::vector<std::string>& dropped, const LineFacts& facts)
{
    std::string text = lineName(device, facts) + "the port did not keep " + listed(dropped) +
                       ", which the controller needs (" + kLineNeeds + ")";
    if (facts.driver == kMiniUartDriver)
        return text +
               ": it is a Raspberry Pi's mini UART, which has no parity; wire the "
               "controller to the PL011, /dev/ttyAMA0 (" +
               kPiAdvice + ")";
    if (!facts.driver.empty())
        text += ": its driver, " + facts.driver + ", cannot do that";
    return text + "; wire the controller to a port that can";
}

std::string explainSetupFailure(const std::string& device, int error,
                                const std::vector<std::string>& dropped, const LineFacts& facts)
{
    if (!dropped.empty())
        return explainSettingsNotKept(device, dropped, facts);
    return lineName(device, facts) + "the port refused the controller's settings (" + kLineNeeds +
           "): " + std::system_category().message(error);
}

}  // namespace quorin
