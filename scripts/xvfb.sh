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
