# Sourced by the scripts that configure builds (scripts/test, scripts/build-windows): the compiler
# cache, where installed, for every build they configure (a new build directory takes the
# launcher at its first configure). Paths are hashed relative to the checkout, so another
# checkout of the same sources, CI's among them, finds the same objects. Needs $root.
if command -v ccache >/dev/null 2>&1; then
  export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-ccache}
  export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-true}
fi
