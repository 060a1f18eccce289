#!/usr/bin/env bash
# Renders the PNG sizes of the application icon from tessarin.svg.
set -euo pipefail
cd "$(dirname "$0")"
for s in 16 22 24 32 48 64 128 256; do
  mkdir -p "hicolor/${s}x${s}/apps"
  rsvg-convert -w "$s" -h "$s" tessarin.svg -o "hicolor/${s}x${s}/apps/tessarin.png"
done
