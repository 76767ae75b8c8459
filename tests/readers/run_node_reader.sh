#!/usr/bin/env bash
# Runs one node reader script; skips (exit 77) when node itself is missing.
# Usage: run_node_reader.sh SCRIPT SAMPLE_DIR
if ! command -v node >/dev/null 2>&1; then
  echo "SKIP: node is not installed (run tools/install-deps.sh --tests)"
  exit 77
fi
exec node "$@"
