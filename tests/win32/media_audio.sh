#!/bin/sh
# Makes the media tests' audio in OUTDIR: a 1 kHz sine rising linearly from
# silence to 0.9 over 3 s (so its level tells where in the file a sample came
# from) as WAV 44.1 kHz mono, FLAC 48 kHz stereo and MP3 44.1 kHz stereo, and
# a minute of MP3 for the decode speed figure.
set -eu
out=$1
mkdir -p "$out"
ramp="synth 3 sine 1000 fade t 3 vol 0.9"
sox -V1 -D -n -r 44100 -c 1 -b 16 "$out/ramp.wav" $ramp
sox -V1 -D -n -r 48000 -c 2 -b 16 "$out/ramp.flac" $ramp
sox -V1 -D -n -r 44100 -c 2 -C 128 "$out/ramp.mp3" $ramp
sox -V1 -D -n -r 44100 -c 2 -C 128 "$out/minute.mp3" synth 60 sine 440 vol 0.5
