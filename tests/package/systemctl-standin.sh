#!/usr/bin/env bash
# A stand-in for systemctl, for the package test on a machine where systemd does not run: it
# does to the units what systemd would, with the units' own command lines, so that the
# package's maintainer scripts (deb-systemd-invoke, invoke-rc.d, service) act as on a systemd
# machine. The test mounts it over systemctl (apt runs maintainer scripts with a PATH of its own)
# and the real one at $SYSTEMCTL_STANDIN_REAL.
#  - enable, disable, mask, unmask, preset, is-enabled, list-unit-files: systemctl itself,
#    offline on the machine's unit files (--root=/)
#  - start, stop, restart, try-restart, reload, force-reload, is-active, status, show: run the
#    units: a service's ExecStartPre and ExecStart (in the background, as its User, with the
#    unit's Environment= and EnvironmentFile=, in an environment and a session of its own, away
#    from the terminal of whoever asked, as systemd's services are), ExecReload with
#    its $MAINPID, SIGTERM to stop it, waited for. A socket starts its service at once, with
#    the socket its unit describes made by spawn-fcgi as the service's standard input (systemd
#    would wait for the first connection). Nothing of a unit's sandbox is applied, and the
#    ExecStart of a service with a socket is taken word by word, a word ${NAME} replaced by the
#    words of the variable's value.
#  - daemon-reload, is-system-running: nothing to do
# Units are read from /lib/systemd/system; main pids and a log of what was done are kept in
# $SYSTEMCTL_STANDIN_STATE.
set -euo pipefail
state=${SYSTEMCTL_STANDIN_STATE:?the package test names the stand-in state folder}
real=${SYSTEMCTL_STANDIN_REAL:?the package test names the real systemctl}
readonly units=/lib/systemd/system stop_polls=100

log() { echo "systemctl: $*" >>"$state/log"; }

# The last value of KEY in UNIT's file, or nothing.
value() { # UNIT KEY
  [ -f "$units/$1" ] || return 0
  sed -n "s/^$2=//p" "$units/$1" | tail -n 1
}

# Gone, or a zombie no one collects (what the stand-in started belongs to the first process).
alive() { # PID
  local status
  status=$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f1) && [ -n "$status" ] && [ "$status" != Z ]
}
main_pid() { cat "$state/$1.pid" 2>/dev/null || true; }
active() { # UNIT
  local unit pid
  case $1 in *.target) return 0 ;; esac
  unit=$(service_of "$1")
  pid=$(main_pid "$unit")
  [ -n "$pid" ] && alive "$pid"
}

# The service's environment as systemd makes it: its own, not the caller's.
service_environment() { # UNIT: NAME=VALUE lines
  local file line
  echo "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"
  sed -n 's/^Environment=//p' "$units/$1"
  while IFS= read -r file; do
    file=${file#-}
    [ -r "$file" ] || continue
    while IFS= read -r line; do
      [[ "$line" =~ ^[A-Za-z_][A-Za-z0-9_]*= ]] && echo "$line"
    done <"$file"
  done < <(sed -n 's/^EnvironmentFile=//p' "$units/$1")
}

# The words of a command line, each ${NAME} or $NAME among them replaced by the words of that
# variable of the environment given.
expand_words() { # COMMAND NAME=VALUE...
  local command=$1 word name entry value
  shift
  for word in $command; do
    if [[ "$word" =~ ^\$\{?([A-Za-z_][A-Za-z0-9_]*)\}?$ ]]; then
      name=${BASH_REMATCH[1]} value=""
      for entry in "$@"; do [ "${entry%%=*}" != "$name" ] || value=${entry#*=}; done
      [ -z "$value" ] || echo "$value"
    else
      echo "$word"
    fi
  done
}

start_service() { # UNIT
  local unit=$1 socket=${1%.service}.socket command user group environment=() line pid
  active "$unit" && return 0
  [ -f "$units/$unit" ] || { echo "systemctl: Unit $unit not found." >&2; return 5; }
  while IFS= read -r line; do environment+=("$line"); done < <(service_environment "$unit")
  while IFS= read -r command; do
    env -i "${environment[@]}" sh -c "$command" >>"$state/$unit.log" 2>&1 || { log "$unit: ExecStartPre failed"; return 1; }
  done < <(sed -n 's/^ExecStartPre=//p' "$units/$unit")
  command=$(value "$unit" ExecStart) user=$(value "$unit" User) group=$(value "$unit" Group)
  local as_user=()
  [ -z "$user" ] || as_user=(-u "$user" -g "${group:-$user}")
  if [ -f "$units/$socket" ]; then
    local path line=()
    path=$(value "$socket" ListenStream)
    mkdir -p "$(dirname "$path")"
    rm -f "$path"
    # As the README has it for a machine without systemd.
    line=(spawn-fcgi -n -s "$path" -M "$(value "$socket" SocketMode)" -U "$(value "$socket" SocketUser)"
          -G "$(value "$socket" SocketGroup)" "${as_user[@]}" -- $(expand_words "$command" "${environment[@]}"))
    setsid env -i "${environment[@]}" "${line[@]}" </dev/null >>"$state/$unit.log" 2>&1 &
    pid=$!
    # systemd's socket listens before start returns.
    local poll
    for ((poll = 0; poll < stop_polls; poll++)); do
      [ ! -S "$path" ] || break
      sleep 0.1
    done
    log "start $unit: ${line[*]} (pid $pid)"
  else
    if [ -n "$user" ]; then
      setsid env -i "${environment[@]}" runuser -u "$user" -- /bin/sh -c "exec $command" </dev/null \
        >>"$state/$unit.log" 2>&1 &
    else
      setsid env -i "${environment[@]}" /bin/sh -c "exec $command" </dev/null >>"$state/$unit.log" 2>&1 &
    fi
    pid=$!
    log "start $unit: $command (pid $pid)"
  fi
  echo "$pid" >"$state/$unit.pid"
}

stop_service() { # UNIT
  local unit=$1 pid poll
  pid=$(main_pid "$unit")
  rm -f "$state/$unit.pid"
  [ -n "$pid" ] && alive "$pid" || return 0
  kill -TERM "$pid"
  for ((poll = 0; poll < stop_polls; poll++)); do
    alive "$pid" || { log "stop $unit: pid $pid ended on SIGTERM"; return 0; }
    sleep 0.1
  done
  kill -KILL "$pid"
  log "stop $unit: pid $pid did not end on SIGTERM within 10 s: killed"
  return 1
}

reload_service() { # UNIT
  local unit=$1 pid command
  pid=$(main_pid "$unit")
  [ -n "$pid" ] && alive "$pid" || { echo "systemctl: $unit is not active, cannot reload." >&2; return 7; }
  while IFS= read -r command; do
    env MAINPID="$pid" sh -c "${command//\$MAINPID/$pid}" || return 1
  done < <(sed -n 's/^ExecReload=//p' "$units/$unit")
  log "reload $unit: pid $pid"
}

# The service a unit names: a socket's is the service of its name.
service_of() { # UNIT
  case $1 in *.socket) echo "${1%.socket}.service" ;; *) echo "$1" ;; esac
}

