# The shell tests' one check: sourced, it defines `check` and counts into $failures.
#   check DESCRIPTION EXPECTED ACTUAL   prints "ok: ..." or "FAILED: ...: expected ..., got ..."
failures=0
check() {
  if [ "$2" = "$3" ]; then
    echo "ok: $1"
  else
    echo "FAILED: $1: expected '$2', got '$3'"
    failures=$((failures + 1))
  fi
}
