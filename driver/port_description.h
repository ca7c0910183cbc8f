// The description the driver gives a port: its DeviceDesc with the port name put in parentheses.
// No kernel calls here.
#pragma once

#include <cstddef>

constexpr std::size_t kDescriptionChars = 140;

// description "Printer Port (LPT1)" and port "LPT3" give "Printer Port (LPT3)": the text up to the
// first "(", then "(" port ")", then what follows the first ")" after it. A result that does not
// fit outChars characters is cut.
void ComposePortDescription(const wchar_t* description, const wchar_t* portName, wchar_t* out,
                            std::size_t outChars);
