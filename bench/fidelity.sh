#!/bin/bash
# How faithful a saved copy is: real documentation sites from Debian packages, made by
# different tools, served by nginx (gzip on) on 127.0.0.1, saved with
# `qmsave pages --complete` and beside it with `wget -p -k -E -r -l1`. For each site it
# prints the files and the median time of three saves by each, the local references that
# name no file, and for the start page and a few of its linked pages the script errors and
# the likeness of each copy to the online page in headless Chromium (1 - RMSE of the two
# screenshots).
# A benchmark, not a test: it needs the documentation packages (setup-packages fidelity).
# Usage: fidelity.sh BINDIR [LINKED-PAGES-PER-SITE [SITE...]]
set -euo pipefail
bin=$(cd "$1" && pwd)
linked=${2:-4}
only=("${@:3}")
here=$(cd "$(dirname "$0")" && pwd)
. "$here/serve_www.sh"
make_workspace fidelity

# name | generator | folder | start page
sites=(
  "python|Sphinx|/usr/share/doc/python3-doc/html|index.html"
  "debian-reference|DocBook|/usr/share/debian-reference|index.en.html"
  "sdl2|Doxygen|/usr/share/doc/libsdl2-doc/html|index.html"
  "git|AsciiDoc|/usr/share/doc/git/html|git.html"
  "debian-handbook|Publican|/usr/share/doc/debian-handbook/html/en-US|index.html"
  "sqlite|by hand|/usr/share/doc/sqlite3|index.html"
  "javadoc|Javadoc|/usr/share/doc/libcommons-lang3-java/api|index.html"
  "rustdoc|rustdoc|/usr/share/doc/cargo/doc|quote/index.html"
  "mkdocs|MkDocs|/usr/share/doc/mkdocs/html|index.html"
)

choose_sites "${only[@]}"

mkdir -p "$work/www" "$work/nginx/logs"
for s in "${sites[@]}"; do
  IFS='|' read -r name _ folder _ <<<"$s"
  [ -d "$folder" ] || { echo "fidelity: $folder is missing (run scripts/setup-packages fidelity)" >&2; exit 1; }
  ln -s "$folder" "$work/www/$name"
done

serve_www 18180 fidelity

now() { date +%s%N; }

# A page in headless Chromium, drawn whole before the shot (a large page is otherwise shot
# half laid out now and then): its screenshot, and its script errors on standard output.
shoot() {  # URL PNG
  local profile; profile=$(mktemp -d "$work/profile.XXXX")
  timeout 60 chromium --headless --no-sandbox --disable-gpu --disable-background-networking \
    --no-first-run --hide-scrollbars --user-data-dir="$profile" --window-size=1280,1600 \
    --virtual-time-budget=4000 --run-all-compositor-stages-before-draw \
    --enable-logging=stderr --v=0 --screenshot="$2" "$1" \
    >/dev/null 2>"$profile.log" || true
  grep -c 'CONSOLE.*Uncaught' "$profile.log" || true
  rm -rf "$profile" "$profile.log"
}
likeness() {  # PNG PNG
  [ -s "$1" ] && [ -s "$2" ] || { echo 0; return; }
  local r; r=$(compare -metric RMSE "$1" "$2" null: 2>&1 | sed -nE 's/.*\(([0-9.e-]+)\).*/\1/p' || true)
  awk -v r="${r:-1}" 'BEGIN { printf "%.4f", 1 - r }'
}

best() {  # ONLINE ONLINE-AGAIN COPY
  printf '%s\n' "$(likeness "$1" "$3")" "$(likeness "$2" "$3")" | sort -rn | head -1
}

# Relative references in the saved pages and style sheets that name no file.
missing() {  # FOLDER
  python3 - "$1" <<'EOF'
import os, re, sys, urllib.parse
root = sys.argv[1]
attr = re.compile(r'''(?:\s)(?:href|src|poster|background|data)\s*=\s*(?:"([^"]*)"|'([^']*)'|([^\s>"']+))''', re.I)
srcset = re.compile(r'''\ssrcset\s*=\s*(?:"([^"]*)"|'([^']*)')''', re.I)
css = re.compile(r'''url\(\s*(?:"([^"]*)"|'([^']*)'|([^)\s"']*))\s*\)|@import\s+(?:"([^"]*)"|'([^']*)')''', re.I)
comment = re.compile(r'/\*.*?\*/', re.S)
strip = re.compile(r'<!--.*?-->|<script\b[^>]*>.*?</script>', re.S | re.I)
tag = re.compile(r'<[a-zA-Z][^>]*>', re.S)
import html
count = 0
for folder, _, files in os.walk(root):
    for f in files:
        if not re.search(r'\.(html?|css)$', f, re.I):
            continue
        path = os.path.join(folder, f)
        text = open(path, 'rb').read().decode('latin-1')
        values = []
        if f.lower().endswith('.css'):
            text = comment.sub('', text)
            values += [next(g for g in m if g) for m in css.findall(text) if any(m)]
        else:
            body = strip.sub('', text)
            for t in tag.findall(body):
                values += [next(g for g in m if g) for m in attr.findall(t) if any(m)]
                for m in srcset.findall(t):
                    v = m[0] or m[1]
                    values += [c.strip().split()[0] for c in v.split(',') if c.strip()]
            # CSS only where a page holds it: style elements and style attributes.
            styles = re.findall(r'<style\b[^>]*>(.*?)</style>', body, re.S | re.I)
            styles += [a or b for a, b in re.findall(r"""\sstyle\s*=\s*(?:"([^"]*)"|'([^']*)')""", body, re.I)]
            for block in styles:
                block = comment.sub('', html.unescape(block))
                values += [next(g for g in m if g) for m in css.findall(block) if any(m)]
        for v in values:
            v = html.unescape(v).strip()
            if not v or v.startswith(('#', '//')) or re.match(r'^[a-zA-Z][a-zA-Z0-9+.-]*:', v):
                continue
            v = v.split('#')[0].split('?')[0]
            if not v:
                continue
            target = os.path.normpath(os.path.join(folder, urllib.parse.unquote(v)))
            if not os.path.exists(target):
                count += 1
print(count)
EOF
}

