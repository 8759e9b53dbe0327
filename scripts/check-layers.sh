#!/usr/bin/env bash
# The house has floors; a folder may include from its own floor and the floors below, never
# from a floor above. Prints every include that breaks this and exits 1 when there is one.
#   0 platform
#   1 ktcrypto media state skin
#   2 net
#   3 recordings (downloads, streams, local playback)
#   4 client
#   5 cli sim archive
#   6 ui merge framestamp skins   (merge holds the clip dialog, a Qt window)
#   7 app
# Tests, benchmarks and fuzz targets stand outside the house and may include anything.
#
# An include that must run upward for a while is named here, as 'file:included/path', so
# that no other joins it unnoticed. None does today.
KNOWN_UPWARD=()
set -euo pipefail
cd "$(dirname "$0")/.."
floor() {
  case "$1" in
    platform) echo 0 ;;
    ktcrypto|media|state|skin) echo 1 ;;
    net) echo 2 ;;
    recordings) echo 3 ;;
    client) echo 4 ;;
    cli|sim|archive) echo 5 ;;
    ui|merge|framestamp|skins) echo 6 ;;
    app) echo 7 ;;
    *) echo "" ;;
  esac
}
bad=0
while IFS=: read -r file _ text; do
  from=${file%%/*}
  to=$(sed -E 's/.*#include "([a-z_]+)\/.*/\1/' <<<"$text")
  f=$(floor "$from"); t=$(floor "$to")
  [ -n "$f" ] && [ -n "$t" ] || continue
  target=$(sed -E 's/.*#include "([^"]+)".*/\1/' <<<"$text")
  [[ " ${KNOWN_UPWARD[*]} " == *" $file:$target "* ]] && continue
  if [ "$t" -gt "$f" ]; then
    echo "$file includes $to/ (floor $t) from floor $f:${text#*#include}"
    bad=1
  fi
done < <(git ls-files -- '*.h' '*.cpp' '*.hpp' | grep -vE '^(tests|bench|fuzz)/' |
           xargs grep -nE '^\s*#\s*include "[a-z_]+/' || true)
if [ "$bad" -ne 0 ]; then
  echo "check-layers: includes that run upward (see the floors at the top of $0)"
  exit 1
fi
echo "check-layers: every include runs down or across"
