#!/usr/bin/env bash
# Times sigillon-batch against other ways of doing its job and reports the
# peak memory of each:
#   djpeg | cjpeg   decode and re-encode at the same settings, never holding the picture
#   djpeg           decoding alone, the floor for a tool that must decode
#   libvips         vips copy: decode and encode, streaming, without a stamp
#   ImageMagick     composite -watermark 30 -tile, the same job
#   sigillon-batch  load the JPEG, stamp a 200 x 80 stamp tiled (mode 8), save JPEG q85
#                   (--quality 85, the desktop program's save); beside it the same
#                   tiles turned, faded and spaced (--rotate, --opacity, --tile-spacing)
#   jpegtran        -copy all: the floor for a tool that keeps a JPEG's blocks
#   sigillon-batch  --quality keep (the default): the stamp in a corner (mode 3),
#                   every other block copied; tiled, re-encoded with the input's tables
#   heif-convert    HEIC to JPEG, against sigillon-batch reading HEIC with a corner stamp
#   avifenc         JPEG to AVIF at the same speed and quantizer, against --to .avif
#   cwebp -q 90     WebP at quality 90 from a PPM, against sigillon-batch --to .webp
#                   from a BMP of the same pixels: both read an uncompressed file,
#                   so the encoding is what differs (the files must be the same
#                   bytes; the stamped row against cwebp on the stamped pixels)
# on a 6000 x 4000 photo-like JPEG (quality 92), a 30,000 x 20,000 one made
# from it, and 100 photos of 3000 x 2000 with --jobs 1 and 2; and 16-bit
# LZW strip TIFF files of the photo (6000 x 4000, twice as tall, and 3000 x
# 2000) to JPEG, whose peak memory grows with the width, not the area. The
# files are made here, in a folder under /tmp removed at the end.
#
# Usage: bench/batch-compare.sh [RUNS]   (default 3, at least 2; the best run of each counts,
# but rows held against a peer within the noise run in turn with it and keep their medians)
# SIGILLON_BATCH=path picks the tool; otherwise build/app/batch/sigillon-batch,
# built first when missing. Other people's work on the machine shows as noise:
# compare rows measured close together, and run the script again when in doubt.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib.sh"

RUNS="${1:-3}"
[ "$RUNS" -ge 2 ] || RUNS=2
need_packages libjpeg-turbo-progs imagemagick libvips-tools webp time bc libheif-examples libavif-bin

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
echo "Making the pictures ..."
convert -seed 7 -size 1500x1000 plasma:fractal -blur 0x2 -resize '6000x4000!' \
    -attenuate 0.4 +noise Gaussian -depth 8 photo.ppm
cjpeg -quality 92 photo.ppm > photo.jpg
convert photo.ppm -type TrueColor BMP3:photo.bmp
convert -size 200x80 xc:white \
    -fill '#202020' -draw 'rectangle 12,12 70,68' \
    -fill '#C03020' -draw 'circle 130,40 160,40' \
    -fill '#F0F0F0' -draw 'rectangle 80,30 100,50' \
    -type TrueColor BMP3:stamp.bmp
# 5 x 5 photos side by side, streamed by libvips; and 100 photos of a quarter
# the area.
vips replicate photo.jpg big.jpg[Q=92] 5 5
vips resize photo.jpg small.jpg[Q=92] 0.5
mkdir -p out photos
for i in $(seq -w 1 100); do cp small.jpg "photos/p$i.jpg"; done
# The photo in 16 bits a sample (v * 257), in LZW-compressed strips.
vips linear photo.jpg wide.v 257 0
vips cast wide.v photo16.tif[compression=lzw] ushort
vips join photo16.tif photo16.tif tall16.tif[compression=lzw] vertical
vips resize photo16.tif small16.tif[compression=lzw] 0.5
rm wide.v

