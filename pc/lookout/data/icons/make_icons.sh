#!/usr/bin/env bash
# Renders the viewer's icon (vistrel-lookout.svg, drawn on a 32-unit grid) as the PNG
# sizes of the hicolor theme, with ImageMagick's drawing primitives. Run by hand after
# changing the drawing; the PNG files are kept in the repository.
set -euo pipefail
cd "$(dirname "$0")"
for size in 48 64 128 256; do
  s=$(awk -v n="$size" 'BEGIN { print n / 32 }')
  at() { awk -v s="$s" -v v="$1" 'BEGIN { printf "%.2f", v * s }'; }
  convert -size "${size}x${size}" xc:none \
    -fill '#507090' -draw "roundrectangle $(at 11),$(at 6) $(at 21),$(at 10) $(at 1),$(at 1)" \
    -draw "roundrectangle $(at 4),$(at 9) $(at 28),$(at 27) $(at 1.5),$(at 1.5)" \
    -fill '#303030' -draw "circle $(at 16),$(at 17) $(at 22),$(at 17)" \
    -fill '#60c8e8' -draw "circle $(at 16),$(at 17) $(at 20.5),$(at 17)" \
    -define png:exclude-chunks=date,time -depth 8 -strip "vistrel-lookout-${size}.png"
done
