#!/usr/bin/env bash
# The demo: builds Tessarino against a selector on this machine, starts that selector
# (HTTPS on 127.0.0.1, answering every login with the local RDP server), an RDP server
# with NLA and one demo account, and Tessarino itself. Type the printed credentials,
# press "  Connetti", and a real remote desktop opens. Ctrl-C stops everything.
# Usage (from the repository root, as root on a fresh Debian 12): bash scripts/demo.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

selector_port=${TESSARINO_DEMO_SELECTOR_PORT:-39444}
rdp_port=${TESSARINO_DEMO_RDP_PORT:-33899}
domain=DEMO
user=demo
password=Tessarino-demo1

build=$root/build/demo
state=$build/state

bash scripts/install-deps.sh

for port in "$selector_port" "$rdp_port"; do
  if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
    echo "demo: port $port on 127.0.0.1 is taken; set TESSARINO_DEMO_SELECTOR_PORT or TESSARINO_DEMO_RDP_PORT" >&2
    exit 1
  fi
done

# The demo variant: the loopback selector and the CA made here, no tests.
bash tests/support/make-test-pki.sh "$build/pki" >/dev/null
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTESSARINO_BUILD_TESTS=OFF \
  -DTESSARINO_SELECTOR_HOST="127.0.0.1:$selector_port" \
  -DTESSARINO_CA_BUNDLE="$build/pki/ca.pem" >/dev/null
cmake --build "$build" --target tessarino

rm -rf "$state"
mkdir -p "$state/control" "$state/home/.run"
chmod 700 "$state" "$state/home" "$state/home/.run"

pids=()
cleanup() {
  trap - EXIT INT TERM
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  pkill -f -- "/v:127.0.0.1:$rdp_port" 2>/dev/null || true
  wait 2>/dev/null || true
  echo "demo: stopped."
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Starts an Xvfb on a free display; its name goes into the variable named by $2.
start_xvfb() {
  local file=$state/display.$1
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$file" >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do [ -s "$file" ] && break; sleep 0.1; done
  printf -v "$2" ':%s' "$(cat "$file")"
}

# The remote desktop: a display of its own, showing one picture full screen (the
# shadow server does not send the root window's background).
start_xvfb desktop desktop
convert -size 1280x800 xc:'#1f5f8b' -gravity center -fill white -pointsize 42 \
  -annotate 0 'Tessarino: desktop remoto di prova' "$state/desktop.png" 2>/dev/null \
  || convert -size 1280x800 xc:'#1f5f8b' "$state/desktop.png"
DISPLAY=$desktop display -geometry 1280x800+0+0 "$state/desktop.png" &
pids+=($!)

(umask 077 && winpr-hash -u "$user" -p "$password" -d "$domain" -f sam >"$state/sam")
DISPLAY=$desktop freerdp-shadow-cli /bind-address:127.0.0.1 /port:"$rdp_port" +auth \
  /sec:nla /sam-file:"$state/sam" >"$state/rdp-server.log" 2>&1 &
pids+=($!)

# The selector answers every login with the local RDP server.
answer=$(printf '{"TerminalServerDetails": {"host": "127.0.0.1", "port": %s}}' "$rdp_port" | base64 -w0)
printf '{"default": {"body": "%s", "status": 200, "mode": "normal", "piece": 0}}\n' "$answer" \
  >"$state/control/answers.json"
/usr/bin/python3 tests/support/selectorserver.py --cert "$build/pki/server.pem" \
  --key "$build/pki/server-key.pem" --control "$state/control" --port "$selector_port" \
  >"$state/selector.log" 2>&1 &
pids+=($!)

for port in "$selector_port" "$rdp_port"; do
  for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done
done

# Tessarino's own display: the current one, or a new Xvfb with a tray host.
if [ -n "${DISPLAY:-}" ]; then
  export XAUTHORITY=${XAUTHORITY:-$HOME/.Xauthority}
  screen=$DISPLAY
else
  start_xvfb tessarino screen
  DISPLAY=$screen trayer --edge bottom --align right --widthtype request --height 32 \
    --transparent false >/dev/null 2>&1 &
  pids+=($!)
  echo
  echo "demo: there is no display (DISPLAY is not set), so Tessarino runs on a new"
  echo "      virtual display $screen that you cannot see. Run the demo from a desktop"
  echo "      session to use it, or look at it with: DISPLAY=$screen import -window root shot.png"
fi

cat <<MSG

  Tessarino demo
  --------------
  selector:    https://127.0.0.1:$selector_port/outsourcing/selector
  RDP server:  127.0.0.1:$rdp_port (NLA)

  Dominio:     $domain
  Utente:      $user
  Password:    $password

  Type these in the window "Orvane" and press "  Connetti". Ctrl-C stops everything.

MSG

# The demo keeps its files (store, connection file, client's known hosts) in its own
# folder, not in your home.
HOME=$state/home XDG_DATA_HOME=$state/home/.local/share XDG_CONFIG_HOME=$state/home/.config \
  XDG_RUNTIME_DIR=$state/home/.run DISPLAY=$screen "$build/bin/tessarino" &
pids+=($!)
wait "${pids[-1]}" || true
