#pragma once

#include <string>
#include <vector>

namespace quorin {

// A serial port that a kernel driver took for a device of its own (a
// serdev device: on a Raspberry Pi, Bluetooth on the PL011). The kernel
// then makes no node for the port.
struct HeldPort {
    std::string port;    // the UART's device, e.g. "3f201000.serial"
    std::string holder;  // what is bound to it, e.g. "brcm,bcm43438-bt"
};

// What the system says about a serial line that failed, gathered only to
// explain the failure: every field may be empty.
struct LineFacts {
    bool exists = false;    // something is at the path
    bool hardware = false;  // a port device is behind the node (not a pty)
    std::string name;       // the kernel's name for the line, e.g. "ttyS1"
    std::string driver;     // the port's driver, e.g. "bcm2835-aux-uart"
    bool noUart = false;    // its driver found no UART at the port
    std::string access;     // owner, group and mode, e.g. "root:dialout 0660"
    std::vector<HeldPort> heldPorts;
    std::string machine;  // the device tree's model, e.g. "Raspberry Pi 3 Model B"
};

// What /sys tells of the port behind the node at `path`: exists, hardware,
// name, driver, noUart.
LineFacts portFacts(const std::string& path);

// All the facts: the port's, the node's access, the ports held and the
// machine.
LineFacts gatherLineFacts(const std::string& path);

}  // namespace quorin
