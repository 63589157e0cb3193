#pragma once

#include <boost/system/system_error.hpp>

#include <string>
#include <utility>

namespace quorin {

// A failed open or set-up of the controller's line: the serial library's
// own error, whose text ("open: ...", "set_option: ...") is reported as
// it stands, and a line that says which line failed, why and what to do.
class SerialLineError : public boost::system::system_error {
public:
    SerialLineError(const boost::system::system_error& error, std::string explanation)
        : boost::system::system_error(error),
          lineExplanation(std::move(explanation))
    {
    }

    const std::string& explanation() const { return lineExplanation; }

private:
    std::string lineExplanation;
};

}  // namespace quorin
