#pragma once
// Everything the admin page prints passes through here: text made safe for HTML and SVG, in
// content and in attribute values of either quote.
#include <string>
#include <string_view>

std::string EscapeMarkup(std::string_view text);
