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
