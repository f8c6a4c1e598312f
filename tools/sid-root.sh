#!/usr/bin/env bash
# sid-root.sh ensure | run COMMAND... | status
#
# The Debian sid root in which Wine 10 runs the 32-bit suites (its WoW64 mode runs i686 programs
# inside a 64-bit process; bookworm cannot install it). One root per machine, shared by every
# checkout: ${TAVRO_SID_ROOT:-/var/cache/tavro/sid-root}.
#   ensure  makes the root once (debootstrap, then the packages below) and adds packages later
#           lists name; serialised with flock, so concurrent callers wait and then reuse it.
#   run     runs COMMAND inside the root, in the caller's working folder, with /proc, /dev, /sys,
#           /tmp (the X socket), the checkout and TAVRO_SID_BINDS (colon-separated folders) bound at
#           their own paths. The mounts live in a private mount namespace: they never show in the
#           host's mount table and vanish with the last process of the run.
#   status  prints whether the root is ready.
# No sid package ever touches the host.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
checkout="$(cd "$here/.." && pwd)"
sid_root="${TAVRO_SID_ROOT:-/var/cache/tavro/sid-root}"
partial="$sid_root.partial"
lock="$sid_root.lock"
ready_stamp="$sid_root/.tavro-ready"

# What the 32-bit suites use inside: Wine 10 (wine64 carries the i386-windows DLLs and wow64) and
# the GStreamer plug-ins Wine's media platform decodes with. The display is the host's Xvfb.
packages=(wine64 wine gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-libav)

die() { echo "sid-root: $*" >&2; exit 1; }

# chroot and mount namespaces need root: a user with sudo runs this script through it, as
# install-deps.sh does, with the environment kept (the Wine session's variables); what runs in
# the root then runs as that user again, so the prefix and the suites' files stay theirs.
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null 2>&1 || die "needs root, or sudo (chroot and mount namespaces)"
  exec sudo --preserve-env "$0" "$@"
fi

