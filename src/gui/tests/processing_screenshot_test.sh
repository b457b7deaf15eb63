#!/usr/bin/env bash
# Starts the real program under Xvfb on a generated clip whose picture is known, takes a screenshot and
# compares the "Processing" window with the picture ulmora-batch makes of the same clip.
# Usage: processing_screenshot_test.sh ULMORA ULMORA_BATCH
set -euo pipefail
ulmora=$(realpath "$1")
batch=$(realpath "$2")
for tool in xvfb-run import compare gst-launch-1.0; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool not installed"; exit 77; }
done

# ImageMagick's own convert: another program of that name may come first on PATH.
im_convert=/usr/bin/convert
[ -x "$im_convert" ] || im_convert=$(command -v convert)

scratch=$(mktemp -d /tmp/ulmora-gui-shot-XXXXXX)
trap '[ -n "${KEEP:-}" ] || rm -rf "$scratch"' EXIT
mkdir -m 0700 "$scratch/runtime" "$scratch/out"
clip="$scratch/gradient.avi"
gst-launch-1.0 -q videotestsrc num-buffers=150 pattern=gradient \
  ! video/x-raw,format=YUY2,width=320,height=240,framerate=30/1 ! avimux ! filesink location="$clip"

# Plain chain: no banding removal, no automatic control, so every processed picture is the same.
export ULMORA_SIM_CAMERA=1  # a device, so no "no hardware" box waits at start
printf '[nocta]\nProcNRH=0\nProcNRV=0\nProcAuto=0\nProcAmp=24\nProcGamma=100\n' > "$scratch/profile.ini"
"$batch" -q -p "$scratch/profile.ini" -o "$scratch/out" -n 1 -d 8 "$clip"
expected=$(ls "$scratch"/out/*.bmp | head -n 1)

cat > "$scratch/session.sh" <<EOS
#!/usr/bin/env bash
export XDG_RUNTIME_DIR="$scratch/runtime" ULMORA_PROFILE="$scratch/profile.ini" XDG_CONFIG_HOME="$scratch/config"
unset QT_QPA_PLATFORM QT_QPA_PLATFORMTHEME
cd "$scratch"
"$ulmora" --play "$clip" 2>"$scratch/stderr.txt" &
pid=\$!
sleep 3
import -window root "$scratch/screen.png"
kill -TERM \$pid
wait \$pid
echo "exit \$?" > "$scratch/exit.txt"
EOS
chmod +x "$scratch/session.sh"
xvfb-run -a -s "-screen 0 1280x1024x24" "$scratch/session.sh"

# Without a window manager the windows stand where they were put: "Processing" at
# ((1280 - 646) / 2 + 326, 50), 320 x 240, the clip's own size, so no scaling and no bands.
"$im_convert" "$scratch/screen.png" -crop 320x240+643+50 +repage -colorspace Gray "$scratch/processing.png"
"$im_convert" "$expected" -colorspace Gray "$scratch/expected.png"
differing=$(compare -metric AE -fuzz 1% "$scratch/processing.png" "$scratch/expected.png" null: 2>&1 || true)
mean=$("$im_convert" "$scratch/processing.png" -format '%[fx:round(255*mean)]' info:)
echo "differing pixels: $differing, mean level: $mean, program: $(cat "$scratch/exit.txt")"
[ "$(cat "$scratch/exit.txt")" = "exit 0" ] || { echo "FAIL: the program did not end cleanly"; exit 1; }
[ "$mean" -gt 20 ] || { echo "FAIL: Processing is black"; exit 1; }
[ "$differing" = "0" ] || { echo "FAIL: Processing differs from the known picture"; exit 1; }
# The settings were saved at the signalled close, as at a normal exit.
grep -q '^ProcAmp=24' "$scratch/profile.ini" || { echo "FAIL: settings not written at exit"; exit 1; }
echo PASS
