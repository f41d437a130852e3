#!/usr/bin/env bash
# The AppStream metainfo passes appstreamcli's validator and names the desktop
# entry; its newest release, and the changelog's, are the project's version.
# Usage: appstream.sh SOURCE-FOLDER VERSION
set -uo pipefail
source_dir=$1
version=$2
id=org.orvelle.Orvelle
metainfo=$source_dir/data/$id.metainfo.xml
desktop=$source_dir/data/$id.desktop
for tool in appstreamcli dpkg-parsechangelog; do
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

appstreamcli validate --no-net --no-color "$metainfo" || fail "appstreamcli validate reports a problem"
grep -qF "<id>$id</id>" "$metainfo" || fail "the metainfo's id is not $id"
grep -qF "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
    fail "the metainfo does not launch $id.desktop"
grep -qF "<project_license>GPL-3.0-or-later</project_license>" "$metainfo" ||
    fail "the metainfo's project_license is not GPL-3.0-or-later"
grep -q "<screenshot" "$metainfo" && fail "a screenshot needs a public address: there is none"
[ -f "$desktop" ] || fail "no desktop entry $desktop"
grep -qx "StartupWMClass=$id" "$desktop" || fail "the desktop entry's StartupWMClass is not $id"

newest=$(grep -oE '<release version="[^"]+"' "$metainfo" | head -n 1 | cut -d'"' -f2)
[ "$newest" = "$version" ] || fail "the metainfo's newest release is '$newest', the project is $version"
logged=$(dpkg-parsechangelog -l "$source_dir/data/changelog" -S Version)
[ "$logged" = "$version" ] || fail "data/changelog's newest entry is '$logged', the project is $version"

if [ "$failures" -ne 0 ]; then
    echo "$failures failed"
    exit 1
fi
echo "AppStream metainfo valid, for $id.desktop, release $version"
