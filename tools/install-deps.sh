#!/usr/bin/env bash
# Installs what Pointfall needs on Debian 12 (run as root).
#   tools/install-deps.sh          build dependencies
#   tools/install-deps.sh --tests  also the independent file readers used by the tests,
#                                  clang with libFuzzer for fuzz/ and its OBJ seed files
#   tools/install-deps.sh --bench  also Embree, which only bench/cast_vs_embree uses
#                                  (the options may be combined)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export DEBIAN_FRONTEND=noninteractive

packages=(cmake ninja-build g++ qtbase5-dev qtbase5-dev-tools libcli11-dev
          libgtest-dev libgmock-dev libbenchmark-dev libgdal-dev fonts-dejavu-core libproj-dev
          libopenmpi-dev openmpi-bin)
tests=0
bench=0
for arg in "$@"; do
  case "$arg" in
    --tests) tests=1 ;;
    --bench) bench=1 ;;
    *) echo "install-deps.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done
if [ "$tests" = 1 ]; then
  # gdal-bin and numpy read the coverage raster and the points independently.
  packages+=(xvfb xauth gdal-bin python3-numpy)
  # clang with libFuzzer for fuzz/, and OBJ seed files for the OBJ target.
  packages+=(clang libclang-rt-14-dev libfuzzer-14-dev assimp-testmodels)
fi

apt-get update -qq
apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null

if [ "$bench" = 1 ]; then
  # A reference for the cast benchmark; the program never links it.
  apt-get install -y -qq --no-install-recommends libembree-dev >/dev/null
fi

if [ "$tests" = 1 ]; then
  # Readers that nobody here wrote. A reader that cannot be installed is
  # skipped by its test with a message; it never fails the build.
  apt-get install -y -qq --no-install-recommends cloudcompare >/dev/null 2>&1 \
    || echo "note: CloudCompare could not be installed; its checks will be skipped"
  if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
    apt-get install -y -qq --no-install-recommends nodejs npm >/dev/null 2>&1 \
      || echo "note: node/npm could not be installed; the LAS reader checks will be skipped"
  fi
  if command -v npm >/dev/null; then
    mkdir -p "$root/.deps/readers"
    (cd "$root/.deps/readers" && [ -f package.json ] || echo '{"private":true}' > package.json)
    # Pinned: @loaders.gl/las 4.5.1 wants @loaders.gl/core ~4.4.0; all three
    # work with node 20.
    npm install --silent --no-audit --no-fund --save-exact --prefix "$root/.deps/readers" \
      @loaders.gl/core@4.4.3 @loaders.gl/las@4.5.1 las-header@0.0.4 copc@0.0.8 >/dev/null 2>&1 \
      || echo "note: the npm LAS readers could not be installed; their checks will be skipped"
  fi
fi
