# Sourced by the benchmarks that save a site. make_site DIR writes the benchmark site into DIR:
# a start page with 200 pictures, 3 style sheets, 2 frames and 30 linked pages with 10
# pictures each (536 files), pictures of random bytes from 2 to 32 KiB.
make_site() {  # DIR
  local site=$1 i s f p
  mkdir -p "$site/img" "$site/css" "$site/pages"
  picture() { head -c $((2048 + RANDOM % 30720)) /dev/urandom >"$1"; }
  {
    echo '<html><head><title>Start</title>'
    for s in 1 2 3; do echo "<link rel=\"stylesheet\" href=\"css/s$s.css\">"; done
    echo '</head><body>'
    for f in 1 2; do echo "<frame src=\"frame$f.html\">"; done
    for i in $(seq 1 200); do echo "<p>Picture $i <img src=\"img/p$i.jpg\" alt=\"$i\"></p>"; done
    for p in $(seq 1 30); do echo "<p><a href=\"pages/page$p.html\">Page $p</a></p>"; done
    echo '</body></html>'
  } >"$site/index.html"
  for i in $(seq 1 200); do picture "$site/img/p$i.jpg"; done
  for s in 1 2 3; do printf 'body { margin: %dpx; color: #333; }\n' "$s" >"$site/css/s$s.css"; done
  for f in 1 2; do echo "<html><body><p>Frame $f</p></body></html>" >"$site/frame$f.html"; done
  for p in $(seq 1 30); do
    {
      echo "<html><head><link rel=\"stylesheet\" href=\"../css/s1.css\"></head><body><h1>Page $p</h1>"
      for i in $(seq 1 10); do echo "<img src=\"pic$p-$i.png\">"; done
      echo '<a href="../index.html">back</a></body></html>'
    } >"$site/pages/page$p.html"
    for i in $(seq 1 10); do picture "$site/pages/pic$p-$i.png"; done
  done
}
