#!/bin/sh
# Thumbnails per second: the grid's loader beside vipsthumbnail (one thread) on
# the same folder of 4000 x 3000 JPEGs, both at 100 x 100. Needs libvips-tools
# and a default build with benchmarks. Usage: scripts/bench_thumbs.sh [BUILD_DIR]
set -e
build=${1:-build/default}
dir=${TMPDIR:-/tmp}/vexa-mview-bench/photos
"$build/bench/mview_bench" --benchmark_filter=BM_ThumbnailsFromJpegs --benchmark_min_time=2 | tee /tmp/vexa-thumbs-bench.txt
out=$(mktemp -d)
n=$(ls "$dir"/*.jpg | wc -l)
start=$(date +%s.%N)
VIPS_CONCURRENCY=1 vipsthumbnail --size 100x100 -o "$out/%s.jpg" "$dir"/*.jpg
end=$(date +%s.%N)
rm -rf "$out"
awk -v n="$n" -v s="$start" -v e="$end" 'BEGIN { printf "vipsthumbnail (1 thread): %d files in %.3f s: %.2f thumbnails/s\n", n, e - s, n / (e - s) }'
