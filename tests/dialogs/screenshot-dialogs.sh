#!/usr/bin/env bash
# Shows each dialog of the agent under Wine on the test display and saves a picture of each
# (cropped to the dialog) in a folder, for a person to look at. Nothing here is committed.
#   tests/dialogs/screenshot-dialogs.sh [build dir (default build/win64)] [output folder]
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
if [ -z "${LOGONAGENT_WINE_SESSION:-}" ]; then
  exec "$root/scripts/wine-session.sh" "$0" "$@"
fi
build=${1:-$root/build/win64}
out=${2:-$(mktemp -d "${TMPDIR:-/tmp}/dialog-shots.XXXXXX")}
mkdir -p "$out"
gallery="$build/bin/dialog_gallery.exe"
[ -x "$gallery" ] || { echo "screenshot-dialogs: build dialog_gallery first ($gallery)" >&2; exit 1; }

status=0
for which in ports url 100 178 195 196; do
  coproc GALLERY { "$root/scripts/wine-exec.sh" "$gallery" "$which" 2>/dev/null; }
  if read -r -t 120 word x y w h <&"${GALLERY[0]}" && [ "$word" = ready ]; then
    import -window root -crop "${w}x${h}+${x}+${y}" +repage "$out/dialog-$which.png"
    echo "saved $out/dialog-$which.png"
  else
    echo "screenshot-dialogs: dialog $which did not appear" >&2
    status=1
  fi
  echo close >&"${GALLERY[1]}"
  wait "$GALLERY_PID"
done
exit $status
