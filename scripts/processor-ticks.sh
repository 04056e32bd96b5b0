# Sourced by the measurement scripts: processor time of processes and of the whole machine, in
# clock ticks (getconf CLK_TCK a second).

# All of the machine's ticks, and those the hypervisor took for others (steal). A virtual
# machine's results are only as steady as its share of the host.
machine_ticks() {
  awk '$1 == "cpu" { total = 0; for (i = 2; i <= NF; i++) total += $i; print total, $9 }' /proc/stat
}

# These processes and their children, the children's waited-for time included (fields 14-17).
ticks() { # PID...
  local pid total=0 t
  for pid in "$@" $(for p in "$@"; do pgrep -P "$p" || true; done); do
    t=$(awk '{ print $14 + $15 + $16 + $17 }' "/proc/$pid/stat" 2>/dev/null || echo 0)
    total=$((total + t))
  done
  echo "$total"
}
