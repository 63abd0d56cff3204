# Sourced by the benchmark scripts: start_xvfb SIZE starts an Xvfb of SIZE
# (e.g. 1920x1080) on the first free display, waits for its socket, exports
# DISPLAY and adds its pid to the caller's `pids` array.
start_xvfb() {
  local size=$1 display="" n
  for n in $(seq 80 120); do
    if [[ ! -e /tmp/.X11-unix/X$n && ! -e /tmp/.X$n-lock ]]; then display=":$n"; break; fi
  done
  [[ -n "$display" ]] || { echo "$(basename "$0"): no free X display" >&2; exit 1; }
  Xvfb "$display" -screen 0 "${size}x24" -nolisten tcp -noreset +extension RANDR >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do [[ -e /tmp/.X11-unix/X${display#:} ]] && break; sleep 0.05; done
  export DISPLAY=$display
}

# start_text_desktop SIZE: an Xvfb of SIZE with openbox and four terminals
# full of coloured text, one per quarter of the screen (a screenshot of flat
# colour would flatter PNG). Adds every pid to `pids`.
start_text_desktop() {
  local size=$1 width=${1%x*} height=${1#*x} i
  start_xvfb "$size"
  xsetroot -solid '#5b7fa3'
  openbox >/dev/null 2>&1 &
  pids+=($!)
  local columns=$((width / 2 / 8)) rows=$((height / 2 / 17))
  local commands=(
    "ls --color=always -lR /usr/lib 2>/dev/null | head -n 3000"
    "cat /usr/include/x86_64-linux-gnu/qt6/QtWidgets/qwidget.h"
    "grep --color=always -rn 'int' /usr/include/xcb | head -n 3000"
    "cat /usr/share/common-licenses/GPL-3"
  )
  local corners=("+0+0" "-0+0" "+0-0" "-0-0")
  for i in 0 1 2 3; do
    xterm -fa "DejaVu Sans Mono" -fs 9 -geometry "${columns}x${rows}${corners[$i]}" \
      -e sh -c "${commands[$i]}; sleep 3600" &
    pids+=($!)
  done
  sleep 2
}
