# Sourced by the package tests: deb_from <package file | build dir> <scratch dir>
# sets $deb to the package to test. A build directory is packed with its own
# cpack configuration into the scratch folder, so the build tree's own package
# folder is left alone.
deb_from() {
  local source=$1 scratch=$2
  if [[ -f $source ]]; then
    deb=$source
    return 0
  fi
  [[ -d $source ]] && source=$(cd "$source" && pwd)
  [[ -f $source/CPackConfig.cmake ]] || { echo "FAIL: no package and no CPack configuration in '$source'" >&2; return 1; }
  mkdir -p "$scratch"
  if ! (cd "$scratch" && cpack --config "$source/CPackConfig.cmake" -G DEB -B "$scratch") \
      >"$scratch/cpack.log" 2>&1; then
    echo "FAIL: cpack failed:" >&2
    cat "$scratch/cpack.log" >&2
    return 1
  fi
  deb=$(sed -n 's/^CPack: - package: \(.*\.deb\) generated\.$/\1/p' "$scratch/cpack.log" | tail -n1)
  [[ -n $deb && -f $deb ]] || { echo "FAIL: cpack named no package" >&2; cat "$scratch/cpack.log" >&2; return 1; }
}
