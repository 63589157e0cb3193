#pragma once

#include <optional>
#include <string>

namespace quorin::calibrate {

// labwc ties a touch device to an output by an element of its rc.xml,
//   <touch deviceName="uinput-touch" mapToOutput="Virtual-1" />
// and otherwise spreads the device over its whole layout. Comments are
// skipped; a value may also be a child element (<mapToOutput>...).

// The output rc.xml's text ties `device` to; empty for none.
std::string labwcTouchOutput(const std::string& rcXml, const std::string& device);

// The text with `device` tied to `output`: the device's <touch> element
// given that output, keeping what else it says, or a new one at the end
// of the root element. nullopt where no root element ends the text.
std::optional<std::string> withLabwcTouchOutput(const std::string& rcXml, const std::string& device,
                                                const std::string& output);

// An rc.xml that says nothing else, for a user who has none.
std::string emptyLabwcConfig();

}  // namespace quorin::calibrate
