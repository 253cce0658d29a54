#!/bin/bash
# qmsave page, pages and pictures against a small site served from a folder: exit statuses,
# progress lines, the files written and the one-line reasons.
# Usage: qmsave_verbs_test.sh BINDIR
set -uo pipefail
bin=$1
. "$(dirname "$0")/../support/serve_folder.sh"
failures=0
check() {  # DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}

mkdir -p "$work/site/img"
echo '<html><link href="s.css" rel=stylesheet><img src="img/a.gif"><a href="b.html">b</a><a href="http://127.0.0.2:1/far.html">far</a></html>' >"$work/site/index.html"
echo '<img src="img/a.gif"><img src="c.png"><img src="gone.png">' >"$work/site/b.html"
echo 'p{background:url(img/d.png)}' >"$work/site/s.css"
for p in img/a.gif c.png img/d.png; do echo "picture $p" >"$work/site/$p"; done

serve_folder "$bin" "$work/site" 120
host=127.0.0.1-$port

"$bin/qmsave" pages "$base/index.html" "$work/out/index.html" --complete 2>"$work/err"
check "pages with a missing picture exits 3" test $? -eq 3
check "pages reports the start page first, in the site's folders" grep -q "^ *1  page  *$base/index.html -> $work/out/http-/$host/index.html$" "$work/err"
check "pages reports the picture of the linked page" grep -q "picture  *$base/c.png -> $work/out/http-/$host/c.png$" "$work/err"
check "pages gives the missing picture's reason" grep -q "picture  *$base/gone.png failed: HTTP status 404$" "$work/err"
check "pages ends with the count" grep -qx "qmsave: 6 items saved (2 pages, 3 pictures, 1 style sheet, 0 frames, 0 scripts, 0 fonts, 0 media files), 1 failed" "$work/err"
check "the saved page points at the saved picture" grep -q "src=\"img/a.gif\"" "$work/out/http-/$host/index.html"
check "the named file opens the saved page" grep -q "url=http-/$host/index.html\"" "$work/out/index.html"
check "the counts run on" grep -q "^ *6  " "$work/err"
check "pages stays on the site" test -z "$(grep 127.0.0.2 "$work/err")"
"$bin/qmsave" pages "$base/index.html" "$work/far/index.html" --other-sites 2>"$work/err"
check "--other-sites follows links elsewhere" grep -q "page  *http://127.0.0.2:1/far.html failed: connection refused$" "$work/err"

"$bin/qmsave" pictures "$base/index.html" "$work/pics" 2>"$work/err"
check "pictures exits 0" test $? -eq 0
check "pictures are flat in the folder, pages gone" \
  test "$(cd "$work/pics" && ls | tr '\n' ' ')" = "http--$host-img-a.gif http--$host-img-d.png "

"$bin/qmsave" pages "$base/index.html" 2>"$work/err"
check "a missing file is a usage error" test $? -eq 2
"$bin/qmsave" page "http://127.0.0.1:1/" "$work/none.html" 2>"$work/err"
check "an unreachable page fails" test $? -eq 1
check "and says nothing was saved" grep -q "nothing was saved" "$work/err"
check "and why" grep -q "page  *http://127.0.0.1:1/ failed: connection refused$" "$work/err"

echo "$failures failed"
[ "$failures" -eq 0 ]
