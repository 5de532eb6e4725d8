# The input list every recipe test runs, sourced with $cvcomp, $source and $samples set; the tests
# run in $work, a fresh folder removed at the end unless the test made its own. The list has CRLF
# line ends and four lines:
#   0  -face $(touch pwned) 'q".png  the 41st frame of Megamind.avi, which shows a face: a
#                                     relative name with a leading dash, spaces, quotes and $(...)
#   1  baboon.jpg of opencv-doc
#   2  other/baboon.png               the 150th frame of Megamind.avi, another face, under the
#                                     same stem
#   3  missing.png                    a picture that does not exist, the one that fails
# It defines $composition (the face example), $list, $bad (3), $missing, expected[K] (what
# `cvcomp run --json -` writes for line K alone), outputs[K] (the name the recipes write line K's
# result to, OUT/K-<stem>.jsonl), expect_outputs, which checks a recipe's output folder, and
# tests/expect.sh's checks.
source "$source/tests/expect.sh"
if [ -z "${work:-}" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi
cd "$work" || exit 1
composition=$source/examples/face-detect.json
hostile="-face \$(touch pwned) 'q\".png"
missing=$work/missing.png
list=$work/inputs.txt
bad=3
cat >"$work/frames.json" <<JSON
{"patches": {"src": {"class": "ImageSource", "inputs": {"inputPath": "$samples/Megamind.avi"}}},
 "publish": ["src.outputImage"]}
JSON
"$cvcomp" run "$work/frames.json" --frames 41 --video "$work/$hostile" --quiet
mkdir -p "$work/other"
"$cvcomp" run "$work/frames.json" --frames 150 --video "$work/other/baboon.png" --quiet
inputs=("$hostile" "$samples/baboon.jpg" "$work/other/baboon.png" "$missing")
printf '%s\r\n' "${inputs[@]}" >"$list"
expected=() outputs=()
for k in "${!inputs[@]}"; do
  stem=$(basename -- "${inputs[k]}")
  outputs[k]=$k-${stem%.*}.jsonl
  [ "$k" -eq "$bad" ] && continue
  path=${inputs[k]}
  [[ $path == /* ]] || path=$work/$path
  expected[k]=$("$cvcomp" run "$composition" --input "$path" --json - --quiet)
done
[[ ${expected[0]} == *'"faces.outputRects":{"Object0000":'* ]] ||
  fail "no face found in the first input: ${expected[0]}"
[ "${expected[1]}" != "${expected[2]}" ] || fail "the two inputs named baboon give one result"

# expect_outputs RECIPE OUT: every good line's result in OUT is what cvcomp writes for it alone,
# the bad line left none, and no name in the list ran as a command.
expect_outputs() {
  local recipe=$1 out=$2 k
  for k in "${!inputs[@]}"; do
    if [ "$k" -eq "$bad" ]; then
      [ ! -s "$out/${outputs[k]}" ] || fail "$recipe: the missing input left a result"
    elif [ ! -f "$out/${outputs[k]}" ]; then
      fail "$recipe: line $k left no $out/${outputs[k]}"
    else
      expect_same "${expected[k]}" "$(cat "$out/${outputs[k]}")" "$recipe: line $k"
    fi
  done
  [ ! -e "$work/pwned" ] || fail "$recipe: a name in the list ran as a command"
}