act() { # VERB UNIT
  local verb=$1 unit=$2
  [[ "$unit" == *.* ]] || unit=$unit.service
  case $verb in
    start) start_service "$(service_of "$unit")" ;;
    stop)
      stop_service "$(service_of "$unit")"
      [[ "$unit" != *.socket ]] || rm -f "$(value "$unit" ListenStream)" ;;
    restart) act stop "$unit" && act start "$unit" ;;
    try-restart) ! active "$unit" || act restart "$unit" ;;
    reload) reload_service "$unit" ;;
    force-reload | reload-or-restart)
      if [ -n "$(value "$unit" ExecReload)" ]; then reload_service "$unit"; else act restart "$unit"; fi ;;
    *) echo "systemctl: the stand-in does not $verb" >&2; return 1 ;;
  esac
}

show() { # PROPERTY UNIT: PROPERTY=VALUE as systemctl prints it
  local property=$1 unit=$2
  case $property in
    LoadState) [ "$("$real" --root=/ is-enabled "$unit" 2>/dev/null)" = masked ] && echo "$property=masked" ||
                 echo "$property=loaded" ;;
    CanReload) [ -n "$(value "$unit" ExecReload)" ] && echo "$property=yes" || echo "$property=no" ;;
    Triggers) [[ "$unit" != *.socket ]] && echo "$property=" || echo "$property=${unit%.socket}.service" ;;
    *) echo "$property=" ;;
  esac
}

options=() verb="" targets=() property="" quiet=no value_only=no
while [ $# -gt 0 ]; do
  case $1 in
    -p | --property) property=$2; shift ;;
    --property=*) property=${1#--property=} ;;
    --quiet | -q) quiet=yes ;;
    --value) value_only=yes ;;
    --) ;;
    -*) options+=("$1") ;;
    *) if [ -z "$verb" ]; then verb=$1; else targets+=("$1"); fi ;;
  esac
  shift
done

case $verb in
  daemon-reload | is-system-running) exit 0 ;;
  enable | disable | mask | unmask | preset | is-enabled | reenable | list-unit-files)
    filtered=()
    for option in "${options[@]}"; do [ "$option" = --system ] || filtered+=("$option"); done
    [ "$quiet" = no ] || filtered+=(--quiet)
    exec "$real" --root=/ "${filtered[@]}" "$verb" "${targets[@]}" ;;
  is-active | status)
    for unit in "${targets[@]}"; do
      if active "$unit"; then [ "$quiet" = yes ] || echo active; else [ "$quiet" = yes ] || echo inactive; exit 3; fi
    done ;;
  show)
    line=$(show "$property" "${targets[0]}")
    [ "$value_only" = no ] && echo "$line" || echo "${line#*=}" ;;
  *)
    # A socket and its service asked together are one job, as systemd makes them.
    done_services=" "
    for unit in "${targets[@]}"; do
      [[ "$unit" == *.* ]] || unit=$unit.service
      [[ "$done_services" != *" $(service_of "$unit") "* ]] || continue
      done_services+="$(service_of "$unit") "
      act "$verb" "$unit"
    done ;;
esac