# The machine's own Debian mirror: the first URI of its apt sources that is not the security one.
mirror() {
  local uri
  uri=$(grep -hE '^URIs:' /etc/apt/sources.list.d/*.sources 2>/dev/null | awk '{print $2}' | grep -v security | head -n 1 || true)
  [ -n "$uri" ] || uri=$(grep -hE '^deb ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null \
                         | awk '{ for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { print $i; exit } }' \
                         | grep -v security | head -n 1 || true)
  [ -n "$uri" ] || die "no Debian mirror in /etc/apt/sources.list*"
  echo "$uri"
}

# Anything mounted at or below $1, in this namespace or any process's (a run or a killed
# debootstrap), or any process whose root lies inside it.
in_use() {
  local dir="$1" f
  for f in /proc/[0-9]*/mountinfo; do
    awk -v d="$dir" '$5 == d || index($5, d "/") == 1 { found = 1 } END { exit !found }' "$f" 2>/dev/null && return 0
  done
  for f in /proc/[0-9]*/root; do
    case "$(readlink "$f" 2>/dev/null)/" in "$dir"/*) return 0 ;; esac
  done
  return 1
}

# Removes a root that is no longer wanted; never while anything is bound inside it.
remove_tree() {
  local dir="$1"
  [ -e "$dir" ] || return 0
  if in_use "$dir"; then
    die "$dir is in use (something is mounted inside it or runs in it); not removing it"
  fi
  rm -rf --one-file-system "$dir"
}

# Runs COMMAND chrooted in $1 with the kernel file systems bound, in a private mount namespace.
in_namespace() {
  local dir="$1"; shift
  unshare --mount --propagation private -- "$here/sid-root.sh" _chroot "$dir" "$@"
}

apt_in_root() {
  in_namespace "$1" env DEBIAN_FRONTEND=noninteractive apt-get -q \
    -o Acquire::Check-Valid-Until=false -o Dpkg::Use-Pty=0 "${@:2}"
}

install_packages() {
  local dir="$1" log="$sid_root.install.log"
  { apt_in_root "$dir" update &&
    apt_in_root "$dir" install -y --no-install-recommends "${packages[@]}" &&
    apt_in_root "$dir" clean; } >"$log" 2>&1 || { tail -n 20 "$log" >&2; die "installing into $dir failed (log: $log)"; }
  rm -f "$log"
}

ensure() {
  case "$sid_root/" in
    /tmp/*|"$checkout"/*) die "$sid_root must lie outside /tmp and the checkout (they are bound inside it)" ;;
  esac
  mkdir -p "$(dirname "$sid_root")"
  exec 9>"$lock"
  flock 9
  local wanted="${packages[*]}"
  if [ -f "$ready_stamp" ] && [ "$(cat "$ready_stamp")" = "$wanted" ]; then
    return 0
  fi
  local started=$SECONDS
  if [ -d "$sid_root" ] && [ -x "$sid_root/usr/bin/apt-get" ]; then
    # A complete root that a later list asks more of: add the packages in place.
    echo "sid-root: adding packages to $sid_root"
    in_namespace "$sid_root" dpkg --configure -a >/dev/null 2>&1 || true
    install_packages "$sid_root"
  else
    # Built aside and moved into place when complete, so a killed run leaves only the partial one.
    remove_tree "$sid_root"
    remove_tree "$partial"
    local from
    from="$(mirror)"
    echo "sid-root: making $sid_root from $from"
    unshare --mount --propagation private -- debootstrap --variant=minbase sid "$partial" "$from" \
      >"$partial.log" 2>&1 || { tail -n 20 "$partial.log" >&2; die "debootstrap failed (log: $partial.log)"; }
    install_packages "$partial"
    mv "$partial" "$sid_root"
    rm -f "$partial.log"
  fi
  echo "$wanted" >"$ready_stamp"
  echo "sid-root: ready in $((SECONDS - started)) s"
}

# Inside the private namespace: bind, then chroot keeping the working folder.
enter() {
  local dir="$1"; shift
  mount --rbind /proc "$dir/proc"
  mount --rbind /dev "$dir/dev"
  mount --rbind /sys "$dir/sys"
  local binds=(/tmp "$checkout") bound=() b p skip
  IFS=: read -r -a extra <<<"${TAVRO_SID_BINDS:-}"
  binds+=("${extra[@]}")
  for b in "${binds[@]}"; do
    [ -n "$b" ] && [ -d "$b" ] || continue
    b="$(cd "$b" && pwd -P)"
    [ "$b" != / ] || continue
    case "$dir/" in "$b"/*) die "$dir lies inside $b, which is bound into it" ;; esac
    skip=0
    for p in "${bound[@]}"; do case "$b/" in "$p"/*) skip=1 ;; esac; done
    [ $skip -eq 1 ] && continue
    mkdir -p "$dir$b"
    mount --rbind "$b" "$dir$b"
    bound+=("$b")
  done
  local as_user=()
  if [ -n "${SUDO_UID:-}" ] && [ "$SUDO_UID" != 0 ]; then as_user=(--userspec="$SUDO_UID:${SUDO_GID:-$SUDO_UID}"); fi
  exec chroot "${as_user[@]}" "$dir" /bin/sh -c 'cd "$1" 2>/dev/null || cd /; shift; exec "$@"' sh "$PWD" "$@"
}

case "${1:-}" in
  ensure) ensure ;;
  status) if [ -f "$ready_stamp" ]; then echo "ready: $sid_root"; else echo "not made: $sid_root"; exit 1; fi ;;
  run)
    shift
    [ $# -gt 0 ] || die "run needs a command"
    [ -f "$ready_stamp" ] || die "$sid_root is not made yet: run $0 ensure"
    exec unshare --mount --propagation private -- "$here/sid-root.sh" _enter "$@"
    ;;
  _enter) shift; enter "$sid_root" "$@" ;;
  _chroot)
    # Package work inside a root that is not ready yet: only the kernel file systems.
    shift; dir="$1"; shift
    mount --rbind /proc "$dir/proc"
    mount --rbind /dev "$dir/dev"
    mount --rbind /sys "$dir/sys"
    exec chroot "$dir" "$@"
    ;;
  *) echo "usage: $0 ensure | run COMMAND... | status" >&2; exit 2 ;;
esac
