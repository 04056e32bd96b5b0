# Sourced by the scripts that build what they run. build_targets PRESET TARGET... configures
# the preset's tree under $build_root (default: the presets' own build/<preset>) when it has
# none yet, then builds the targets; cmake's messages go where the caller sends its output.
build_common_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

build_targets() {
  local preset=$1; shift
  local tree=${build_root:-$build_common_root/build}/$preset
  ( cd "$build_common_root" \
    && { [ -f "$tree/build.ninja" ] || cmake --preset "$preset" -B "$tree"; } \
    && cmake --build "$tree" --target "$@" )
}
