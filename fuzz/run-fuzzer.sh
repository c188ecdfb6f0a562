#!/usr/bin/env bash
# Runs one libFuzzer target for a number of seconds: fuzz/run-fuzzer.sh NAME SECONDS.
# New inputs go to build/fuzz/corpus/NAME (the kept seeds of fuzz/corpus/NAME are read,
# never written); a crash leaves its input in build/fuzz/findings/NAME. Inputs are cut to
# MAU_FUZZ_MAX_LEN bytes (8192 unless set): the large kept seeds (a megabyte of brackets,
# thousands of deep anchors) would otherwise set the length and slow every run to a crawl.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
name=$1
seconds=$2
cd "$root"
[ -f build/fuzz/build.ninja ] || cmake --preset fuzz >build/fuzz.configure.log 2>&1 ||
  { cat build/fuzz.configure.log >&2; exit 1; }
cmake --build build/fuzz --target "fuzz-$name"
mkdir -p "build/fuzz/corpus/$name" "build/fuzz/findings/$name"
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
exec "build/fuzz/bin/fuzz-$name" -max_total_time="$seconds" -print_final_stats=1 \
  -artifact_prefix="build/fuzz/findings/$name/" -rss_limit_mb=2048 -max_len="${MAU_FUZZ_MAX_LEN:-8192}" \
  "build/fuzz/corpus/$name" "fuzz/corpus/$name"
