#include "calibrate/install/labwc_config.h"

#include <algorithm>
#include <vector>

namespace quorin::calibrate {

namespace {

struct Span {
    std::size_t begin = 0;
    std::size_t end = 0;
};

constexpr const char* kRootEnds[] = {"</labwc_config>", "</openbox_config>"};

// The <!-- ... --> comments of the text; an unclosed one runs to its end.
std::vector<Span> comments(const std::string& text)
{
    std::vector<Span> found;
    for (std::size_t at = text.find("<!--"); at != std::string::npos;
         at = text.find("<!--", found.back().end)) {
        const std::size_t close = text.find("-->", at + 4);
        found.push_back({at, close == std::string::npos ? text.size() : close + 3});
    }
    return found;
}

bool commented(std::size_t at, const std::vector<Span>& skipped)
{
    return std::any_of(skipped.begin(), skipped.end(),
                       [at](const Span& span) { return at >= span.begin && at < span.end; });
}

bool blank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool endsName(char c)
{
    return blank(c) || c == '/' || c == '>';
}

// The whole <touch> elements, outside comments: "<touch .../>" or
// "<touch ...>...</touch>".
std::vector<Span> touchElements(const std::string& text)
{
    const std::vector<Span> skipped = comments(text);
    std::vector<Span> found;
    for (std::size_t at = text.find("<touch"); at != std::string::npos;
         at = text.find("<touch", at + 1)) {
        const std::size_t gt = text.find('>', at);
        if (at + 6 >= text.size() || !endsName(text[at + 6]) || commented(at, skipped) ||
            gt == std::string::npos)
            continue;
        if (text[gt - 1] == '/') {
            found.push_back({at, gt + 1});
            continue;
        }
        const std::size_t close = text.find("</touch>", gt);
        if (close != std::string::npos)
            found.push_back({at, close + 8});
    }
    return found;
}

// Where the value of an attribute (name="v" or name='v') or of a child
// element (<name>v</name>) of the element starts and ends.
std::optional<Span> valueSpan(const std::string& text, Span element, const std::string& name)
{
    const std::string inside = text.substr(element.begin, element.end - element.begin);
    const std::size_t gt = inside.find('>');
    for (std::size_t at = inside.find(name); at != std::string::npos && at < gt;
         at = inside.find(name, at + 1)) {
        std::size_t next = inside.find_first_not_of(" \t\r\n", at + name.size());
        if (!blank(inside[at - 1]) || next >= gt || inside[next] != '=')
            continue;
        next = inside.find_first_not_of(" \t\r\n", next + 1);
        if (next >= gt || (inside[next] != '"' && inside[next] != '\''))
            continue;
        const std::size_t close = inside.find(inside[next], next + 1);
        if (close != std::string::npos)
            return Span{element.begin + next + 1, element.begin + close};
    }
    const std::size_t open = inside.find("<" + name + ">", gt);
    const std::size_t close = inside.find("</" + name + ">", gt);
    if (open == std::string::npos || close == std::string::npos || close < open)
        return std::nullopt;
    return Span{element.begin + open + name.size() + 2, element.begin + close};
}

std::string trimmed(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    const std::size_t last = text.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

std::string valueOf(const std::string& text, Span element, const std::string& name)
{
    const std::optional<Span> value = valueSpan(text, element, name);
    return value ? trimmed(text.substr(value->begin, value->end - value->begin)) : "";
}

std::optional<Span> deviceElement(const std::string& text, const std::string& device)
{
    for (const Span& element : touchElements(text))
        if (valueOf(text, element, "deviceName") == device)
            return element;
    return std::nullopt;
}

// The element's own output: its value replaced, else added as an
// attribute or a child, whichever the element is written with.
std::string withOutput(std::string text, Span element, const std::string& output)
{
    if (const std::optional<Span> value = valueSpan(text, element, "mapToOutput"))
        text.replace(value->begin, value->end - value->begin, output);
    else if (text[element.end - 2] == '/')
        text.insert(element.end - 2, " mapToOutput=\"" + output + "\" ");
    else
        text.insert(element.end - 8, "<mapToOutput>" + output + "</mapToOutput>");
    return text;
}

std::optional<std::size_t> rootEnd(const std::string& text)
{
    const std::vector<Span> skipped = comments(text);
    for (const char* end : kRootEnds)
        for (std::size_t at = text.rfind(end); at != std::string::npos;
             at = at == 0 ? std::string::npos : text.rfind(end, at - 1))
            if (!commented(at, skipped))
                return at;
    return std::nullopt;
}

}  // namespace

std::string labwcTouchOutput(const std::string& rcXml, const std::string& device)
{
    const std::optional<Span> element = deviceElement(rcXml, device);
    return element ? valueOf(rcXml, *element, "mapToOutput") : "";
}

std::optional<std::string> withLabwcTouchOutput(const std::string& rcXml, const std::string& device,
                                                const std::string& output)
{
    if (const std::optional<Span> element = deviceElement(rcXml, device))
        return withOutput(rcXml, *element, output);
    const std::optional<std::size_t> end = rootEnd(rcXml);
    if (!end)
        return std::nullopt;
    std::size_t at = *end;
    while (at > 0 && (rcXml[at - 1] == ' ' || rcXml[at - 1] == '\t'))
        --at;
    std::string text = rcXml;
    text.insert(at, "  <touch deviceName=\"" + device + "\" mapToOutput=\"" + output + "\" />\n");
    return text;
}

std::string emptyLabwcConfig()
{
    return "<?xml version=\"1.0\"?>\n<labwc_config>\n</labwc_config>\n";
}

}  // namespace quorin::calibrate
