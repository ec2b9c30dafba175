#!/usr/bin/env bash
# Draws the installer's title picture: a 320 by 240 title card of the game, saved as an
# uncompressed Windows bitmap with a 256-colour palette (bitmap resource 1).
# Needs ImageMagick and the DejaVu fonts. The picture is committed; run this only to change it.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
convert -size 320x240 gradient:'#0b1030'-'#5a2a4a' \
  \( -size 320x90 gradient:'#1b1410'-'#000000' \) -geometry +0+150 -composite \
  -fill '#f6d27a' -draw 'circle 250,70 250,48' \
  -fill '#2a1c2c' -draw 'polygon 0,175 40,120 75,150 120,95 165,150 205,110 250,160 290,125 320,150 320,240 0,240' \
  -fill '#140e16' -draw 'polygon 0,200 60,165 110,190 170,150 230,195 280,170 320,190 320,240 0,240' \
  -fill '#140e16' -draw 'rectangle 138,120 182,200' -draw 'polygon 132,120 160,88 188,120' \
  -fill '#f6d27a' -draw 'rectangle 156,150 164,165' \
  -font DejaVu-Serif-Bold -pointsize 56 -fill '#000000' -annotate +78+233 'DRAVO' \
  -fill '#e9c46a' -stroke '#7a4a10' -strokewidth 1 -annotate +76+230 'DRAVO' \
  -font DejaVu-Sans -pointsize 11 -stroke none -fill '#d8d0e8' -annotate +118+22 'PATCH INSTALLER' \
  -colors 256 -type Palette -compress None BMP3:title.bmp
