# Shared by the tools: paths, dependency install, configure and build.
# Sourced, not run.

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# CI builds treat warnings as errors.
if [ "${CI:-}" = "true" ]; then preset=ci; else preset=${WUGG_PRESET:-default}; fi
build_dir="$root/build"

wugg_build() {
  "$root/tools/deps"
  cmake --preset "$preset" -S "$root" >/dev/null
  cmake --build --preset "$preset" -- -k 0 "$@"
}