# best_of LABEL CMD...: the fastest elapsed time of RUNS runs (seconds) and
# the largest peak resident size of them (KiB), printed as a table row and
# kept in BEST_TIME / BEST_RSS. Every row gets one untimed run first, so
# that every contender finds the files cached.
declare -A TIMES RSS
best_of() {
    local label="$1" best="" rss=0 i start end elapsed peak
    shift
    "$@" >/dev/null 2>&1
    for ((i = 0; i < RUNS; i++)); do
        start="$(date +%s.%N)"
        /usr/bin/time -f '%M' -o peak "$@" >/dev/null 2>"stderr" || { cat stderr >&2; return 1; }
        end="$(date +%s.%N)"
        elapsed="$(echo "$end - $start" | bc)"
        peak="$(tail -n 1 peak)"
        if [ -z "$best" ] || [ "$(echo "$elapsed < $best" | bc)" = 1 ]; then best="$elapsed"; fi
        [ "$peak" -gt "$rss" ] && rss="$peak"
    done
    TIMES[$label]="$best"
    RSS[$label]="$rss"
    printf '%-44s %8.3f s %9d KiB\n' "$label" "$best" "$rss"
}

# interleaved N LABEL CMD [LABEL CMD ...]: shell commands run in turn,
# N x RUNS times each, so that a slow spell of the machine falls on all of
# them, and the median of each kept (a best of few back to back rewards
# whichever happened on a quiet moment). For rows held against each other
# whose difference is smaller than the machine's noise.
interleaved() {
    local times="$1" i k elapsed start end
    shift
    local -a labels=() commands=()
    while [ "$#" -ge 2 ]; do
        labels+=("$1")
        commands+=("$2")
        shift 2
    done
    local -A runs=() peaks=()
    for k in "${!commands[@]}"; do
        sh -c "${commands[$k]}" >/dev/null 2>&1
        runs[$k]=""
        peaks[$k]=0
    done
    for ((i = 0; i < times * RUNS; i++)); do
        for k in "${!commands[@]}"; do
            start="$(date +%s.%N)"
            /usr/bin/time -f '%M' -o peak sh -c "${commands[$k]}" >/dev/null 2>"stderr" || { cat stderr >&2; return 1; }
            end="$(date +%s.%N)"
            elapsed="$(echo "$end - $start" | bc)"
            [ "$(tail -n 1 peak)" -gt "${peaks[$k]}" ] && peaks[$k]="$(tail -n 1 peak)"
            runs[$k]+="$elapsed "
        done
    done
    for k in "${!commands[@]}"; do
        local -a sorted
        mapfile -t sorted < <(printf '%s\n' ${runs[$k]} | sort -n)
        TIMES[${labels[$k]}]="${sorted[$(( ${#sorted[@]} / 2 ))]}"
        RSS[${labels[$k]}]="${peaks[$k]}"
        printf '%-44s %8.3f s %9d KiB  (median of %d, fastest %.3f s)\n' "${labels[$k]}" \
            "${TIMES[${labels[$k]}]}" "${peaks[$k]}" "${#sorted[@]}" "${sorted[0]}"
    done
}

OURS=("$TOOL" --stamp stamp.bmp --mode 8 --out out --force)
CORNER=("$TOOL" --stamp stamp.bmp --mode 3 --out kept --force)
mkdir -p kept webp webp-corner

echo
echo "Best of $RUNS runs each; peak memory is the largest of them."
printf '%-44s %10s %13s\n' "6000 x 4000, q92 -> q85, tiled stamp" "time" "peak memory"
best_of "djpeg | cjpeg" sh -c 'djpeg -pnm photo.jpg | cjpeg -quality 85 -baseline > out/pipe.jpg'
interleaved 5 "djpeg alone" "djpeg -pnm -outfile /dev/null photo.jpg" \
    "sigillon-batch --jobs 1, JPEG out" "$(printf '%q ' "${OURS[@]}") --jobs 1 --to .jpg --quality 85 photo.jpg" \
    "keep: tiled, re-encoded with its tables" "$(printf '%q ' "${OURS[@]}") --jobs 1 photo.jpg"
best_of "libvips copy (no stamp)" vips copy photo.jpg out/vips.jpg[Q=85]
best_of "ImageMagick composite" composite -watermark 30 -tile stamp.bmp photo.jpg -quality 85 out/magick.jpg
best_of "sigillon-batch --jobs 1, one thread" "${OURS[@]}" --jobs 1 --to .jpg --quality 85 --encoder-thread off photo.jpg
best_of "sigillon-batch --jobs 1, BMP out" "${OURS[@]}" --jobs 1 --to .bmp photo.jpg

