#!/usr/bin/env bash
# Runs one Windows program under Wine in a throwaway copy of the session's template prefix,
# with its own wineserver, which is shut down afterwards. CTest uses it as the emulator.
# Exit code 77: this machine cannot run the program's architecture (reported as skipped).
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-common.sh"

if [ -z "${LOGONAGENT_WINE_SESSION:-}" ]; then
  exec "$here/wine-session.sh" "$0" "$@"
fi

program=$1; shift
case "$(pe_machine "$program")" in
  i386)
    if ! wine_can_run32; then
      echo "wine-exec: skipped: this machine cannot run 32-bit Windows programs under Wine" \
           "($(wine_why_not32)); built and checked, not run." >&2
      exit 77
    fi
    loader=$(wine_loader32) ;;
  *) loader=$(wine_loader64) ;;
esac

prefix=$(mktemp -d "$LOGONAGENT_WINE_SESSION/prefix.XXXXXX")
wine_prefix_start "$prefix"

"$loader" "$program" "$@"
rc=$?

wine_prefix_end "$prefix"
rm -rf "$prefix"
exit $rc
