#!/bin/sh
# Each folder of src/ includes only the folders below it (CONTRIBUTING.md, "Layers"), and only
# src/gui includes Qt. Prints every include that breaks the rule; fails when there is one.
#   check-includes.sh SRC_DIR
set -eu
src=$1
allowed() {  # the folders a layer may include, its own among them
  case $1 in
    common) echo "common" ;;
    link) echo "common link" ;;
    image) echo "common image" ;;
    files) echo "common image files" ;;
    device) echo "common link image files device" ;;
    sim) echo "common link sim" ;;
    production) echo "common link image files device production" ;;
    controller) echo "common link image files device controller" ;;
    cli) echo "common link image files device production sim cli" ;;
    gui) echo "common link image files device production controller sim gui" ;;
    *) echo "" ;;
  esac
}
broken=0
for dir in "$src"/*/; do
  layer=$(basename "$dir")
  ok=$(allowed "$layer")
  if [ -z "$ok" ]; then
    echo "src/$layer: a folder with no place among the layers; give it one in this script"
    broken=1
    continue
  fi
  for file in "$dir"*.h "$dir"*.cpp; do
    [ -f "$file" ] || continue
    # Quoted includes name their folder: "device/Session.h".
    for used in $(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([a-z]*\)\/.*/\1/p' "$file" | sort -u); do
      case " $ok " in
        *" $used "*) ;;
        *) echo "src/$layer/$(basename "$file") includes $used/"; broken=1 ;;
      esac
    done
    if [ "$layer" != gui ] && grep -q '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q' "$file"; then
      echo "src/$layer/$(basename "$file") includes Qt"
      broken=1
    fi
  done
done
[ "$broken" -eq 0 ] && echo "every layer includes only the layers below it"
exit "$broken"
