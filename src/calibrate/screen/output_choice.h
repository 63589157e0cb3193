#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "calibrate/fit/geometry.h"

namespace quorin::calibrate {

// An output of a display server, or a connector of a DRM card, as the
// program lists it and draws on it.
struct NamedOutput {
    std::string name;
    Rect area;           // its place in the server's layout, in the server's pixels
    bool placed = true;  // false for DRM connectors, which share no layout
};

// The output cannot be chosen without the command line's help: its text
// lists the outputs and says how to name one. Exit status 2.
struct OutputNotChosen : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The output to draw on, where `server` ("labwc", "the DRM card
// /dev/dri/card0") has these: the one `asked` names; else the one the
// server ties the touch screen to (`tied`, empty for none); else the only
// one. nullptr where the server names no output and none was asked for.
// Throws OutputNotChosen for an unknown name, and where several outputs
// leave the choice open.
const NamedOutput* chooseOutput(const std::vector<NamedOutput>& outputs, const std::string& asked,
                                const std::string& tied, const std::string& server);

// The box that holds every output.
Rect layoutBox(const std::vector<NamedOutput>& outputs);

}  // namespace quorin::calibrate
