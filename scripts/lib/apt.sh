# Sourced by the scripts that install packages. apt-get calls that get
# through a bad day at the Debian mirror: an index of the wrong size while the
# mirror syncs, or amd64 and i386 versions of a package out of step because
# one architecture's index of a suite did not download.
#
# APT_OPTIONS (an array, may be empty) is passed to every apt-get call, so a
# private configuration can be used; the machine's own is never edited.

apt_sudo=()
[ "$(id -u)" -eq 0 ] || apt_sudo=(sudo)
APT_OPTIONS=("${APT_OPTIONS[@]+"${APT_OPTIONS[@]}"}")
APT_UPDATE_TRIES=${APT_UPDATE_TRIES:-3}

# Retries `apt-get update`; when an index still fails, goes on with the lists
# that did download (apt keeps the old copy of a failed index, or none).
apt_update() {
  local try
  for ((try = 1; try <= APT_UPDATE_TRIES; try++)); do
    if "${apt_sudo[@]}" apt-get "${APT_OPTIONS[@]}" update -qq; then return 0; fi
    echo "apt: apt-get update failed (try $try of $APT_UPDATE_TRIES)" >&2
    ((try < APT_UPDATE_TRIES)) && sleep $((try * ${APT_RETRY_PAUSE:-5}))
  done
  echo "apt: going on without the indexes that failed to download" >&2
}

# The release's own suite (bookworm), whose amd64 and i386 indexes always come
# from one Release file and so always pair.
apt_release_suite() {
  (. /etc/os-release && echo "${VERSION_CODENAME:-}")
}

# Installs the named packages. When the resolver cannot pair them (an i386
# twin missing from the lists it has), resolves again against the release's
# own suite, which prefers its versions over the updates' and security's.
apt_install() {
  export DEBIAN_FRONTEND=noninteractive
  local install=(install -y -qq --no-install-recommends)
  if "${apt_sudo[@]}" apt-get "${APT_OPTIONS[@]}" "${install[@]}" "$@" >/dev/null; then return 0; fi
  local suite
  suite=$(apt_release_suite)
  [ -n "$suite" ] || return 1
  echo "apt: the resolver could not pair these packages; resolving against the release's own suite ($suite)" >&2
  "${apt_sudo[@]}" apt-get "${APT_OPTIONS[@]}" "${install[@]}" -t "$suite" "$@" >/dev/null
}
