#!/usr/bin/env bash
# Makes the cvcomp package from the build's install rules (cpack -G DEB), checks it with lintian,
# builds the container image with deploy/image/build.sh, and runs the image's file system, as
# loaded from its docker-archive, under chroot: every program and module of the package finds its
# libraries there (nothing but the package's declared dependencies is installed), the face
# example's JSON lines equal `cvcomp run`'s here, the Python module gives the same faces, and the
# studio serves its page. Exits 77 (CTest: skipped) when not root, which chroot needs.
#   tests/container_image.sh CVCOMP SOURCE_DIR SAMPLE_DATA BUILD_DIR
set -uo pipefail
cvcomp=$1 source=$2 samples=$3 build=$4
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIPPED: building and entering the image needs root (chroot), and this is $(id -un)"
  exit 77
fi
work=$(mktemp -d)
studio=
cleanup() {
  [ -n "$studio" ] && kill "$studio" 2>/dev/null && wait "$studio"
  rm -rf "$work"
}
trap cleanup EXIT
source "$source/tests/expect.sh"

rm -f "$build"/package/cvcomp_*.deb
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$build/package" >"$work/cpack.log" ||
  { cat "$work/cpack.log"; exit 1; }
deb=$(echo "$build"/package/cvcomp_*.deb)
[ -f "$deb" ] || { echo "FAILED: cpack made no package" >&2; exit 1; }
lintian --fail-on error "$deb" || fail "lintian finds errors in $deb"
"$source/deploy/image/build.sh" "$deb" "$build/image" || { echo "FAILED: no image" >&2; exit 1; }

# The image as a runtime loads it: the one layer of the docker-archive, named as the manifest
# names it.
root=$work/root
mkdir "$root"
python3 - "$build/image/cvcomp-image.tar" "$(cat "$source/deploy/image/name")" "$root" <<'PY' ||
import json, sys, tarfile
with tarfile.open(sys.argv[1]) as archive:
    [image] = json.load(archive.extractfile("manifest.json"))
    assert image["RepoTags"] == [sys.argv[2]], image["RepoTags"]
    [layer] = image["Layers"]
    with tarfile.open(fileobj=archive.extractfile(layer)) as files:
        files.extractall(sys.argv[3], numeric_owner=True)
PY
  { echo "FAILED: the docker-archive does not hold the image the manifest names" >&2; exit 1; }
inside() { chroot "$root" "$@"; }

# Every ELF file of the package finds each library it needs.
dpkg-deb --contents "$deb" | awk '{ print substr($6, 2) }' | grep -E '\.so$|/bin/' |
  while read -r file; do
    [ -f "$root$file" ] || continue
    missing=$(inside ldd "$file" 2>&1 | grep 'not found')
    [ -z "$missing" ] || echo "$file: $missing"
  done >"$work/ldd.txt"
[ ! -s "$work/ldd.txt" ] || fail "libraries not found in the image: $(cat "$work/ldd.txt")"

# The face example over the first 30 frames of Megamind.avi, inside and out, byte for byte, and
# the Python module in the image's own interpreter over the same frames, compared as JSON.
mkdir "$root/data"
cp "$samples/Megamind.avi" "$root/data/"
as_json='import json, sys
for line in sys.stdin:
    print(json.dumps(json.loads(line)))'
outside=$("$cvcomp" run "$source/examples/face-detect.json" --input "$samples/Megamind.avi" \
  --frames 30 --json - --quiet)
[[ $outside == *'"faces.outputRects":{"Object0000":'* ]] || fail "no face in 30 frames: $outside"
expect_same "$outside" "$(inside cvcomp run /usr/share/cvcomp/examples/face-detect.json \
  --input /data/Megamind.avi --frames 30 --json - --quiet)" "the face example in the image"
expect_same "$(python3 -c "$as_json" <<<"$outside")" "$(inside python3 -c '
import json, cvcomp
with cvcomp.Composition("/usr/share/cvcomp/examples/face-detect.json") as detector:
    for frame in detector.run("/data/Megamind.avi", frames=30):
        del frame["overlay.outputImage"]  # the picture, which --json leaves out
        print(json.dumps(frame))')" "the Python module in the image"

# GStreamer in the image loads the element and makes one.
inside python3 -c '
import ctypes, sys
gst = ctypes.CDLL("libgstreamer-1.0.so.0")
gst.gst_plugin_load_file.restype = gst.gst_element_factory_make.restype = ctypes.c_void_p
gst.gst_init(None, None)
plugin = gst.gst_plugin_load_file(sys.argv[1].encode(), None)
sys.exit(not plugin or not gst.gst_element_factory_make(b"cvcomp", None))' \
  "$(dpkg-deb --contents "$deb" | grep -o '/usr/lib/.*/gstreamer-1.0/libgstcvcomp.so')" ||
  fail "GStreamer in the image cannot make the cvcomp element"

# The studio in the image serves the package's page. chroot itself, not a subshell running
# inside(), so that $! is the studio's own process, which chroot becomes.
chroot "$root" cvcomp studio --port 0 --no-open >"$work/studio.out" 2>&1 &
studio=$!
for _ in $(seq 100); do grep -q 'http://127' "$work/studio.out" && break; sleep 0.1; done
address=$(grep -o 'http://127[0-9.]*:[0-9]*' "$work/studio.out" | head -n1)
page=$(python3 -c 'import sys, urllib.request
print(urllib.request.urlopen(sys.argv[1] + "/").read().decode())' "$address")
expect_same "$(cat "$root/usr/share/cvcomp/studio/web/index.html")" "$page" "the studio's page"
exit $((failures > 0))
