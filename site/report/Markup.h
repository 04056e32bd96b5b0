#pragma once
// Everything the site prints into its pages passes through here (the login page, the admin
// page and its plots): text made safe for HTML and SVG, in content and in attribute values of
// either quote.
#include <string>
#include <string_view>

std::string EscapeMarkup(std::string_view text);
