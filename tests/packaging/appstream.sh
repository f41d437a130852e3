#!/usr/bin/env bash
# The AppStream metainfo passes appstreamcli's validator, pedantic hints included,
# names the desktop entry, a homepage and the README's screenshot; its newest
# release, and the changelog's, are the project's version.
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

report=$(appstreamcli validate --pedantic --no-net --no-color "$metainfo") ||
    fail "appstreamcli validate reports a problem"
# The one hint allowed: the id's capital letter. The id is also the desktop
# entry's name, the Wayland app id and the X11 class, which desktops remember
# (pinned launchers, window rules), so it stays as it is.
issues=$(printf '%s\n' "$report" | grep -E '^[EWIP]: ' | grep -v ' cid-contains-uppercase-letter ')
[ -z "$issues" ] || fail "appstreamcli validate --pedantic: $issues"
grep -qF "<id>$id</id>" "$metainfo" || fail "the metainfo's id is not $id"
grep -qF "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
    fail "the metainfo does not launch $id.desktop"
grep -qF "<project_license>GPL-3.0-or-later</project_license>" "$metainfo" ||
    fail "the metainfo's project_license is not GPL-3.0-or-later"
grep -qE '<url type="homepage">https://[^<]+</url>' "$metainfo" || fail "the metainfo names no homepage"
grep -qE '<image type="source"[^>]*>https://[^<]+/docs/screenshot\.png</image>' "$metainfo" ||
    fail "the metainfo's screenshot is not docs/screenshot.png at a public address"
[ -f "$source_dir/docs/screenshot.png" ] || fail "no docs/screenshot.png"
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
