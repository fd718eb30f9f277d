#!/usr/bin/env bash
# Every binary reaches the codec libraries through the binding only: none may list
# one of them as a link-time dependency.
set -u
status=0
for bin in "$@"; do
  if ! out=$(ldd "$bin" 2>&1); then
    echo "ldd failed for $bin: $out"; status=1; continue
  fi
  if echo "$out" | grep -E 'lib(avcodec|avformat|avutil|avfilter|avdevice|swscale|swresample|postproc)' ; then
    echo "FAIL: $bin links a codec library"; status=1
  else
    echo "ok: $bin"
  fi
done
exit $status