echo
printf '%-44s\n' "6000 x 4000, q92 -> q85, tiles shaped"
best_of "tiled, plain" "${OURS[@]}" --jobs 1 --to .jpg --quality 85 photo.jpg
best_of "tiled, rotate 30, opacity 50, spacing 40" "${OURS[@]}" --jobs 1 --to .jpg --quality 85 \
    --rotate 30 --opacity 50 --tile-spacing 40,40 photo.jpg
# A text stamp, plain and with every look option at once: a font, an
# outline, a blurred shadow, a turn, an opacity, gaps and variables.
TEXT=("$TOOL" --mode 8 --out out --force --jobs 1 --to .jpg --quality 85)
interleaved 5 "tiled text, plain" "$(printf '%q ' "${TEXT[@]}") --text '(c) 2026 Sigillon' photo.jpg" \
    "tiled text, every option" "$(printf '%q ' "${TEXT[@]}") --text '(c) {year} {stem}' --font 'DejaVu Serif' \
    --color '#FFD040' --outline 2 --shadow 3,3 --shadow-blur 4 --rotate 30 --opacity 60 \
    --tile-spacing 40,40 photo.jpg"
printf '%-44s\n' "6000 x 4000 -> WebP q90, uncompressed in"
interleaved 2 "cwebp -q 90 (PPM in)" "cwebp -quiet -q 90 photo.ppm -o webp/cwebp.webp" \
    "webp: sigillon-batch, no stamp (BMP in)" "$(printf '%q ' "$TOOL") --jobs 1 --out webp --force --to .webp photo.bmp"
# libwebp's time depends on the pixels (on this picture a stamp in the
# corner makes it 2.5 times faster, cwebp alike), so the stamped row is
# held against cwebp on the stamped pixels.
"$TOOL" --stamp stamp.bmp --mode 3 --out webp-corner --force --to .bmp photo.bmp >/dev/null
convert webp-corner/photo.bmp stamped.ppm
interleaved 2 "cwebp -q 90, stamped pixels (PPM in)" "cwebp -quiet -q 90 stamped.ppm -o webp-corner/cwebp.webp" \
    "webp: sigillon-batch, corner stamp" "$(printf '%q ' "$TOOL") --stamp stamp.bmp --mode 3 --jobs 1 --out webp-corner --force --to .webp --quality 90 photo.bmp"

echo
printf '%-44s\n' "30000 x 20000, q92 -> q85, tiled stamp"
best_of "big: djpeg | cjpeg" sh -c 'djpeg -pnm big.jpg | cjpeg -quality 85 -baseline > out/bigpipe.jpg'
best_of "big: sigillon-batch --jobs 1" "${OURS[@]}" --jobs 1 --to .jpg --quality 85 big.jpg

echo
printf '%-44s\n' "6000 x 4000 q92, --quality keep"
interleaved 5 "jpegtran -copy all" "jpegtran -copy all -outfile out/jpegtran.jpg photo.jpg" \
    "keep: corner stamp, blocks copied" "$(printf '%q ' "${CORNER[@]}") --jobs 1 photo.jpg"

echo
printf '%-44s\n' "30000 x 20000 q92, --quality keep"
best_of "big: djpeg | cjpeg -quality 92" sh -c 'djpeg -pnm big.jpg | cjpeg -quality 92 > out/bigpipe92.jpg'
best_of "big: keep, corner, default budget" "${CORNER[@]}" --jobs 1 big.jpg
best_of "big: keep, corner, --memory-budget 256" "${CORNER[@]}" --jobs 1 --memory-budget 256 big.jpg

