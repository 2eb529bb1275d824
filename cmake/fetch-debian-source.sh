#!/usr/bin/env bash
# Downloads a Debian source package (orig tarball, Debian tarball, .dsc) into a cache folder.
#
#   fetch-debian-source.sh NAME VERSION DEST_DIR
#
# VERSION is the upstream version ("131.1.0") or a full Debian version ("131.1.0-4.1~deb12u1",
# an epoch allowed). When DEST_DIR already holds NAME's orig tarball for that upstream version
# the script does nothing at all, so a filled cache works offline and without root.
#
# Otherwise the script needs root and the network: the machine's apt configuration usually
# lists binary archives only, so it writes a deb-src twin of every configured "deb" entry into
# its own sources file, refreshes apt's lists for that file alone, and runs
# `apt-get source --download-only`. When the archive no longer offers the requested version
# it takes the version apt offers and says so; the caller decides whether that is acceptable.
# It prints one line on success and apt's own output only on failure.
set -euo pipefail

if [ $# -ne 3 ]; then
  echo "usage: $0 NAME VERSION DEST_DIR" >&2
  exit 2
fi
name=$1
version=$2
dest=$3

# The upstream part of a Debian version: no epoch, no Debian revision.
upstream_of() {
  local v=${1#*:}
  echo "${v%-*}"
}
upstream=$(upstream_of "$version")

has_orig() {
  compgen -G "$dest/${name}_$1.orig.tar.*" >/dev/null
}

if has_orig "$upstream"; then
  exit 0
fi

mkdir -p "$dest"
dest=$(cd "$dest" && pwd)

# Two builds sharing one cache must not download into it at the same time.
exec 9>"$dest/.fetch.lock"
flock 9
if has_orig "$upstream"; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "fetch-debian-source: ${name}_${upstream} is not in $dest and fetching it needs root" \
       "(to add a deb-src entry to apt)" >&2
  exit 1
fi

src_list=/etc/apt/sources.list.d/kesto-src.sources
log=$(mktemp)
trap 'rm -f "$log"' EXIT

fail() {
  echo "fetch-debian-source: $*" >&2
  cat "$log" >&2
  exit 1
}

# Builds the deb-src stanzas for every binary entry apt knows, skipping entries that already
# come with sources (a second copy would make apt warn about duplicate targets).
generate_src_entries() {
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    if [ ! -e "$f" ] || [ "$f" = "$src_list" ]; then
      continue
    fi
    awk '
      function flush() {
        if (types ~ /(^|[ \t])deb([ \t]|$)/ && types !~ /deb-src/ && enabled !~ /^[Nn]o/ && uris != "") {
          print "Types: deb-src"
          print "URIs: " uris
          print "Suites: " suites
          if (comps != "") print "Components: " comps
          if (signed != "") print "Signed-By: " signed
          print ""
        }
        types = uris = suites = comps = signed = enabled = ""
      }
      /^[ \t]*#/ { next }
      /^[ \t]*$/ { flush(); next }
      {
        key = $0; sub(/:.*/, "", key); val = $0; sub(/^[^:]*:[ \t]*/, "", val)
        k = tolower(key)
        if (k == "types") types = val
        else if (k == "uris") uris = val
        else if (k == "suites") suites = val
        else if (k == "components") comps = val
        else if (k == "signed-by") signed = val
        else if (k == "enabled") enabled = val
      }
      END { flush() }
    ' "$f"
  done
  # One-line format: "deb [options] URI SUITE COMPONENT..." in sources.list and *.list.
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -e "$f" ] || continue
    if grep -Eq '^[[:space:]]*deb-src[[:space:]]' "$f"; then
      continue
    fi
    awk '
      $1 != "deb" { next }
      {
        signed = ""; i = 2
        if ($2 ~ /^\[/) {
          opts = ""
          for (; i <= NF; i++) { opts = opts " " $i; if ($i ~ /\]$/) { i++; break } }
          if (match(opts, /signed-by=[^ \]]+/)) signed = substr(opts, RSTART + 10, RLENGTH - 10)
        }
        uri = $i; suite = $(i + 1); comps = ""
        for (j = i + 2; j <= NF; j++) comps = comps (comps == "" ? "" : " ") $j
        print "Types: deb-src"
        print "URIs: " uri
        print "Suites: " suite
        if (comps != "") print "Components: " comps
        if (signed != "") print "Signed-By: " signed
        print ""
      }
    ' "$f"
  done
}

# Refreshes only the lists of our deb-src entries: the binary lists stay as they are.
update_src_lists() {
  apt-get update -qq \
    -o Dir::Etc::sourcelist="$src_list" -o Dir::Etc::sourceparts=- \
    -o APT::Get::List-Cleanup=0 >>"$log" 2>&1 || fail "apt-get update failed"
}

entries=$(generate_src_entries)
updated=0
if [ -n "$entries" ] && { [ ! -f "$src_list" ] || [ "$(cat "$src_list")" != "$entries" ]; }; then
  printf '%s\n' "$entries" >"$src_list"
  update_src_lists
  updated=1
fi

source_versions() {
  { apt-cache showsrc "$name" 2>/dev/null || true; } | awk '/^Version:/ { print $2 }'
}

versions=$(source_versions)
if [ -z "$versions" ] && [ "$updated" -eq 0 ]; then
  update_src_lists
  versions=$(source_versions)
fi
[ -n "$versions" ] || fail "apt offers no source package named $name"

# The exact version when it was given in full, else the newest Debian revision of the
# requested upstream version (apt-cache lists the newest first).
pick=""
while read -r v; do
  if [ "$v" = "$version" ] || [ "$(upstream_of "$v")" = "$upstream" ]; then
    pick=$v
    break
  fi
done <<<"$versions"

request=$name
if [ -n "$pick" ]; then
  request="$name=$pick"
else
  echo "fetch-debian-source: $name $version is not offered; taking $(head -n1 <<<"$versions")" >&2
fi

# Download into a scratch folder and move the files in only once all have arrived, so an
# interrupted download never looks like a filled cache.
tmp=$(mktemp -d "$dest/.fetch.XXXXXX")
trap 'rm -f "$log"; rm -rf "$tmp"' EXIT
(cd "$tmp" && apt-get source --download-only -qq -o APT::Sandbox::User=root "$request") \
  >>"$log" 2>&1 || fail "apt-get source $request failed"

fetched=()
for f in "$tmp"/*; do
  [ -f "$f" ] || continue
  mv -f "$f" "$dest/"
  fetched+=("$(basename "$f")")
done
[ ${#fetched[@]} -gt 0 ] || fail "apt-get source $request downloaded nothing"
echo "fetch-debian-source: fetched ${fetched[*]} into $dest"
