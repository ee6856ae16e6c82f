#!/usr/bin/env bash
# Makes the 1920x1080 screens of the search benchmark that are not made in
# code: a dark desktop, a document page, a wallpaper desktop, a folder of
# identical icons, an editor on a black desktop and a many-coloured desktop
# with a list of identical rows
# (bench/data/{dark,document,wallpaper,icons,editor,mosaic}.png).
# Backgrounds, panels, pages and icons are drawn with ImageMagick; the
# windows on the desktops are real X programs (xterm, xcalc, xeyes, xlogo,
# ImageMagick's display) on a virtual screen, captured with import. Nothing
# depends on the clock, the files on the machine or the pointer (which stays
# where Xvfb puts it, in the middle of the screen), so a run gives the same
# pictures wherever the same Debian packages are installed.
# bench/search_bench.cpp cuts templates at fixed places of these pictures and
# places the icon grid by the numbers below: change them together.
# Usage: bench/make_screens.sh [OUTPUT_FOLDER [SCREEN...]] (default bench/data,
# every screen; the editor and mosaic screens need no virtual screen)
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-bench/data}")
mkdir -p "$out"
work=$(mktemp -d)
pids=()
source tools/virtual_display.sh
cleanup() {
  [ "${#pids[@]}" -gt 0 ] && kill "${pids[@]}" 2>/dev/null
  [ -n "${virtual_display_pid:-}" ] && kill "$virtual_display_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

sans=DejaVu-Sans
bold=DejaVu-Sans-Bold
serif=DejaVu-Serif
mono="DejaVu Sans Mono"

# ---- Pieces shared by the pictures ----

# app_icon FILE SIZE COLOUR LETTER: a rounded square in a vertical gradient
# with a white letter, as launchers and docks show applications.
app_icon() {
  local file=$1 size=$2 colour=$3 letter=$4 r=$(($2 / 5)) e=$(($2 - 3))
  convert -size "${size}x${size}" xc:none \
    \( -size "${size}x${size}" "gradient:$colour-#101010" \) \
    \( -size "${size}x${size}" xc:none -fill white -draw "roundrectangle 1,1 $e,$e $r,$r" \) \
    -delete 0 -compose DstIn -composite \
    \( -size "${size}x${size}" xc:none -fill "$colour" -draw "roundrectangle 1,1 $e,$((size / 2)) $r,$r" \
    -channel A -evaluate multiply 0.55 +channel \) -compose Over -composite \
    -font "$bold" -pointsize $((size / 2)) -fill white -gravity center -annotate +0+1 "$letter" \
    "$file"
}

# folder_icon FILE SIZE: a manila folder with a tab.
folder_icon() {
  local file=$1 s=$2
  convert -size "${s}x${s}" xc:none \
    -fill '#c98f2c' -draw "roundrectangle 2,$((s / 6)) $((s * 5 / 12)),$((s / 3)) 3,3" \
    -fill '#e7b04a' -stroke '#b07a1f' -draw "roundrectangle 2,$((s / 4)) $((s - 3)),$((s - 5)) 3,3" \
    -stroke none -fill '#f3c667' -draw "rectangle 4,$((s / 4 + 3)) $((s - 5)),$((s / 4 + 5))" \
    "$file"
}

# picture_icon FILE SIZE: a framed landscape (sky, sun, two hills), the icon
# file managers give pictures.
picture_icon() {
  local file=$1 s=$2
  convert -size "${s}x${s}" xc:none \
    \( -size $((s - 8))x$((s - 14)) gradient:'#5aa9e6'-'#cfe8fb' \) -geometry +4+7 -composite \
    -fill '#ffd23f' -draw "circle $((s * 2 / 3)),$((s / 3)) $((s * 2 / 3 + 5)),$((s / 3))" \
    -fill '#3f8f3a' -draw "polygon 4,$((s - 8)) $((s / 3)),$((s / 2)) $((s * 2 / 3)),$((s - 8))" \
    -fill '#2f6f2b' -draw "polygon $((s / 3)),$((s - 8)) $((s * 3 / 4)),$((s * 5 / 9)) $((s - 4)),$((s - 8))" \
    -fill none -stroke '#6b6b6b' -draw "rectangle 3,6 $((s - 4)),$((s - 7))" \
    "$file"
}

# The text a terminal shows: a build and a listing, the same on every run.
cat >"$work/session.txt" <<'EOF'
$ cmake --build build --target all
[1/9] Building CXX object src/CMakeFiles/core.dir/image/loader.cpp.o
[2/9] Building CXX object src/CMakeFiles/core.dir/image/palette.cpp.o
[3/9] Building CXX object src/CMakeFiles/core.dir/search/scan.cpp.o
[4/9] Building CXX object src/CMakeFiles/core.dir/search/plan.cpp.o
[5/9] Linking CXX static library src/libcore.a
[6/9] Building CXX object tests/CMakeFiles/unit.dir/scan_test.cpp.o
[7/9] Building CXX object tests/CMakeFiles/unit.dir/loader_test.cpp.o
[8/9] Linking CXX executable tests/unit
[9/9] Linking CXX executable tools/viewer
$ ./tests/unit --gtest_brief=1
[==========] 214 tests from 31 test suites ran. (1837 ms total)
[  PASSED  ] 214 tests.
$ ls -l assets/
total 1424
-rw-r--r-- 1 dev dev  48213 Mar  3 10:12 background.png
-rw-r--r-- 1 dev dev   3120 Mar  3 10:12 button-cancel.bmp
-rw-r--r-- 1 dev dev   3120 Mar  3 10:12 button-ok.bmp
-rw-r--r-- 1 dev dev  12344 Mar  3 10:12 dialog-frame.bmp
-rw-r--r-- 1 dev dev 884512 Mar  3 10:14 splash.bmp
-rw-r--r-- 1 dev dev   5686 Mar  3 10:15 toolbar-icons.bmp
-rw-r--r-- 1 dev dev 506880 Mar  3 10:15 wallpaper.jpg
$ git log --oneline -4
4f1c2d9 Read 8-bit files through their colour table
a07be13 Faster scan for wide templates
91d4e02 Viewer: zoom with the mouse wheel
77b3a10 First import
$ 
EOF

cat >"$work/top.txt" <<'EOF'
top - 09:41:07 up 3 days,  2:17,  1 user,  load average: 0.42, 0.37, 0.31
Tasks: 187 total,   1 running, 186 sleeping,   0 stopped,   0 zombie
%Cpu(s):  3.1 us,  1.2 sy,  0.0 ni, 95.4 id,  0.2 wa,  0.0 hi,  0.1 si
MiB Mem :  15923.4 total,   9120.6 free,   3211.9 used,   3590.9 buff/cache

    PID USER      PR  NI    VIRT    RES    SHR S  %CPU  %MEM     TIME+ COMMAND
   1412 dev       20   0 4821356 412820 182340 S   4.3   2.5  12:41.27 firefox
   2210 dev       20   0  932412  88120  61224 S   1.7   0.5   0:52.03 Xorg
   3377 dev       20   0  612348  54216  40128 S   1.0   0.3   0:08.91 xterm
    988 root      20   0  241812  12932   9880 S   0.3   0.1   0:21.48 NetworkManager
   4021 dev       20   0   12084   4212   3368 R   0.3   0.0   0:00.12 top
      1 root      20   0  168612  13024   8312 S   0.0   0.1   0:03.77 systemd
EOF

# start_program COMMAND...: runs an X program on the virtual screen.
start_program() {
  "$@" >/dev/null 2>&1 &
  pids+=($!)
}

# set_background FILE: the root window shows FILE (display answers 1 even
# when it has done so).
set_background() {
  display -window root "$1" || true
}

# shoot FILE: waits for the programs to draw, captures the screen into FILE
# and ends the programs.
shoot() {
  sleep 3
  import -window root "$work/shot.png"
  kill "${pids[@]}" 2>/dev/null || true
  wait "${pids[@]}" 2>/dev/null || true
  pids=()
  convert "$work/shot.png" -strip -define png:compression-level=9 "$1"
}

# Which screens to make: every one, or those named after the folder.
shift $(($# > 0 ? 1 : 0))
wanted=" ${*:-dark document wallpaper icons editor mosaic} "
want() { [[ $wanted == *" $1 "* ]]; }

# calculator_keys X Y FACE INK: a 4 x 5 grid of 64 x 48 keys, 8 pixels apart,
# all of one face, the labels of a pocket calculator; draw options for convert.
calculator_keys() {
  local x0=$1 y0=$2 face=$3 ink=$4 labels=(7 8 9 / 4 5 6 x 1 2 3 - 0 . = + C M R %) i=0 x y
  keys=()
  for row in 0 1 2 3 4; do
    for col in 0 1 2 3; do
      x=$((x0 + col * 72)) y=$((y0 + row * 56))
      keys+=(-fill "$face" -draw "roundrectangle $x,$y $((x + 63)),$((y + 47)) 6,6"
        -fill "$ink" -annotate "+$((x + 26))+$((y + 31))" "${labels[$i]}")
      i=$((i + 1))
    done
  done
}

# ---- An editor on a black desktop: a white page right under the menu with a
# few lines of text at its top left, beside it a calculator whose keys share
# one face, an analogue clock and a picture ----
# The page (x 0-1299, y 52-1079) is white except the text (x 8-640, y 56-240);
# the desktop is pure black wherever nothing is drawn (x 1300-1379 all down).
if want editor; then
  cat >"$work/notes.txt" <<'EOF'
TODO for the release
- rebuild the installer with the new icons
- ask Maria about the licence text
- check the search on the test machine (slow on the white page?)
- move the settings dialog to the new layout
- 14:30 call with the printing team
EOF
  calculator_keys 1416 176 '#3c4043' '#f1f3f4'
  hands=()
  for h in 0 1 2 3 4 5 6 7 8 9 10 11; do
    a=$(echo "$h * 30" | bc)
    hands+=(-draw "line $(echo "1560 + 82 * s($a * 3.14159 / 180)" | bc -l | cut -d. -f1),$(echo "760 - 82 * c($a * 3.14159 / 180)" | bc -l | cut -d. -f1) $(echo "1560 + 94 * s($a * 3.14159 / 180)" | bc -l | cut -d. -f1),$(echo "760 - 94 * c($a * 3.14159 / 180)" | bc -l | cut -d. -f1)")
  done
  convert rose: -filter Mitchell -resize 300% -depth 8 "$work/rose3.png"
  convert -size 1920x1080 xc:black \
    -fill '#2d2d30' -draw 'rectangle 0,0 1299,27' \
    -font "$sans" -pointsize 13 -fill '#e0e0e0' -annotate +590+19 'notes.txt - Editor' \
    -fill '#f0f0f0' -draw 'rectangle 0,28 1299,51' \
    -fill '#1a1a1a' -annotate +10+45 'File     Edit     Search     View     Document     Help' \
    -fill white -draw 'rectangle 0,52 1299,1079' \
    -font DejaVu-Sans-Mono -pointsize 15 -fill '#202020' -interline-spacing 12 -annotate +8+74 "$(cat "$work/notes.txt")" \
    -fill '#202124' -draw 'roundrectangle 1400,80 1719,464 10,10' \
    -fill '#e8f0e0' -draw 'rectangle 1416,96 1703,159' \
    -font "$bold" -pointsize 30 -fill '#101010' -annotate +1556+140 '12,345.6' \
    -font "$bold" -pointsize 18 "${keys[@]}" \
    -fill white -stroke '#808080' -strokewidth 3 -draw 'circle 1560,760 1560,656' \
    -stroke black -strokewidth 3 "${hands[@]}" \
    -strokewidth 6 -draw 'line 1560,760 1600,712' -strokewidth 4 -draw 'line 1560,760 1490,790' \
    -stroke none -fill '#c00000' -draw 'circle 1560,760 1566,760' \
    "$work/rose3.png" -geometry +1660+920 -composite \
    -strip -define png:compression-level=9 "$out/editor.png"
fi

# ---- A many-coloured desktop: a photo-like wallpaper (plasma, finely
# textured, with a band of sky gradient across its top), a file list whose
# rows show the same icon, check box and size, a light calculator and a
# clock ----
if want mosaic; then
  convert -size 1920x1080 -seed 5 plasma:'#203a80'-'#f0a040' -blur 0x1.2 -depth 8 "$work/mosaic-plasma.png"
  convert -size 1920x240 gradient:'#1a3c8c'-'#7fb2e6' -depth 8 "$work/mosaic-sky.png"
  calculator_keys 216 716 '#dadce0' '#202124'
  rows=()
  for i in $(seq 0 24); do
    y=$((160 + i * 28))
    shade=$([ $((i % 2)) = 0 ] && echo '#ffffff' || echo '#f2f5fa')
    rows+=(-fill "$shade" -draw "rectangle 1100,$y 1799,$((y + 27))"
      -fill '#9aa0a6' -draw "rectangle 1110,$((y + 7)) 1123,$((y + 20))"
      -fill white -draw "rectangle 1111,$((y + 8)) 1122,$((y + 19))"
      -fill '#4285f4' -draw "rectangle 1136,$((y + 6)) 1151,$((y + 21))"
      -fill white -draw "rectangle 1139,$((y + 10)) 1148,$((y + 11))" -draw "rectangle 1139,$((y + 14)) 1148,$((y + 15))"
      -fill '#202124' -annotate "+1164+$((y + 19))" "$(printf 'Scan %03d.pdf' $((i * 7 % 25 + 1)))"
      -annotate "+1560+$((y + 19))" '24 KB' -annotate "+1660+$((y + 19))" 'PDF file')
  done
  convert "$work/mosaic-plasma.png" "$work/mosaic-sky.png" -geometry +0+0 -composite \
    -fill '#2d2d30' -draw 'rectangle 1100,100 1799,131' \
    -font "$sans" -pointsize 13 -fill '#e0e0e0' -annotate +1400+121 'Scans - Files' \
    -fill '#e8eaed' -draw 'rectangle 1100,132 1799,159' \
    -fill '#202124' -annotate +1164+151 'Name' -annotate +1560+151 'Size' -annotate +1660+151 'Type' \
    -font "$sans" -pointsize 13 "${rows[@]}" \
    -fill '#f1f3f4' -draw 'roundrectangle 200,620 519,1004 10,10' \
    -fill white -draw 'rectangle 216,636 503,699' \
    -font "$bold" -pointsize 30 -fill '#101010' -annotate +356+680 '12,345.6' \
    -font "$bold" -pointsize 18 "${keys[@]}" \
    -font "$bold" -pointsize 96 -fill white -annotate +700+420 '09:41' \
    -strip -define png:compression-level=9 "$out/mosaic.png"
fi

want dark || want document || want wallpaper || want icons || exit 0

start_virtual_display 1920x1080x24

# ---- A dark desktop: top panel, dock, desktop icons, terminals, calculator ----
app_icon "$work/a1.png" 44 '#3d8fd1' 'W'
app_icon "$work/a2.png" 44 '#e0633a' 'F'
app_icon "$work/a3.png" 44 '#4caf50' 'T'
app_icon "$work/a4.png" 44 '#9c27b0' 'M'
app_icon "$work/a5.png" 44 '#f4b400' 'N'
app_icon "$work/a6.png" 44 '#607d8b' 'S'
app_icon "$work/a7.png" 44 '#00acc1' 'C'
app_icon "$work/a8.png" 44 '#d81b60' 'P'
folder_icon "$work/folder48.png" 48
app_icon "$work/trash48.png" 48 '#78909c' 'X'
convert -size 1920x1080 xc:'#1b1d21' \
  -fill '#0e0f11' -draw 'rectangle 0,0 1919,27' \
  -font "$sans" -pointsize 13 -fill '#e6e6e6' -annotate +14+19 'Activities' \
  -font "$bold" -pointsize 13 -annotate +896+19 'Tue 14 May  09:41' \
  -font "$sans" -annotate +1760+19 'EN' \
  -fill none -stroke '#e6e6e6' -strokewidth 2 \
  -draw 'arc 1792,8 1808,24 200,340' -draw 'arc 1796,12 1804,20 200,340' \
  -draw 'rectangle 1860,9 1884,19' -stroke none -fill '#e6e6e6' -draw 'rectangle 1886,12 1888,16' \
  -draw 'rectangle 1862,11 1878,17' -draw 'polygon 1826,11 1830,11 1836,7 1836,21 1830,17 1826,17' \
  -fill '#2a2d33' -draw 'roundrectangle 712,1014 1207,1074 12,12' \
  -font "$sans" -pointsize 12 -fill '#f0f0f0' \
  "$work/folder48.png" -geometry +34+48 -composite -annotate +42+114 'Home' \
  "$work/folder48.png" -geometry +34+148 -composite -annotate +30+214 'Projects' \
  "$work/trash48.png" -geometry +34+248 -composite -annotate +42+314 'Trash' \
  "$work/a1.png" -geometry +726+1022 -composite "$work/a2.png" -geometry +786+1022 -composite \
  "$work/a3.png" -geometry +846+1022 -composite "$work/a4.png" -geometry +906+1022 -composite \
  "$work/a5.png" -geometry +966+1022 -composite "$work/a6.png" -geometry +1026+1022 -composite \
  "$work/a7.png" -geometry +1086+1022 -composite "$work/a8.png" -geometry +1146+1022 -composite \
  -fill '#e6e6e6' -draw 'circle 748,1071 750,1071' -draw 'circle 868,1071 870,1071' \
  "$work/dark-bg.png"
set_background "$work/dark-bg.png"
start_program xterm -bg '#101216' -fg '#c5c8c6' -fa "$mono" -fs 10 -geometry 84x30+140+60 \
  -title terminal -e sh -c "cat '$work/session.txt'; exec sleep 600"
start_program xcalc -bg '#2e3440' -fg '#d8dee9' -geometry +880+330
start_program xeyes -bg '#1b1d21' -geometry 150x100+300+660
start_program xterm -bg '#101216' -fg '#9fd99f' -fa "$mono" -fs 9 -geometry 84x14+1000+730 \
  -title top -e sh -c "cat '$work/top.txt'; exec sleep 600"
start_program xlogo -bg '#1b1d21' -fg '#8fa1b3' -geometry 96x96+1800+900
shoot "$out/dark.png"

# ---- A document page: a word processor, text on the upper part of a white page ----
# The page (x 110-1309 from y 140 on) is the only place with plain areas of
# 200x150 or more: the grey around it is narrower, the sidebar busier.
cat >"$work/p1.txt" <<'EOF'
This report summarises how the display automation scripts behaved during the last quarter. The scripts watch the screens of the test machines, press buttons when dialogs appear and record what they saw. Most of their time is spent waiting for a picture to show up somewhere on the screen, which makes the speed of that search the figure everyone asks about.
EOF
cat >"$work/p2.txt" <<'EOF'
Three kinds of pictures account for nearly all searches: small icons on toolbars and in lists, buttons with a border and a plain face, and pieces of text such as the title of a dialog. Icons are usually found within a few milliseconds because the screen rarely holds anything similar. Plain buttons are harder, because a plain face looks like every other plain area of the same size, and the search has to look at the border to tell them apart.
EOF
# para FILE FONT SIZE OUT: a paragraph set 960 pixels wide.
para() {
  convert -background white -fill '#1a1a1a' -font "$2" -pointsize "$3" -interline-spacing 6 \
    -size 960x "caption:$(cat "$1")" "$4"
}
para "$work/p1.txt" "$serif" 15 "$work/p1.png"
para "$work/p2.txt" "$serif" 15 "$work/p2.png"
printf '%s\n' '•  Icons: found in 2 ms on average, 14 ms at most.' \
  '•  Buttons with a border: 31 ms on average, 180 ms at most.' \
  '•  Dialog titles: 9 ms on average, 60 ms at most.' >"$work/list.txt"
para "$work/list.txt" "$serif" 15 "$work/list.png"
convert -background white -fill '#1a1a1a' -font DejaVu-Serif-Bold -pointsize 26 label:'Quarterly report: display automation' "$work/h1.png"
convert -background white -fill '#1a1a1a' -font DejaVu-Serif-Bold -pointsize 18 label:'Searches by kind' "$work/h2.png"
# The page's text column starts at x 230; heights follow from the paragraphs.
y=236
page_parts=()
place() {
  page_parts+=("$1" -geometry "+230+$y" -composite)
  y=$((y + $(identify -format %h "$1") + $2))
}
place "$work/h1.png" 22
place "$work/p1.png" 14
place "$work/h2.png" 12
place "$work/p2.png" 12
place "$work/list.png" 0
words=$(cat "$work"/p[12].txt "$work/list.txt" | wc -w)
toolbar=()
for i in 0 1 2 3 4 5 6 7 8 9 10 11; do
  x=$((12 + i * 34 + (i >= 4 ? 10 : 0) + (i >= 8 ? 10 : 0)))
  c=$(echo '#3d6fb6 #4a4a4a #4a4a4a #2e7d32 #4a4a4a #4a4a4a #c62828 #4a4a4a #4a4a4a #6a1b9a #4a4a4a #ef6c00' |
    cut -d' ' -f$((i + 1)))
  toolbar+=(-fill "$c" -draw "roundrectangle $((x + 4)),70 $((x + 23)),89 3,3"
    -fill white -draw "rectangle $((x + 8)),$((75 + i % 3)) $((x + 19)),$((77 + i % 3))"
    -draw "rectangle $((x + 8)),$((81 + i % 2)) $((x + 16 + i % 4)),$((83 + i % 2))")
done
side=()
sy=140
for section in Character Paragraph Page Columns Borders; do
  side+=(-fill '#1a1a1a' -font "$bold" -pointsize 13 -annotate "+1456+$sy" "$section"
    -fill '#c8c8c8' -draw "line 1456,$((sy + 8)) 1900,$((sy + 8))")
  sy=$((sy + 30))
  for row in 1 2 3 4; do
    side+=(-fill '#333333' -font "$sans" -pointsize 12 -annotate "+1456+$((sy + 4))" "$section $row:"
      -fill '#9a9a9a' -draw "rectangle 1580,$((sy - 12)) 1780,$((sy + 10))"
      -fill white -draw "rectangle 1581,$((sy - 11)) 1779,$((sy + 9))"
      -fill '#333333' -annotate "+1588+$((sy + 4))" "$((row * 7 + ${#section})) pt"
      -fill '#7a7a7a' -draw "rectangle 1800,$((sy - 7)) 1813,$((sy + 6))"
      -fill white -draw "rectangle 1801,$((sy - 6)) 1812,$((sy + 5))"
      -fill '#333333' -annotate "+1820+$((sy + 4))" 'Auto')
    sy=$((sy + 34))
  done
  sy=$((sy + 20))
done
convert -size 1920x1080 xc:'#d4d4d4' \
  -fill '#3b3b3b' -draw 'rectangle 0,0 1919,35' \
  -font "$sans" -pointsize 14 -fill '#f0f0f0' -annotate +812+23 'Quarterly report.odt - Writer' \
  -fill '#9a9a9a' -draw 'circle 1842,18 1848,18' -draw 'circle 1868,18 1874,18' \
  -fill '#e06c5a' -draw 'circle 1894,18 1900,18' \
  -fill '#f0f0f0' -draw 'rectangle 0,36 1919,61' \
  -fill '#1a1a1a' -pointsize 13 -annotate +12+54 'File     Edit     View     Insert     Format     Styles     Table     Form     Tools     Window     Help' \
  -fill '#f7f7f7' -draw 'rectangle 0,62 1919,101' "${toolbar[@]}" \
  -fill '#9a9a9a' -draw 'rectangle 460,67 679,93' -fill white -draw 'rectangle 461,68 678,92' \
  -fill '#1a1a1a' -annotate +468+85 'Default Paragraph Style' \
  -fill '#9a9a9a' -draw 'rectangle 690,67 849,93' -fill white -draw 'rectangle 691,68 848,92' \
  -fill '#1a1a1a' -annotate +698+85 'Liberation Serif' \
  -fill '#9a9a9a' -draw 'rectangle 1640,67 1819,93' -fill white -draw 'rectangle 1641,68 1818,92' \
  -fill '#f0f0f0' -draw 'rectangle 0,102 1919,119' -fill white -draw 'rectangle 110,104 1309,117' \
  -fill '#8a8a8a' -draw 'rectangle 110,104 229,117' -draw 'rectangle 1190,104 1309,117' \
  -fill '#1a1a1a' -pointsize 9 \
  -annotate +266+114 '1' -annotate +344+114 '2' -annotate +422+114 '3' -annotate +500+114 '4' \
  -annotate +578+114 '5' -annotate +656+114 '6' -annotate +734+114 '7' -annotate +812+114 '8' \
  -annotate +890+114 '9' -annotate +966+114 '10' -annotate +1044+114 '11' -annotate +1122+114 '12' \
  -fill '#b8b8b8' -draw 'rectangle 109,139 1310,1055' -fill white -draw 'rectangle 110,140 1309,1055' \
  "${page_parts[@]}" \
  -fill '#e6e6e6' -draw 'rectangle 1424,120 1439,1055' -fill '#b0b0b0' -draw 'roundrectangle 1426,124 1437,520 4,4' \
  -fill '#f2f2f2' -draw 'rectangle 1440,120 1919,1055' "${side[@]}" \
  -fill '#ececec' -draw 'rectangle 0,1056 1919,1079' \
  -fill '#333333' -font "$sans" -pointsize 12 \
  -annotate +12+1073 "Page 1 of 1     $words words     Default Page Style     English (UK)" \
  -annotate +1780+1073 '100%' \
  -strip -define png:compression-level=9 "$out/document.png"

# ---- A wallpaper desktop: a sunset-like gradient with cloud texture, a menu
# bar, a dock, desktop icons, a photo viewer, a terminal, a calculator and a
# notification ----
# The texture is a plasma fractal at a quarter of the size, blurred and
# enlarged, so that neighbouring pixels are close but seldom equal: a 64x64
# piece holds 300 to 550 colours.
convert -size 480x270 -seed 11 plasma:'#1d3b72'-'#e98a4a' -blur 0x1.5 -filter Mitchell -resize 1920x1080! \
  "$work/plasma.png"
convert -size 1920x1080 xc: -sparse-color Bilinear '0,0 #0a1550 1919,0 #1f6fb0 0,1079 #c0502a 1919,1079 #ffc070' \
  "$work/plasma.png" -compose blend -define compose:args=45 -composite -depth 8 "$work/wall.png"
app_icon "$work/b1.png" 52 '#3d8fd1' 'F'
app_icon "$work/b2.png" 52 '#e0633a' 'B'
app_icon "$work/b3.png" 52 '#4caf50' 'T'
app_icon "$work/b4.png" 52 '#9c27b0' 'M'
app_icon "$work/b5.png" 52 '#f4b400' 'N'
app_icon "$work/b6.png" 52 '#607d8b' 'S'
app_icon "$work/b7.png" 52 '#00acc1' 'C'
folder_icon "$work/folder56.png" 56
picture_icon "$work/picture56.png" 56
picture_icon "$work/picture48.png" 48
convert "$work/wall.png" \
  \( -size 1920x26 xc:'#ececf0' -channel A -evaluate set 85% +channel \) -geometry +0+0 -composite \
  -font "$bold" -pointsize 13 -fill '#1a1a1a' -annotate +40+18 'Files' \
  -font "$sans" -annotate +96+18 'File     Edit     View     Go     Window     Help' \
  -annotate +1736+18 'Tue 09:41' -fill '#1a1a1a' -draw 'circle 18,13 24,13' \
  -draw 'rectangle 1840,8 1862,18' -draw 'rectangle 1863,11 1865,15' \
  \( -size 452x66 xc:none -fill '#f4f4f8' -draw 'roundrectangle 0,0 451,65 14,14' \
  -channel A -evaluate multiply 0.45 +channel \) -geometry +734+1006 -composite \
  "$work/b1.png" -geometry +742+1013 -composite "$work/b2.png" -geometry +806+1013 -composite \
  "$work/b3.png" -geometry +870+1013 -composite "$work/b4.png" -geometry +934+1013 -composite \
  "$work/b5.png" -geometry +998+1013 -composite "$work/b6.png" -geometry +1062+1013 -composite \
  "$work/b7.png" -geometry +1126+1013 -composite \
  -fill '#f4f4f8' -draw 'circle 768,1069 770,1069' -draw 'circle 896,1069 898,1069' \
  -font "$sans" -pointsize 12 -fill white \
  "$work/folder56.png" -geometry +1836+48 -composite -annotate +1840+120 'Projects' \
  "$work/folder56.png" -geometry +1836+148 -composite -annotate +1836+220 'Downloads' \
  "$work/picture56.png" -geometry +1836+248 -composite -annotate +1832+320 'sunset.jpg' \
  "$work/picture56.png" -geometry +1836+348 -composite -annotate +1838+420 'rose.png' \
  \( -size 344x84 xc:none -fill '#26262b' -draw 'roundrectangle 0,0 343,83 12,12' \
  -channel A -evaluate multiply 0.92 +channel \) -geometry +1556+904 -composite \
  "$work/picture48.png" -geometry +1570+922 -composite \
  -font "$bold" -pointsize 13 -fill '#f4f4f8' -annotate +1632+936 'Screenshot saved' \
  -font "$sans" -pointsize 12 -fill '#c8c8d0' -annotate +1632+956 'sunset.png, 1920 x 1080, 2.1 MB' \
  -annotate +1632+974 'Click to open it in the viewer' \
  "$work/wallpaper-bg.png"
convert rose: -filter Mitchell -resize 600% -depth 8 "$work/rose.png"
set_background "$work/wallpaper-bg.png"
start_program display -geometry +1180+90 -title rose.png "$work/rose.png"
start_program xterm -bg '#fdfdfd' -fg '#202020' -fa "$mono" -fs 10 -geometry 76x22+90+520 \
  -title terminal -e sh -c "cat '$work/session.txt'; exec sleep 600"
start_program xcalc -geometry +846+345
start_program xeyes -geometry 130x90+300+110
shoot "$out/wallpaper.png"

# ---- A folder of identical icons: 122 pictures in a file manager ----
# The grid the benchmark counts on: first icon at (268, 118), 14 columns 112
# pixels apart, rows 104 pixels apart, 122 icons (the last row holds 10).
grid=()
for i in $(seq 0 121); do
  col=$((i % 14)) row=$((i / 14))
  x=$((268 + col * 112)) y=$((118 + row * 104))
  name=$(printf 'IMG_%04d.jpg' $((i + 1)))
  grid+=("$work/picture48.png" -geometry "+$x+$y" -composite -annotate "+$((x - 16))+$((y + 66))" "$name")
done
places=()
py=104
for place in Home Desktop Documents Downloads Music Pictures Videos Trash; do
  [ "$place" = Pictures ] && places+=(-fill '#d8e4f4' -draw "rectangle 0,$((py - 17)) 219,$((py + 8))")
  places+=(-fill '#5b5b5b' -draw "roundrectangle 16,$((py - 11)) 31,$((py + 2)) 3,3"
    -fill '#2b2b2b' -annotate "+44+$py" "$place")
  py=$((py + 34))
done
convert -size 1920x1080 xc:white \
  -fill '#2d2d2d' -draw 'rectangle 0,0 1919,35' \
  -font "$sans" -pointsize 14 -fill '#f0f0f0' -annotate +880+23 'Pictures - Files' \
  -fill '#9a9a9a' -draw 'circle 1842,18 1848,18' -draw 'circle 1868,18 1874,18' \
  -fill '#e06c5a' -draw 'circle 1894,18 1900,18' \
  -fill '#efefef' -draw 'rectangle 0,36 1919,79' \
  -fill '#d6d6d6' -draw 'roundrectangle 12,44 43,71 5,5' -draw 'roundrectangle 48,44 79,71 5,5' \
  -fill '#4a4a4a' -draw 'polygon 32,50 22,57 32,64' -draw 'polygon 59,50 69,57 59,64' \
  -fill '#d0d0d0' -draw 'rectangle 240,45 1500,70' -fill white -draw 'rectangle 241,46 1499,69' \
  -fill '#2b2b2b' -pointsize 13 -annotate +252+63 'Home   >   Pictures   >   Holiday 2023' \
  -fill '#f6f6f6' -draw 'rectangle 0,80 219,1079' -fill '#dcdcdc' -draw 'rectangle 220,80 220,1079' \
  "${places[@]}" \
  -font "$sans" -pointsize 12 -fill '#2b2b2b' "${grid[@]}" \
  -fill '#f6f6f6' -draw 'rectangle 221,1056 1919,1079' \
  -fill '#2b2b2b' -annotate +232+1072 '122 items, 31.4 MB' \
  -strip -define png:compression-level=9 "$out/icons.png"
