#!/bin/bash
# A stopped picture save with 20,000 files in its temporary folder, beside deleting such a
# folder in place.
# Usage: stop_bench.sh BINDIR [FILES]
set -euo pipefail
"$1/stop_bench" "${2:-20000}"
