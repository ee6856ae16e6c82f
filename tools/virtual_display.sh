# Sourced by the scripts that show things to Wine programs.
# start_virtual_display WxHxD [FIRST LAST]: starts Xvfb on the first free
# display number in FIRST..LAST (default 40..90), waits until it accepts
# connections, exports DISPLAY and sets virtual_display_pid.
start_virtual_display() {
  local size=$1 first=${2:-40} last=${3:-90} n
  for n in $(seq "$first" "$last"); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
  done
  Xvfb ":$n" -screen 0 "$size" -nolisten tcp >/dev/null 2>&1 &
  virtual_display_pid=$!
  export DISPLAY=":$n"
  for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
}

# start_monitor_display [FIRST LAST]: starts Xorg with the dummy video driver
# on the first free display number in FIRST..LAST (default 121..160) and lays
# out two monitors the way a desk often has them: the primary, 1024 x 768 at
# (0, 0), and a second one, 800 x 600, to its left at (-800, 0), so the
# virtual screen is 1824 x 768 with a strip below the second monitor that no
# monitor covers. Xvfb cannot show Wine more than one monitor; Wine reads the
# layout when its server starts, so a program must use a fresh Wine server
# (a prefix of its own) after this. Exports DISPLAY and sets monitor_display_pid;
# answers non-zero when the server or the layout could not be set up. Wine
# may still take a second or so to see the second monitor: a program polls.
start_monitor_display() {
  local first=${1:-121} last=${2:-160} n dir
  for n in $(seq "$first" "$last"); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
  done
  dir=$(mktemp -d /tmp/zadized-monitors.XXXXXX)
  cat >"$dir/xorg.conf" <<'CONF'
Section "Device"
  Identifier "dummy"
  Driver "dummy"
  VideoRam 64000
EndSection
Section "Monitor"
  Identifier "monitor"
  HorizSync 5.0-1000.0
  VertRefresh 5.0-200.0
EndSection
Section "Screen"
  Identifier "screen"
  Device "dummy"
  Monitor "monitor"
  DefaultDepth 24
  SubSection "Display"
    Depth 24
    Virtual 2048 1024
  EndSubSection
EndSection
CONF
  Xorg ":$n" -noreset -nolisten tcp -config "$dir/xorg.conf" -logfile "$dir/xorg.log" >/dev/null 2>&1 &
  monitor_display_pid=$!
  export DISPLAY=":$n"
  for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  xrandr --output DUMMY0 --mode 1024x768 --primary &&
    xrandr --addmode DUMMY1 800x600 &&
    xrandr --output DUMMY1 --mode 800x600 --left-of DUMMY0 &&
    # A full query makes the server probe its outputs again; without it Wine,
    # which asks for the current resources only, may still see one monitor.
    xrandr >/dev/null
}
