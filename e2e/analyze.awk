# Compares the feed played into the microphone with what reached the cable.
# Input: two sox .dat files (time, sample per line), the feed first, then the
# cable's recording. Variables: offset_ms (how long after the recording
# started the feed began), period_ms, first_ms and bursts (the feed carries
# that many short loud chirps, one every period_ms from first_ms on), verbose.
# Prints "correlation C" (envelopes at the overall latency), "latency_ms L"
# (that latency), "bursts_found F of N", "latency_p50_ms" and
# "latency_p99_ms" (each chirp's own latency: envelope correlation around it,
# within 200 ms of the previous chirp's latency, the overall one to begin
# with, so a latency that wanders is followed: under wine each underflow of
# its PulseAudio stream delays the cable by about its length, up to 100 ms), "dropouts D" (runs of 2 ms or
# more of exact digital silence in the recording where the feed is voiced)
# and "dropout_ms M". Envelopes: mean absolute value of 1 ms bins, smoothed
# over 5 ms.
FNR == 1 { file++; acc = 0; cnt = 0 }
/^;/ { next }
file == 1 {
  v = $2; acc += (v < 0 ? -v : v)
  if (++cnt == 48) { fbin[nf++] = acc / 48; acc = 0; cnt = 0 }
  next
}
file == 2 {
  v = $2; acc += (v < 0 ? -v : v)
  if (v == 0) zrun++
  else { if (zrun >= 96) note_silence(nrs, zrun); zrun = 0 }
  nrs++
  if (++cnt == 48) { rbin[nr++] = acc / 48; acc = 0; cnt = 0 }
}
function note_silence(end, len) { sil_from[ns] = (end - len) / 48; sil_to[ns] = (end - 1) / 48; ns++ }
function smooth(bin, n, env,    b, k, s) {
  for (b = 0; b < n; b++) {
    s = 0
    for (k = b - 2; k <= b + 2; k++) if (k >= 0 && k < n) s += bin[k]
    env[b] = s / 5
  }
}
# Pearson correlation of feed bins [a, b) with the recording shifted by lag.
function corr(a, b, lag, step,    i, j, n, sx, sy, sxx, syy, sxy, x, y) {
  n = sx = sy = sxx = syy = sxy = 0
  for (i = a; i < b; i += step) {
    j = i + offset_ms + lag
    if (i < 0 || i >= nf || j < 0 || j >= nr) continue
    x = fenv[i]; y = renv[j]
    n++; sx += x; sy += y; sxx += x * x; syy += y * y; sxy += x * y
  }
  if (n < 2) return -2
  sxx -= sx * sx / n; syy -= sy * sy / n; sxy -= sx * sy / n
  return (sxx > 0 && syy > 0) ? sxy / sqrt(sxx * syy) : -2
}
function sort_numbers(arr, n,    i, j, t) {
  for (i = 1; i < n; i++) { t = arr[i]; for (j = i - 1; j >= 0 && arr[j] > t; j--) arr[j + 1] = arr[j]; arr[j + 1] = t }
}
function pct(arr, n, p,    k) { k = int(p / 100 * (n - 1) + 0.5); return arr[k] }
END {
  if (zrun >= 96) note_silence(nrs, zrun)
  smooth(fbin, nf, fenv); smooth(rbin, nr, renv)
  fmax = 0; for (i = 0; i < nf; i++) if (fenv[i] > fmax) fmax = fenv[i]
  rmax = 0; for (i = 0; i < nr; i++) if (renv[i] > rmax) rmax = renv[i]
  if (fmax <= 0 || rmax <= 0) {
    print "correlation 0"; print "latency_ms -1"; print "bursts_found 0 of 0"
    print "dropouts -1"; print "dropout_ms -1"; exit
  }
  # The overall latency: every 10th bin over 0-2000 ms, then every bin near the best.
  best = -2; lag0 = -1
  for (lag = 0; lag <= 2000; lag += 5) { c = corr(0, nf, lag, 10); if (c > best) { best = c; lag0 = lag } }
  best = -2
  for (lag = lag0 - 6; lag <= lag0 + 6; lag++) { c = corr(0, nf, lag, 1); if (c > best) { best = c; lag1 = lag } }
  lag0 = lag1
  # Each burst's latency.
  found = 0; total = 0; centre = lag0
  for (t = first_ms; t + 250 < nf && total < bursts; t += period_ms) {
    if (t + offset_ms + centre + 350 >= nr) break
    total++
    bc = -2; bl = 0
    for (lag = centre - 200; lag <= centre + 200; lag++) { c = corr(t - 50, t + 250, lag, 1); if (c > bc) { bc = c; bl = lag } }
    if (bc < 0.5) { if (verbose) printf "burst at %d ms not found (best %.2f)\n", t, bc; continue }
    bt[found] = t; bls[found] = bl; lat[found++] = bl; centre = bl
    if (verbose) printf "burst at %d ms: %d ms (%.2f)\n", t, bl, bc
  }
  sort_numbers(lat, found)
  # Dropouts: silence runs of the recording where the feed is voiced.
  voiced = 0.02 * fmax
  drops = 0; dropms = 0
  for (s = 0; s < ns; s++) {
    # The latency there: that of the burst nearest to it.
    L = lag0; bd = -1
    for (k = 0; k < found; k++) {
      d = sil_from[s] - offset_ms - bls[k] - bt[k]; if (d < 0) d = -d
      if (bd < 0 || d < bd) { bd = d; L = bls[k] }
    }
    hit = 0
    for (m = int(sil_from[s]); m <= int(sil_to[s]); m++) {
      i = m - offset_ms - L
      if (i >= 0 && i < nf && fenv[i] >= voiced) hit++
    }
    if (hit > 0) {
      drops++; dropms += sil_to[s] - sil_from[s]
      if (verbose) printf "dropout: %.1f ms of silence at recording %.1f ms (feed %d ms)\n", sil_to[s] - sil_from[s], sil_from[s], sil_from[s] - offset_ms - L
    }
  }
  printf "correlation %.3f\nlatency_ms %d\nbursts_found %d of %d\n", best, lag0, found, total
  if (found > 0) printf "latency_p50_ms %d\nlatency_p99_ms %d\n", pct(lat, found, 50), pct(lat, found, 99)
  printf "dropouts %d\ndropout_ms %.1f\n", drops, dropms
}
