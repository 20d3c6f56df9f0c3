#!/usr/bin/env bash
# Draws the pictures of the demo sites (ImageMagick): a colour gradient and a
# few shapes per picture, different for every name, the same on every run.
# The results are checked in; run this only to draw them again.
set -euo pipefail
cd "$(dirname "$0")/sites"
colours=(steelblue seagreen darkorange firebrick slateblue goldenrod teal indianred
         olivedrab cadetblue sienna mediumpurple darkcyan peru royalblue tomato)
n=0
while read -r file; do
  [ -z "$file" ] && continue
  sum=$(printf '%s' "$file" | cksum | cut -d' ' -f1)
  a=${colours[$((sum % 16))]}
  b=${colours[$(((sum / 16) % 16))]}
  c=${colours[$(((sum / 256) % 16))]}
  x=$((20 + sum % 120)); y=$((20 + (sum / 7) % 60)); r=$((8 + sum % 18))
  if [[ "$file" == */logo.gif ]]; then
    convert -size 240x40 "gradient:navy-$a" -fill white -draw "rectangle 10,12 230,28" "$file"
  else
    convert -size 160x100 "gradient:$a-$b" -fill "$c" -draw "circle $x,$y $((x + r)),$y" \
      -fill white -draw "rectangle 0,84 160,100" -fill "$b" -draw "rectangle $((x / 2)),86 $((x / 2 + 60)),98" \
      -strip "$file"
  fi
  n=$((n + 1))
done <<'LIST'
chronicle/img/band.gif
chronicle/img/bus.gif
chronicle/img/cycling.gif
chronicle/img/fell.gif
chronicle/img/hall.gif
chronicle/img/logo.gif
chronicle/img/mill.gif
chronicle/img/pavilion.gif
chronicle/img/poetry.gif
chronicle/img/quilt.gif
chronicle/img/wheel.gif
daily/img/bridge.png
daily/img/cafe.png
daily/img/delegation.png
daily/img/ferry.png
daily/img/football.png
daily/img/marina.png
daily/img/market.png
daily/img/radar.png
daily/img/rowing.png
daily/img/sailing.png
daily/img/shipyard.png
daily/img/storm.png
daily/img/swim.png
vestnik/img/book.jpg
vestnik/img/choir.jpg
vestnik/img/cinema.jpg
vestnik/img/ice.jpg
vestnik/img/library.jpg
vestnik/img/most.jpg
vestnik/img/painting.jpg
vestnik/img/park.jpg
vestnik/img/theatre.jpg
vestnik/img/tram.jpg
vestnik/img/trees.jpg
LIST
echo "drew $n pictures"
