#pragma once
// The environment a test hands to a program it starts: the test's own variables with some
// replaced, added or removed, in the block form that process creation takes.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace uidriver {

struct EnvironmentChange {
    std::string name;
    std::optional<std::string> value; // none: remove the variable
};

// entries are "NAME=value" strings as the parent has them (entries whose name starts with
// '=', such as "=C:=C:\\dir", are kept as they are). Names compare without regard to case,
// as Windows does; the last change of a name wins. The result is sorted by name without
// regard to case, each entry ends with a NUL, and one more NUL ends the block.
std::string BuildEnvironmentBlock(const std::vector<std::string>& entries,
                                  const std::vector<EnvironmentChange>& changes);

// The entries of a block as BuildEnvironmentBlock (or the system) lays it out.
std::vector<std::string> SplitEnvironmentBlock(std::string_view block);

} // namespace uidriver
