#!/usr/bin/env bash
# The main job: installs the dependencies, builds the face-detection pipeline and the frame sender,
# and runs them side by side. kavo_sender plays a camera process: a slow pan and zoom over
# data/astronaut.jpg, 1920x1080 NV12 frame buffers in (emulated) platform memory, their records sent
# over ZeroMQ at 30 frames/s for 6 s. kavo_pipeline reads them in place, finds the face with the
# BlazeFace network on the emulated NPU, tracks it, and writes annotated pictures and the
# statistics of every frame to out/.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build -j"$(nproc)" --target kavo_pipeline kavo_sender kavo_imagetool

mkdir -p out
rm -f out/frame_*.jpg out/pipeline_stats.json
addr="ipc:///tmp/kavo_demo.$$"
frames=180
./build/bin/kavo_pipeline --addr "$addr" --count "$frames" --every 15 --out out &
pipeline=$!
trap 'kill $pipeline 2> /dev/null || true' EXIT
# The sender binds the address and waits until the pipeline has subscribed.
./build/bin/kavo_sender --addr "$addr" --count "$frames" --fps 30 --ring 8 --quiet \
  --source synthetic:data/astronaut.jpg
wait $pipeline
trap - EXIT

# A small copy of the last picture, the one the README shows.
last=$(ls out/frame_*.jpg | tail -n 1)
./build/bin/kavo_imagetool "$last" out/pipeline_demo.jpg resize=576,324 > /dev/null
echo "annotated pictures: out/frame_*.jpg (every 15th frame); statistics: out/pipeline_stats.json"
