#!/usr/bin/env bash
# The Debian package: CPack builds it from the build folder; its file list and
# its Depends are checked, lintian finds no error in it, and the programs
# unpacked from it with dpkg -x run.
# Usage: deb.sh BUILD-FOLDER VERSION
set -uo pipefail
build=$1
version=$2
for tool in cpack dpkg-deb dpkg-shlibdeps lintian; do
    if ! command -v $tool >/dev/null; then
        echo "SKIP: $tool is not installed (scripts/install-deps --packaging)"
        exit 77
    fi
done

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log" "$scratch"/out/_CPack_Packages/*/DEB/PreinstallOutput.log 2>/dev/null; echo "FAIL: cpack"; exit 1; }
deb=$scratch/out/orvelle_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { ls "$scratch/out"; echo "FAIL: no $(basename "$deb")"; exit 1; }
echo "built $(basename "$deb"), $(stat -c %s "$deb") bytes"

# Every file, and no other.
want=$(
    cat <<FILES | LC_ALL=C sort
./usr/bin/orvelle
./usr/bin/orvelle-harvest
./usr/share/applications/org.orvelle.Orvelle.desktop
./usr/share/bash-completion/completions/orvelle-harvest
./usr/share/doc/orvelle/changelog.gz
./usr/share/doc/orvelle/copyright
$(for size in 16 22 24 32 48 64 128 256; do
        echo "./usr/share/icons/hicolor/${size}x$size/apps/orvelle.png"
    done)
./usr/share/icons/hicolor/scalable/apps/orvelle.svg
./usr/share/man/man1/orvelle-harvest.1.gz
./usr/share/man/man1/orvelle.1.gz
./usr/share/metainfo/org.orvelle.Orvelle.metainfo.xml
FILES
)
got=$(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | LC_ALL=C sort)
if [ "$got" != "$want" ]; then
    fail "the package's files differ from the list:"
    diff <(echo "$want") <(echo "$got")
fi

# Depends: the libraries dpkg-shlibdeps found, and what it cannot see.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for package in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libcurl4 libsqlite3-0 \
    fonts-liberation qt6-qpa-plugins; do
    sed 's/ ([^)]*)//g; s/, /\n/g' <<<"$depends" | grep -qxF "$package" ||
        fail "Depends has no $package"
done
for field in Package:orvelle Version:$version Maintainer:"Orvelle developers <"; do
    value=$(dpkg-deb -f "$deb" "${field%%:*}")
    [[ $value == "${field#*:}"* ]] || fail "${field%%:*} is '$value'"
done

# lintian: no error (its warnings and notes are printed).
lintian --fail-on error --tag-display-limit 0 "$deb" 2>&1 | grep -v "root privileges"
[ "${PIPESTATUS[0]}" -eq 0 ] || fail "lintian reports an error"

# The programs, unpacked, run.
dpkg -x "$deb" "$scratch/root" || fail "dpkg -x"
out=$("$scratch/root/usr/bin/orvelle-harvest" --version) || fail "the unpacked orvelle-harvest --version failed"
[ "$out" = "orvelle-harvest $version" ] || fail "the unpacked orvelle-harvest --version says '$out'"
zcat "$scratch/root/usr/share/man/man1/orvelle-harvest.1.gz" | grep -qF -- '\-\-input' ||
    fail "the packaged orvelle-harvest(1) has no --input"

if [ "$failures" -ne 0 ]; then
    echo "$failures failed"
    exit 1
fi
echo "package: files, Depends, lintian and the unpacked orvelle-harvest --version all right"
