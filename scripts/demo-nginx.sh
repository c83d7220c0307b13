#!/usr/bin/env bash
# The main job served by nginx (deploy/nginx/qlr.conf) instead of qlr-server,
# with 6-39 as a staged rollout (0%, then 100%), on a fresh sandbox machine
# and a fresh Wine prefix; then the check-in report of both, as one HTML page
# (its path is printed; QLR_DEMO_OPEN=1 opens it).
set -euo pipefail
cd "$(dirname "$0")/.."
QLR_DEMO_NGINX=1 exec scripts/demo.sh "$@"