echo
printf '%-44s\n' "100 photos of 3000 x 2000, tiled stamp"
best_of "100: --jobs 1 (auto)" "${OURS[@]}" --jobs 1 --to .jpg --quality 85 photos/*.jpg
best_of "100: --jobs 1 --encoder-thread on" "${OURS[@]}" --jobs 1 --encoder-thread on --to .jpg --quality 85 photos/*.jpg
best_of "100: --jobs 2 (auto)" "${OURS[@]}" --jobs 2 --to .jpg --quality 85 photos/*.jpg
best_of "100: --jobs 2 --encoder-thread on" "${OURS[@]}" --jobs 2 --encoder-thread on --to .jpg --quality 85 photos/*.jpg

# HEIC in and AVIF out: a 12 MP HEIC made from the photo by heif-enc,
# written as JPEG at 90 (heif-convert's own default quality) with a corner
# stamp, against heif-convert; and the 24 MP photo written as AVIF at
# --quality 70 against avifenc at the same speed (8), one thread, 4:2:0 and
# the quantizer that quality maps to (19). Both pairs differ by less than
# the machine's noise, so they are run in turn and their medians kept.
convert photo.jpg -resize '4000x3000!' -quality 92 photo12.jpg
heif-enc -q 80 photo12.jpg -o photo12.heic >/dev/null
echo
printf '%-44s\n' "4000 x 3000 HEIC -> JPEG q90"
interleaved 5 "heif-convert" "heif-convert --quiet photo12.heic out/heif-convert.jpg" \
    "sigillon-batch HEIC, corner stamp" "$(printf '%q ' "${CORNER[@]}") --jobs 1 --to .jpg --quality 90 photo12.heic"
echo
printf '%-44s\n' "6000 x 4000 JPEG -> AVIF q70 (quantizer 19), speed 8"
interleaved 5 "avifenc -s 8 --min 19 --max 19" "avifenc -s 8 -y 420 --min 19 --max 19 photo.jpg out/avifenc.avif" \
    "sigillon-batch AVIF, corner stamp" "$(printf '%q ' "${CORNER[@]}") --jobs 1 --to .avif photo.jpg"
echo
printf '%-44s\n' "16-bit LZW strip TIFF -> JPEG q85, tiled stamp"
best_of "tiff: libvips copy 6000 x 4000 (no stamp)" vips copy photo16.tif out/vips16.jpg[Q=85]
best_of "tiff: ImageMagick composite 6000 x 4000" composite -watermark 30 -tile stamp.bmp photo16.tif -quality 85 out/magick16.jpg
best_of "tiff: sigillon-batch 6000 x 4000 (24 MP)" "${OURS[@]}" --jobs 1 --to .jpg --quality 85 photo16.tif
best_of "tiff: sigillon-batch 6000 x 8000 (48 MP)" "${OURS[@]}" --jobs 1 --to .jpg --quality 85 tall16.tif
best_of "tiff: sigillon-batch 3000 x 2000 (6 MP)" "${OURS[@]}" --jobs 1 --to .jpg --quality 85 small16.tif

ratio() { echo "scale=3; $1 / $2" | bc; }
echo
echo "Targets:"
echo "  one photo / djpeg alone:         $(ratio "${TIMES["sigillon-batch --jobs 1, JPEG out"]}" "${TIMES["djpeg alone"]}")x (at most 1.1)"
echo "  peak memory JPEG out:            ${RSS["sigillon-batch --jobs 1, JPEG out"]} KiB (at most 16384)"
echo "  peak memory BMP out:             ${RSS["sigillon-batch --jobs 1, BMP out"]} KiB (at most 16384)"
echo "  big file peak memory:            ${RSS["big: sigillon-batch --jobs 1"]} KiB (at most 32768)"
echo "  big file / its pipe:             $(ratio "${TIMES["big: sigillon-batch --jobs 1"]}" "${TIMES["big: djpeg | cjpeg"]}")x (at most 1.0)"
echo "  100 photos, --jobs 2 throughput: $(ratio "${TIMES["100: --jobs 1 (auto)"]}" "${TIMES["100: --jobs 2 (auto)"]}")x that of --jobs 1 (at least 1.8)"
echo "  HEIC -> JPEG / heif-convert:     $(ratio "${TIMES["sigillon-batch HEIC, corner stamp"]}" "${TIMES["heif-convert"]}")x (at most 1.0)"
echo "  JPEG -> AVIF / avifenc:          $(ratio "${TIMES["sigillon-batch AVIF, corner stamp"]}" "${TIMES["avifenc -s 8 --min 19 --max 19"]}")x (at most 1.05)"
echo "  tiles shaped / plain tiled:      $(ratio "${TIMES["tiled, rotate 30, opacity 50, spacing 40"]}" "${TIMES["tiled, plain"]}")x (at most 1.15)"
echo "  text, every option / plain:     $(ratio "${TIMES["tiled text, every option"]}" "${TIMES["tiled text, plain"]}")x (at most 1.15)"
echo "  ImageMagick / sigillon-batch:    $(ratio "${TIMES["ImageMagick composite"]}" "${TIMES["sigillon-batch --jobs 1, JPEG out"]}")x (at least 5)"
echo "  16-bit TIFF, twice as tall, peak: $(ratio "${RSS["tiff: sigillon-batch 6000 x 8000 (48 MP)"]}" "${RSS["tiff: sigillon-batch 6000 x 4000 (24 MP)"]}")x that of 6000 x 4000 (about 1: memory follows the width)"
echo "  16-bit TIFF, 6 MP / 24 MP peak:   $(ratio "${RSS["tiff: sigillon-batch 3000 x 2000 (6 MP)"]}" "${RSS["tiff: sigillon-batch 6000 x 4000 (24 MP)"]}")x (about 1, not a quarter: a few rows on the tool's own ~9 MB)"
echo "  WebP q90, no stamp / cwebp:      $(ratio "${TIMES["webp: sigillon-batch, no stamp (BMP in)"]}" "${TIMES["cwebp -q 90 (PPM in)"]}")x (at most 1.05), $(cmp -s webp/photo.webp webp/cwebp.webp && echo "the same bytes" || echo "DIFFERENT bytes")"
echo "  WebP q90, corner stamp / cwebp:  $(ratio "${TIMES["webp: sigillon-batch, corner stamp"]}" "${TIMES["cwebp -q 90, stamped pixels (PPM in)"]}")x (at most 1.05), $(cmp -s webp-corner/photo.webp webp-corner/cwebp.webp && echo "the same bytes" || echo "DIFFERENT bytes")"

# Away from the corner stamp (the bottom-right 200 x 80, in MCUs of 16), the
# same blocks: jpegtran's crops of the rows above it and the columns left of
# it are the same bytes, and so are djpeg -nosmooth's pixels of them.
same_away() {
    local region
    for region in 6000x3920+0+0 5792x4000+0+0; do
        cmp -s <(jpegtran -copy none -crop "$region" "$1") <(jpegtran -copy none -crop "$region" "$2") || return 1
        cmp -s <(jpegtran -copy none -crop "$region" "$1" | djpeg -nosmooth -pnm) \
               <(jpegtran -copy none -crop "$region" "$2" | djpeg -nosmooth -pnm) || return 1
    done
}
away() { same_away "$1" "$2" && echo "identical" || echo "DIFFERENT"; }
size() { stat -c %s "$1"; }
budget_mb=$(( $(getconf _PHYS_PAGES) * $(getconf PAGESIZE) / 4 / 1048576 ))
[ "$budget_mb" -gt 1024 ] && budget_mb=1024
echo "  keep, corner / jpegtran -copy all:  $(ratio "${TIMES["keep: corner stamp, blocks copied"]}" "${TIMES["jpegtran -copy all"]}")x (at most 1.0)"
echo "  keep, corner peak / jpegtran's:     $(ratio "${RSS["keep: corner stamp, blocks copied"]}" "${RSS["jpegtran -copy all"]}")x (at most 1.1)"
echo "  keep, corner output / input size:   $(ratio "$(size kept/photo.jpg)" "$(size photo.jpg)")x (within 1 %)"
echo "  keep, away from the stamp:          $(away photo.jpg kept/photo.jpg) blocks and pixels (identical)"
echo "  keep, tiled / djpeg alone:          $(ratio "${TIMES["keep: tiled, re-encoded with its tables"]}" "${TIMES["djpeg alone"]}")x (at most 1.2)"
echo "  --quality 85, tiled / djpeg alone:  $(ratio "${TIMES["sigillon-batch --jobs 1, JPEG out"]}" "${TIMES["djpeg alone"]}")x, ${RSS["sigillon-batch --jobs 1, JPEG out"]} KiB (about 1.1, 8 MB)"
echo "  big, keep, default, peak memory:    ${RSS["big: keep, corner, default budget"]} KiB (within the default budget, ${budget_mb} MB)"
echo "  big, keep, default / its q92 pipe:  $(ratio "${TIMES["big: keep, corner, default budget"]}" "${TIMES["big: djpeg | cjpeg -quality 92"]}")x (at most 1.0)"
echo "  big, keep, 256 MB budget, peak:     ${RSS["big: keep, corner, --memory-budget 256"]} KiB (within 262144)"
echo "  big, keep, 256 MB budget / pipe:    $(ratio "${TIMES["big: keep, corner, --memory-budget 256"]}" "${TIMES["big: djpeg | cjpeg -quality 92"]}")x (at most 1.0)"
