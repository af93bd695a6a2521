#!/usr/bin/env bash
# The real service against the simulated LiDAR, inside the sandbox: the LiDAR is found and set
# up, point and IMU datagrams reach the service (its published rates), and SIGTERM ends it with
# status 0 within a second.
#   app_shutdown_test.sh APP LIDAR_SIM CONFIG
set -u
app=$1 sim=$2 config=$3
fail() { echo "FAIL: $*" >&2; [ -n "${work:-}" ] && tail -n 20 "$work/app.out" "$work/sim.log" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

redis-server --port 6379 --bind 127.0.0.1 --save "" --appendonly no >"$work/redis.log" 2>&1 &
for _ in $(seq 50); do redis-cli -p 6379 ping >/dev/null 2>&1 && break; sleep 0.1; done
redis-cli -p 6379 ping >/dev/null 2>&1 || fail "redis-server did not start"

"$sim" --seconds 60 >"$work/sim.log" 2>&1 &
cd "$work"
"$app" "$config" >"$work/app.out" 2>&1 &
app_pid=$!

# Rates of the published LiDAR document, "pcl imu", once both are above zero.
rates() {
  local doc
  doc=$(redis-cli -p 6379 get ctx:dados_modulo_Lidar 2>/dev/null)
  local pcl imu
  pcl=$(printf '%s' "$doc" | grep -o '"pcl":[0-9][0-9.]*' | cut -d: -f2)
  imu=$(printf '%s' "$doc" | grep -o '"imu":[0-9][0-9.]*' | head -n 1 | cut -d: -f2)
  [ -n "$pcl" ] && [ -n "$imu" ] && printf '%s %s' "$pcl" "$imu"
}

got=""
for _ in $(seq 100); do
  kill -0 "$app_pid" 2>/dev/null || fail "the service ended by itself"
  r=$(rates || true)
  if [ -n "$r" ] && awk -v r="$r" 'BEGIN { split(r, v, " "); exit !(v[1] > 0 && v[2] > 0) }'; then
    got=$r
    break
  fi
  sleep 0.1
done
[ -n "$got" ] || fail "no point and IMU rates published within 10 s"
sleep 2
got=$(rates)
sim_rate=$(grep -o 'sent [0-9]* point datagrams ([0-9]*/s)' "$work/sim.log" | tail -n 1 |
           sed 's/.*(\([0-9]*\)\/s)/\1/')
echo "published rates (pcl imu): $got${sim_rate:+; simulator point datagrams/s: $sim_rate}"

start=$(date +%s%N)
kill -TERM "$app_pid"
wait "$app_pid"
status=$?
elapsed_ms=$(( ($(date +%s%N) - start) / 1000000 ))
echo "exit status $status after $elapsed_ms ms"
[ "$status" -eq 0 ] || fail "exit status $status"
[ "$elapsed_ms" -lt 1000 ] || fail "shutdown took $elapsed_ms ms"
echo "app shutdown checks passed"
