#!/usr/bin/env bash
# Draws stand-in skin images (the names and sizes of res/config.xml) into a folder, for looking at
# the skinned controls with controls_preview before the real skin exists.
# The close button is a PNG stored under its .jpg name (the loader goes by content, not name) so that
# its 0xDEDEDE corners stay exact and show the window beneath.
set -euo pipefail
out=${1:?usage: make_stand_in_skin.sh <folder>}
mkdir -p "$out"
font=/usr/share/fonts/truetype/nanum/NanumGothicBold.ttf

convert -size 576x520 gradient:'#2b3a4a-#7d93a8' \
    -fill '#e8edf2' -draw 'roundrectangle 12,88 564,270 10,10' \
    -fill '#f4f6f8' -draw 'roundrectangle 12,300 564,390 10,10' \
    -fill '#dfe5ea' -draw 'roundrectangle 12,420 564,452 8,8' \
    -fill white -font "$font" -pointsize 26 -annotate +24+52 'Stand-in skin' \
    -quality 95 "$out/background.jpg"

button() { # name width height colour label state
    local name=$1 w=$2 h=$3 colour=$4 label=$5 state=$6 format=${7:-jpg}
    # Hard shape edges, so the corners stay exactly the key colour; smooth text.
    convert -size "${w}x${h}" xc:'#dedede' +antialias -fill "$colour" \
        -draw "roundrectangle 0,0 $((w - 1)),$((h - 1)) 9,9" -antialias -fill white -font "$font" -pointsize 12 -gravity center -annotate +0+0 "$label" \
        -quality 95 "$format:$out/btn_${name}_${state}.jpg"
}
for entry in exec:EXEC download:DOWNLOAD stop:STOP close:CLOSE folder:FOLDER; do
    name=${entry%%:*}
    label=${entry#*:}
    height=30
    [ "$name" = folder ] && height=24
    format=jpg
    [ "$name" = close ] && format=png24
    button "$name" 84 "$height" '#2f7fc1' "$label" normal "$format"
    button "$name" 84 "$height" '#4fa3e6' "$label" over "$format"
    button "$name" 84 "$height" '#1c4f7a' "$label" press "$format"
    button "$name" 84 "$height" '#9aa3ab' "$label" disable "$format"
done

convert -size 6x8 gradient:'#7ad04a-#2f8f1c' -quality 95 "$out/progress_file.jpg"
convert -size 6x8 gradient:'#f0b040-#c07010' -quality 95 "$out/progress_total.jpg"
