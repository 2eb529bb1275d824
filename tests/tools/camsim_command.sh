#!/usr/bin/env bash
# kesto-camsim as a command: --help, its own argument errors (exit 2, or 1 for a recording it
# cannot read; the option parsing shared with the other tools is tested with kesto-streamgen),
# --seconds ending it, and SIGTERM and SIGINT ending it cleanly and promptly with a client
# connected to a stalled stream. Usage: camsim_command.sh PATH_TO_KESTO_CAMSIM
set -u
camsim=$1
failed=0
fail() { echo "FAILED: $*"; failed=1; }

"$camsim" --help | grep -q -- --stall-after || fail "--help lists --stall-after"
for args in "2 --side=15" "2 --port=70000" "1 --replay /nonexistent/recording.h264 --port 0"; do
  set -- $args
  want=$1; shift
  message=$("$camsim" "$@" 2>&1); code=$?
  [ "$code" -eq "$want" ] || fail "$* exits $code, not $want"
  case "$message" in *"kesto-camsim: "*) ;; *) fail "$* says: $message" ;; esac
done

start=$(date +%s%N)
first=$(timeout 5 "$camsim" --port 0 --seconds 1 --quiet | head -n 1)
took=$(( ($(date +%s%N) - start) / 1000000 ))
[[ "$first" =~ ^listening\ on\ 127\.0\.0\.1:[0-9]+$ ]] || fail "first line: $first"
[ "$took" -lt 2500 ] || fail "--seconds 1 took $took ms"

log=$(mktemp)
for signal in TERM INT; do
  "$camsim" --port 0 --stall-after 100 --side 64 > "$log" 2>&1 &
  pid=$!
  for _ in $(seq 50); do grep -q '^listening' "$log" && break; sleep 0.1; done
  port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$log")
  exec 3<>"/dev/tcp/127.0.0.1/$port" || fail "connect to $port"
  for _ in $(seq 50); do grep -q 'stalled after 100 bytes' "$log" && break; sleep 0.1; done
  grep -q 'stalled after 100 bytes' "$log" || fail "no stall: $(cat "$log")"
  kill -s "$signal" "$pid"
  timeout 2 tail --pid="$pid" -f /dev/null || fail "SIG$signal did not end it within 2 s"
  wait "$pid"; code=$?
  [ "$code" -eq 0 ] || fail "SIG$signal: exit $code"
  exec 3>&-
done
rm -f "$log"
exit $failed
