#!/usr/bin/env bash
# Builds the container image deploy/kubernetes-job.yaml names (deploy/image/name) from Debian's
# packages alone, without a registry or a container runtime: Debian 12 (mmdebstrap, apt variant)
# with the cvcomp package installed.
#   deploy/image/build.sh DEB OUT
# DEB is the package `cpack -G DEB` made (scripts/build.sh package). OUT receives
# cvcomp-image.tar, the image named in deploy/image/name as a docker-archive (one layer, the file
# system), for `docker load`, `podman load`, `kind load image-archive` and
# `k3s ctr images import`.
# Debian and the package's dependencies come from this machine's apt sources
# (/etc/apt/sources.list.d/debian.sources, or $IMAGE_SOURCES; deb.debian.org without either) and
# are kept, as a tarball, in $IMAGE_CACHE (/var/cache/cvcomp-image) under the package's Depends
# line, the sources and mmdebstrap's options: only a change of one of them downloads them again;
# otherwise the build is the package's install on top.
# Needs root (chroot).
set -euo pipefail
if [ $# -ne 2 ]; then
  echo "usage: $0 DEB OUT" >&2
  exit 2
fi
deb=$(realpath "$1") out=$2
here=$(dirname "$(realpath "$0")")
name=$(cat "$here/name")
sources=${IMAGE_SOURCES:-/etc/apt/sources.list.d/debian.sources}
cache=${IMAGE_CACHE:-/var/cache/cvcomp-image}
mkdir -p "$out" "$cache"

# The dependencies' names: the first of each set of alternatives, without its version.
depends=$(dpkg-deb --field "$deb" Depends)
include=$(tr ',' '\n' <<<"$depends" | sed 's/|.*//; s/(.*)//; s/:any//; s/ //g' | paste -sd, -)
# Without the sources file, Debian's own mirror.
mirror=()
[ -f "$sources" ] && mirror=("$sources")
options=(--mode=root --variant=apt --aptopt='APT::Install-Recommends "false"'
         --include="$include" --dpkgopt='path-exclude=/usr/share/doc/*'
         --dpkgopt='path-exclude=/usr/share/man/*' --dpkgopt='path-exclude=/usr/share/locale/*'
         --customize-hook='rm -rf "$1"/var/lib/apt/lists/* "$1"/var/cache/apt/*.bin'
         --format=tar bookworm)
key=$( (printf '%s\n' "${options[@]}"; cat "${mirror[@]}") | sha256sum | cut -c1-16)
base=$cache/base-$key.tar
if [ ! -f "$base" ]; then
  echo "Building the base image: Debian 12 with $include"
  mmdebstrap "${options[@]}" "$base.partial" "${mirror[@]}"
  mv "$base.partial" "$base"
  # Bases of earlier dependencies are not used again.
  find "$cache" -name 'base-*.tar' ! -name "${base##*/}" -delete
fi

root=$(mktemp -d "$out/root.XXXXXX")
trap 'rm -rf "$root" "$root.tar"' EXIT
tar -C "$root" -xf "$base"
cp "$deb" "$root/tmp/cvcomp.deb"
# Every dependency is in the base already, so dpkg alone installs the package.
chroot "$root" dpkg --install /tmp/cvcomp.deb >/dev/null
rm "$root/tmp/cvcomp.deb"
tar -C "$root" --numeric-owner --sort=name -cf "$root.tar" .
python3 "$here/docker_archive.py" "$root.tar" "$name" "$out/cvcomp-image.tar"
rm "$root.tar"
echo "Wrote $out/cvcomp-image.tar ($name, $(du -m "$out/cvcomp-image.tar" | cut -f1) MB)"
