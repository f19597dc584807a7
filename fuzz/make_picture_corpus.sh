#!/usr/bin/env bash
# Writes the picture reader's seed corpus (fuzz/corpus/picture_reader/):
# small PNG files of every colour type and depth, JPEG files of each
# process, GIF, BMP and WebP files, made with netpbm, libjpeg-turbo's cjpeg
# and libwebp's cwebp and img2webp (Debian netpbm, libjpeg-turbo-progs,
# webp), a few damaged ones, and copies of some TGA seeds.
# The framing byte the target reads is the file's last byte, so the seeds
# end as their files do.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out="$here/corpus/picture_reader"
rm -rf "$out"
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# 12 x 9 colours, red and blue different everywhere.
{
  printf 'P3\n12 9\n255\n'
  for y in $(seq 0 8); do
    for x in $(seq 0 11); do
      printf '%d %d %d\n' $(( (x * 37 + y * 5) % 256 )) $(( (y * 29 + 7) % 256 )) $(( 255 - (x * 11) % 256 ))
    done
  done
} | pnmtopnm > "$tmp/rgb.ppm"
{
  printf 'P7\nWIDTH 12\nHEIGHT 9\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n'
  pamtopnm "$tmp/rgb.ppm" | tail -c $((12 * 9 * 3)) | od -An -v -tu1 -w3 | while read -r r g b; do
    printf "\\$(printf %03o "$r")\\$(printf %03o "$g")\\$(printf %03o "$b")\\$(printf %03o $(( (r + b) % 256 )))"
  done
} > "$tmp/rgba.pam"

pnmtopng "$tmp/rgb.ppm" > "$out/rgb.png"
pnmtopng -interlace "$tmp/rgb.ppm" > "$out/interlaced.png"
pamtopng "$tmp/rgba.pam" > "$out/rgba.png"
pamdepth 65535 "$tmp/rgb.ppm" | pamtopng > "$out/rgb16.png"
ppmtopgm "$tmp/rgb.ppm" | pnmtopng > "$out/grey.png"
ppmtopgm "$tmp/rgb.ppm" | pamthreshold 2>/dev/null | pnmtopng > "$out/grey1.png"
pnmquant 6 "$tmp/rgb.ppm" 2>/dev/null | pnmtopng > "$out/palette.png"
ppmtopgm "$tmp/rgb.ppm" | pamthreshold 2>/dev/null | pnmtopng -transparent=black > "$out/grey1-trns.png"
ppmtopgm "$tmp/rgb.ppm" | pamdepth 65535 | pnmtopng -transparent=rgb:80/80/80 > "$out/grey16-trns.png"
pamscale -xsize 600 -ysize 20 "$tmp/rgb.ppm" | pnmtopng -compression 9 > "$out/wide-600x20.png"

cjpeg -quality 90 "$tmp/rgb.ppm" > "$out/baseline.jpg"
cjpeg -progressive "$tmp/rgb.ppm" > "$out/progressive.jpg"
cjpeg -grayscale "$tmp/rgb.ppm" > "$out/grey.jpg"
cjpeg -arithmetic "$tmp/rgb.ppm" > "$out/arithmetic.jpg"
cjpeg -sample 2x1 -restart 1 "$tmp/rgb.ppm" > "$out/restart.jpg"
pamscale -xsize 600 -ysize 16 "$tmp/rgb.ppm" | cjpeg -quality 20 > "$out/wide-600x16.jpg"
# EXIF orientation 6 (little-endian TIFF) after SOI.
{
  head -c 2 "$out/baseline.jpg"
  printf '\xff\xe1\x00\x22Exif\x00\x00II\x2a\x00\x08\x00\x00\x00\x01\x00\x12\x01\x03\x00\x01\x00\x00\x00\x06\x00\x00\x00\x00\x00\x00\x00'
  tail -c +3 "$out/baseline.jpg"
} > "$out/exif6.jpg"

# GIF (plain, interlaced, transparent, two frames), BMP (24, 8 and 1 bits,
# OS/2) and WebP (lossy, lossless, with alpha, animated).
pnmquant 6 "$tmp/rgb.ppm" 2>/dev/null > "$tmp/six.ppm"
ppmtogif "$tmp/six.ppm" 2>/dev/null > "$out/six.gif"
ppmtogif -interlace "$tmp/six.ppm" 2>/dev/null > "$out/interlaced.gif"
ppmtogif -transparent="$(ppmhist -noheader "$tmp/six.ppm" | awk 'NR==1 {printf "rgb:%02x/%02x/%02x", $1, $2, $3}')" \
  "$tmp/six.ppm" 2>/dev/null > "$out/transparent.gif"
ppmtobmp "$tmp/rgb.ppm" 2>/dev/null > "$out/rgb.bmp"
ppmtobmp -bpp=8 "$tmp/six.ppm" 2>/dev/null > "$out/palette8.bmp"
ppmtopgm "$tmp/rgb.ppm" | pamthreshold 2>/dev/null | pamtopnm | pgmtoppm white 2>/dev/null | ppmtobmp -bpp=1 2>/dev/null > "$out/mono.bmp"
ppmtobmp -os2 "$tmp/rgb.ppm" 2>/dev/null > "$out/os2.bmp"
cwebp -quiet -q 60 "$tmp/rgb.ppm" -o "$out/lossy.webp"
cwebp -quiet -lossless "$tmp/rgb.ppm" -o "$out/lossless.webp"
pamtopng "$tmp/rgba.pam" > "$tmp/rgba.png"
cwebp -quiet -q 60 "$tmp/rgba.png" -o "$out/alpha.webp"
img2webp -loop 0 "$out/lossless.webp" -lossy "$out/lossy.webp" -o "$out/animated.webp" >/dev/null 2>&1
head -c $(( $(stat -c %s "$out/rgb.bmp") / 2 )) "$out/rgb.bmp" > "$out/half.bmp"
head -c $(( $(stat -c %s "$out/six.gif") / 2 )) "$out/six.gif" > "$out/half.gif"
head -c $(( $(stat -c %s "$out/lossy.webp") / 2 )) "$out/lossy.webp" > "$out/half.webp"

head -c $(( $(stat -c %s "$out/rgb.png") / 2 )) "$out/rgb.png" > "$out/half.png"
head -c $(( $(stat -c %s "$out/baseline.jpg") / 2 )) "$out/baseline.jpg" > "$out/half.jpg"
printf '\x89PNG\r\n\x1a\n' > "$out/signature.png"
printf '\xff\xd8\xff' > "$out/soi.jpg"
for seed in white-1x1.tga truncated-8x8.tga gradient-13x11.tga rle.tga; do
  cp "$here/corpus/tga_reader/$seed" "$out/$seed"
done
python3 "$here/make_hostile_seeds.py"
ls "$out"
