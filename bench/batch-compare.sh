#!/usr/bin/env bash
# Times sigillon-batch against two other ways of doing its job on one large
# photo, side by side, and reports sigillon-batch's peak memory:
#   sigillon-batch  load the JPEG, stamp a 200 x 80 stamp tiled (mode 8), save JPEG
#   djpeg | cjpeg   decode and re-encode at the same settings, never holding the picture
#   ImageMagick     composite -watermark 30 -tile, the same job
#
# Usage: bench/batch-compare.sh [RUNS]   (default 3; the best run of each counts)
# SIGILLON_BATCH=path picks the tool; otherwise build/app/batch/sigillon-batch,
# built first when missing.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib.sh"

RUNS="${1:-3}"
need_packages libjpeg-turbo-progs imagemagick time

TOOL="${SIGILLON_BATCH:-$ROOT/build/app/batch/sigillon-batch}"
if [ ! -x "$TOOL" ]; then
    configure_build build
    cmake --build "$ROOT/build" --target sigillon-batch -j "$JOBS"
fi

WORK="$(mktemp -d /tmp/sigillon-batch-compare-XXXXXX)"
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"

# A photo-like picture: smooth fractal shapes at a photo's scale, with sensor
# noise so the JPEG is as large as a camera's.
echo "Making a 6000 x 4000 photo and a 200 x 80 stamp ..."
convert -seed 7 -size 1500x1000 plasma:fractal -blur 0x2 -resize '6000x4000!' \
    -attenuate 0.4 +noise Gaussian -depth 8 photo.ppm
cjpeg -quality 92 photo.ppm > photo.jpg
rm photo.ppm
convert -size 200x80 xc:white \
    -fill '#202020' -draw 'rectangle 12,12 70,68' \
    -fill '#C03020' -draw 'circle 130,40 160,40' \
    -fill '#F0F0F0' -draw 'rectangle 80,30 100,50' \
    -type TrueColor BMP3:stamp.bmp
mkdir -p out

# best_of CMD...: the fastest elapsed time of RUNS runs, in seconds; the
# peak resident size (KiB) and minor page faults of that run land in
# $BEST_RSS and $BEST_FAULTS.
best_of() {
    local best="" rss="" faults="" i line elapsed
    for ((i = 0; i < RUNS; i++)); do
        /usr/bin/time -f '%e %M %R' -o timing "$@" >/dev/null
        line="$(tail -n 1 timing)"
        elapsed="${line%% *}"
        if [ -z "$best" ] || awk -v a="$elapsed" -v b="$best" 'BEGIN { exit !(a < b) }'; then
            best="$elapsed"
            rss="$(echo "$line" | cut -d' ' -f2)"
            faults="$(echo "$line" | cut -d' ' -f3)"
        fi
    done
    BEST_TIME="$best"
    BEST_RSS="$rss"
    BEST_FAULTS="$faults"
}

echo "Timing, best of $RUNS runs each ..."
# One untimed run of each first, so every contender finds the files cached.
"$TOOL" --stamp stamp.bmp --mode 8 --to .jpg --out out --force photo.jpg
djpeg -pnm photo.jpg | cjpeg -quality 85 -baseline > out/pipe.jpg
composite -watermark 30 -tile stamp.bmp photo.jpg -quality 85 out/magick.jpg

best_of "$TOOL" --stamp stamp.bmp --mode 8 --to .jpg --out out --force photo.jpg
ours="$BEST_TIME" ours_rss="$BEST_RSS" ours_faults="$BEST_FAULTS"
best_of sh -c 'djpeg -pnm photo.jpg | cjpeg -quality 85 -baseline > out/pipe.jpg'
pipe="$BEST_TIME"
best_of composite -watermark 30 -tile stamp.bmp photo.jpg -quality 85 out/magick.jpg
magick="$BEST_TIME" magick_rss="$BEST_RSS"

photo_bytes="$(stat -c %s photo.jpg)"
out_bytes="$(stat -c %s out/photo.jpg)"
picture_bytes=$((6000 * 4000 * 3))
budget_kib=$(((photo_bytes + picture_bytes + out_bytes) / 1024))

echo
printf 'photo.jpg: 6000 x 4000, %d bytes; stamp.bmp: 200 x 80; output %d bytes\n' \
    "$photo_bytes" "$out_bytes"
printf '%-26s %8s\n' "" "seconds"
printf '%-26s %8s\n' "sigillon-batch" "$ours"
printf '%-26s %8s\n' "djpeg | cjpeg" "$pipe"
printf '%-26s %8s\n' "ImageMagick composite" "$magick"
awk -v o="$ours" -v p="$pipe" -v m="$magick" 'BEGIN {
    printf "sigillon-batch / pipe: %.2fx (target at most 1.5x)\n", o / p
    printf "ImageMagick / sigillon-batch: %.1fx (target at least 5x)\n", m / o
}'
echo
printf 'sigillon-batch peak memory: %d KiB (%d minor page faults)\n' "$ours_rss" "$ours_faults"
printf '  file + one picture + output: %d KiB; above that: %d KiB\n' \
    "$budget_kib" $((ours_rss - budget_kib))
printf 'ImageMagick peak memory: %d KiB\n' "$magick_rss"
