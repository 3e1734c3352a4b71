# The private headless desktop session: Xvfb, openbox, trayer, a D-Bus
# session bus and an unlocked gnome-keyring, in a throw-away home.
# Sourced, not run. session_start, then run commands, then session_stop
# (also run from the EXIT trap, so every exit path kills what we started).

session_pids=()
session_home=""

session_stop() {
  local pid
  for ((i=${#session_pids[@]}-1; i>=0; i--)); do
    pid=${session_pids[$i]}
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${session_pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  done
  session_pids=()
  if [ -n "$session_home" ]; then rm -rf "$session_home"; session_home=""; fi
}

session_start() {
  trap session_stop EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM

  session_home=$(mktemp -d /tmp/wugg-session.XXXXXX)
  export HOME="$session_home"
  export XDG_CONFIG_HOME="$session_home/.config" XDG_DATA_HOME="$session_home/.local/share"
  export XDG_CACHE_HOME="$session_home/.cache" XDG_RUNTIME_DIR="$session_home/runtime"
  mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"
  unset WAYLAND_DISPLAY

  # A display number nobody uses.
  local n
  for n in $(seq 90 190); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || break
  done
  Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >"$session_home/xvfb.log" 2>&1 &
  session_pids+=($!)
  export DISPLAY=":$n"
  for _ in $(seq 100); do
    xdpyinfo >/dev/null 2>&1 && break
    kill -0 "${session_pids[0]}" 2>/dev/null || { cat "$session_home/xvfb.log" >&2; return 1; }
    sleep 0.1
  done
  xdpyinfo >/dev/null 2>&1 || { echo "Xvfb did not come up on $DISPLAY" >&2; return 1; }

  # A session bus of our own; its address goes into the environment.
  local bus
  bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1 --nopidfile)
  export DBUS_SESSION_BUS_ADDRESS=$(echo "$bus" | sed -n 1p)
  session_pids+=($(echo "$bus" | sed -n 2p))

  openbox >"$session_home/openbox.log" 2>&1 &
  session_pids+=($!)
  trayer --edge top --align right --height 24 --widthtype request >"$session_home/trayer.log" 2>&1 &
  session_pids+=($!)

  # An unlocked login keyring (password "test") serving the Secret Service.
  gnome-keyring-daemon --foreground --unlock --components=secrets \
    < <(printf %s test) >"$session_home/keyring.log" 2>&1 &
  session_pids+=($!)
  for _ in $(seq 50); do
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
      org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null | grep -q 'boolean true' && break
    sleep 0.1
  done
}
