#include "calibrate/screen/output_choice.h"

#include <algorithm>

namespace quorin::calibrate {

namespace {

const NamedOutput* named(const std::vector<NamedOutput>& outputs, const std::string& name)
{
    const auto found =
        std::find_if(outputs.begin(), outputs.end(),
                     [&name](const NamedOutput& output) { return output.name == name; });
    return found == outputs.end() ? nullptr : &*found;
}

std::string listing(const std::vector<NamedOutput>& outputs)
{
    std::string text;
    for (const NamedOutput& output : outputs) {
        const Rect& area = output.area;
        text += "\n  " + (output.name.empty() ? std::string("(no name)") : output.name) + " " +
                std::to_string(area.width) + "x" + std::to_string(area.height);
        if (output.placed)
            text += " at " + std::to_string(area.x) + "," + std::to_string(area.y);
    }
    return text;
}

std::string howToChoose(const std::vector<NamedOutput>& outputs)
{
    return listing(outputs) +
           "\nname the touch panel's own with --output, for example: quorin-calibrate --output " +
           (outputs.empty() ? std::string("NAME") : outputs.front().name);
}

}  // namespace

const NamedOutput* chooseOutput(const std::vector<NamedOutput>& outputs, const std::string& asked,
                                const std::string& tied, const std::string& server)
{
    if (!asked.empty()) {
        if (const NamedOutput* output = named(outputs, asked))
            return output;
        throw OutputNotChosen(
            server + " has no output named " + asked +
            (outputs.empty() ? ": it names none" : "; it has" + listing(outputs)));
    }
    if (!tied.empty())
        if (const NamedOutput* output = named(outputs, tied))
            return output;
    if (outputs.size() <= 1)
        return outputs.empty() ? nullptr : &outputs.front();
    throw OutputNotChosen(server + " shows " + std::to_string(outputs.size()) +
                          " outputs and ties the touch screen to none of them, so the targets "
                          "would land on any:" +
                          howToChoose(outputs));
}

Rect layoutBox(const std::vector<NamedOutput>& outputs)
{
    if (outputs.empty())
        return {};
    int left = outputs.front().area.x;
    int top = outputs.front().area.y;
    int right = left;
    int bottom = top;
    for (const NamedOutput& output : outputs) {
        left = std::min(left, output.area.x);
        top = std::min(top, output.area.y);
        right = std::max(right, output.area.x + output.area.width);
        bottom = std::max(bottom, output.area.y + output.area.height);
    }
    return {left, top, right - left, bottom - top};
}

}  // namespace quorin::calibrate
