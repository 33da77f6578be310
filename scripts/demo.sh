#!/usr/bin/env bash
# The main job: installs the dependencies, builds the image tool, and runs it on the bundled photo:
# the JPEG is loaded as NV12 into (emulated) platform memory, resized, annotated with boxes, lines,
# points and text, framed by a padded border, and written to out/astronaut_annotated.jpg.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build -j"$(nproc)" --target kavo_imagetool

mkdir -p out
./build/bin/kavo_imagetool data/astronaut.jpg out/astronaut_annotated.jpg \
  resize=768,768 \
  box=0.29,0.04,0.60,0.38,0,255,0,0.004 \
  "text=0.29,0.40,0,255,0,0.03:FACE 0.98" \
  box=0.68,0.00,0.93,0.56,255,255,0,0.004 \
  "text=0.69,0.575,255,255,0,0.03:SHUTTLE" \
  box=0.54,0.66,1.00,1.00,0,200,255,0.004 \
  "text=0.55,0.62,0,200,255,0.03:HELMET" \
  line=0.445,0.45,0.445,0.62,255,0,255,0.003 \
  point=0.40,0.22,255,0,0,0.008 \
  point=0.49,0.22,255,0,0,0.008 \
  "text=0.02,0.955,255,255,255,0.03:kavocpp_util" \
  pad=16,16,16,16,40,40,40
echo "open out/astronaut_annotated.jpg to see the result"
