# Sourced by the scripts that build libraries from Debian's source packages.
#
# run_logged LOG WHAT COMMAND...
# Runs one build step with its output appended to LOG; on failure shows the
# end of LOG and ends the script.
run_logged() {
  local log=$1 what=$2
  shift 2
  echo "building $what"
  if ! "$@" >>"$log" 2>&1; then
    tail -40 "$log"
    echo "building $what failed; the whole log is $log" >&2
    exit 1
  fi
}
#
# unpack_debian_sources NAME WORKDIR LOG PACKAGE...
# Downloads the source packages into WORKDIR and unpacks them there, through a
# deb-src entry of its own (/etc/apt/sources.list.d/NAME.sources) that is
# removed again whatever happens. The packages' output goes to LOG.

unpack_debian_sources() {
  local name=$1 work=$2 log=$3
  shift 3
  local sudo_cmd=()
  if [ "$(id -u)" != 0 ]; then sudo_cmd=(sudo); fi
  local apt_opts=(-o DPkg::Lock::Timeout=600 -o Acquire::Retries=3)
  local src_list=/etc/apt/sources.list.d/$name.sources

  # Removed on the way out too, should the script be stopped meanwhile.
  trap "${sudo_cmd[*]} rm -f $src_list" EXIT
  printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: bookworm\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' |
    "${sudo_cmd[@]}" tee "$src_list" >/dev/null
  local status=0
  { "${sudo_cmd[@]}" apt-get "${apt_opts[@]}" update -q >/dev/null &&
    (cd "$work" && apt-get source --download-only "$@" >>"$log" 2>&1); } || status=$?
  "${sudo_cmd[@]}" rm -f "$src_list"
  trap - EXIT
  "${sudo_cmd[@]}" apt-get "${apt_opts[@]}" update -q >/dev/null || true
  [ "$status" = 0 ] || return "$status"

  local dsc
  for dsc in "$work"/*.dsc; do
    (cd "$work" && dpkg-source --no-check -x "$dsc" >>"$log" 2>&1)
  done
}