printf '%s\n' "| Site | Made with | Files (qmsave / wget) | Time s, median of 3 (qmsave / wget) | Missing local references (qmsave / wget) | Script errors (online / qmsave / wget) | Likeness, min and mean (qmsave / wget) |"
printf '%s\n' "|---|---|---|---|---|---|---|"
for s in "${sites[@]}"; do
  IFS='|' read -r name tool _ start <<<"$s"
  url=$base/$name/$start
  q=$work/q/$name; w=$work/w/$name
  # Each save three times into an empty folder, in turns; the median time, the last copy.
  qts=(); wts=()
  for _ in 1 2 3; do
    rm -rf "$q" "$w"; mkdir -p "$q" "$w"
    t=$(now)
    "$bin/qmsave" pages "$url" "$q/index.html" --complete 2>"$work/$name.qmsave" || true
    qts+=($(( $(now) - t )))
    t=$(now)
    (cd "$w" && wget -q -p -k -E -r -l1 -nH "$url" 2>/dev/null) || true
    wts+=($(( $(now) - t )))
  done
  qt=$(printf '%s\n' "${qts[@]}" | sort -n | sed -n 2p)
  wt=$(printf '%s\n' "${wts[@]}" | sort -n | sed -n 2p)
  qf=$(find "$q" -type f | wc -l); wf=$(find "$w" -type f | wc -l)
  qm=$(missing "$q"); wm=$(missing "$w")

  # The start page and the first linked pages of the site that qmsave saved as pages.
  pages=("$url|$q/index.html")
  while IFS= read -r line; do
    pages+=("$line")
  done < <(sed -nE 's/^ *[0-9]+  page +(http[^ ]+) -> (.+\.html)$/\1|\2/p' "$work/$name.qmsave" |
           grep "^$base/$name/" | grep -v "^$url|" | head -n "$linked")
  errors_online=0; errors_q=0; errors_w=0; likes_q=(); likes_w=()
  i=0
  for p in "${pages[@]}"; do
    purl=${p%%|*}; qfile=${p#*|}
    rel=${purl#$base/}
    wfile=$w/$rel; [ -f "$wfile" ] || wfile=$wfile.html
    i=$((i + 1))
    # The online page twice: some pages are not drawn the same way twice (late fonts and
    # scripts), and a copy is as like the page as it is like either drawing.
    errors_online=$(( errors_online + $(shoot "$purl" "$work/$name-on$i.png") ))
    shoot "$purl" "$work/$name-on$i-again.png" >/dev/null
    errors_q=$(( errors_q + $(shoot "file://$qfile" "$work/$name-q$i.png") ))
    errors_w=$(( errors_w + $(shoot "file://$wfile" "$work/$name-w$i.png") ))
    likes_q+=("$(best "$work/$name-on$i.png" "$work/$name-on$i-again.png" "$work/$name-q$i.png")")
    likes_w+=("$(best "$work/$name-on$i.png" "$work/$name-on$i-again.png" "$work/$name-w$i.png")")
  done
  stat() { printf '%s\n' "$@" | awk 'NR == 1 || $1 < m { m = $1 } { s += $1 } END { printf "%.3f, %.3f", m, s / NR }'; }
  printf '| %s | %s | %d / %d | %.3f / %.3f | %d / %d | %d / %d / %d | %s / %s |\n' \
    "$name (${#pages[@]} pages)" "$tool" "$qf" "$wf" "$(awk -v n="$qt" 'BEGIN{print n/1e9}')" \
    "$(awk -v n="$wt" 'BEGIN{print n/1e9}')" "$qm" "$wm" "$errors_online" "$errors_q" "$errors_w" \
    "$(stat "${likes_q[@]}")" "$(stat "${likes_w[@]}")"
done
