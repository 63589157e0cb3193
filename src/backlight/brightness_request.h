#pragma once

namespace quorin {

// The request in a control text, 0 to 100 percent: the number at its start
// as strtol reads it; anything negative, over 100 or not a number at all
// asks for full brightness, and 0 counts only when the text starts with '0'.
int parseBrightnessRequest(const char* text);

// Percent to controller level: floor(31 * percent / 100), 0 to 31.
int brightnessLevel(int percent);

enum class ControlAction { stop, none, apply };

// What one turn does with the text it read: "exit" anywhere stops; an
// empty text or the text applied last does nothing; any other text is
// applied.
ControlAction classifyControlText(const char* text, const char* lastApplied);

}  // namespace quorin
