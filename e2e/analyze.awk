# Compares the speech fed into the microphone with what reached the cable.
# Input: two sox .dat files (time, sample per line), the feed first, then the
# recording; -v offset_ms=N is how long after the recording started the feed
# began. Prints "correlation C", "latency_ms L", "dropouts D" and
# "voiced_ms V". Envelopes are mean absolute values over 5 ms, at a 1 ms hop.
function envelope(samples, n, env,    i, b, nb, s, k) {
  nb = int(n / 48)
  for (b = 0; b < nb; b++) {
    s = 0
    for (k = 0; k < 48; k++) { v = samples[b * 48 + k]; s += (v < 0 ? -v : v) }
    block[b] = s / 48
  }
  for (b = 0; b < nb; b++) {
    s = 0
    for (k = b - 2; k <= b + 2; k++) if (k >= 0 && k < nb) s += block[k]
    env[b] = s / 5
  }
  return nb
}
FNR == 1 { file++ }
/^;/ { next }
file == 1 { feed[nf++] = $2 }
file == 2 { rec[nr++] = $2 }
END {
  ne = envelope(feed, nf, fenv)
  nre = envelope(rec, nr, renv)
  fmax = 0; for (i = 0; i < ne; i++) if (fenv[i] > fmax) fmax = fenv[i]
  rmax = 0; for (i = 0; i < nre; i++) if (renv[i] > rmax) rmax = renv[i]
  if (fmax <= 0 || rmax <= 0) { print "correlation 0"; print "latency_ms -1"; print "dropouts -1"; print "voiced_ms 0"; exit }
  fm = 0; for (i = 0; i < ne; i++) fm += fenv[i]; fm /= ne
  best = -2; bestLag = -1
  for (lag = 0; lag <= 1500; lag++) {
    sxy = 0; sxx = 0; syy = 0; rm = 0; cnt = 0
    for (i = 0; i < ne; i++) { j = i + offset_ms + lag; if (j >= 0 && j < nre) { rm += renv[j]; cnt++ } }
    if (cnt < ne / 2) continue
    rm /= cnt
    for (i = 0; i < ne; i++) {
      j = i + offset_ms + lag
      if (j < 0 || j >= nre) continue
      x = fenv[i] - fm; y = renv[j] - rm
      sxy += x * y; sxx += x * x; syy += y * y
    }
    if (sxx > 0 && syy > 0) { c = sxy / sqrt(sxx * syy); if (c > best) { best = c; bestLag = lag } }
  }
  # A dropout: the feed is voiced at full strength but the cable is close to
  # silent there, at every lag within 15 ms of the best one (the latency may
  # wander a little while the writer corrects drift).
  # Exact digital silence for 5 ms or more in the recording is a render gap.
  run = 0
  for (k = 0; k <= nr; k++) {
    if (k < nr && rec[k] == 0) { run++; continue }
    if (run >= 240) for (m = int((k - run) / 48); m <= int((k - 1) / 48); m++) silent[m] = 1
    run = 0
  }
  drop = 0; voiced = 0
  for (i = 0; i < ne; i++) {
    if (fenv[i] < 0.2 * fmax) continue
    voiced++
    heard = 0
    for (d = -15; d <= 15 && !heard; d++) {
      j = i + offset_ms + bestLag + d
      if (j >= 0 && j < nre && renv[j] / rmax >= 0.1 * fenv[i] / fmax) heard = 1
    }
    gap = 1
    for (d = -5; d <= 5; d++) if (!((i + offset_ms + bestLag + d) in silent)) gap = 0
    if (!heard || gap) {
      drop++
      if (verbose) printf "dropout at feed %d ms (feed %.4f)\n", i, fenv[i] / fmax
    }
  }
  printf "correlation %.3f\nlatency_ms %d\ndropouts %d\nvoiced_ms %d\n", best, bestLag, drop, voiced
}
