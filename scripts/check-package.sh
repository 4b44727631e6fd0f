#!/usr/bin/env bash
# Builds the .deb (make package) and checks it as a user's machine and Debian's
# tools see it: the files it holds, the desktop entry, the AppStream metadata,
# the workspace media type, the headless service unit, lintian (errors fail, warnings are shown), and the program installed into a
# DESTDIR answering --version.
#
# PW_SKIP_VERSION_CHECK=1 leaves out the --version check, for trial runs on a
# branch whose program does not know the option yet; CI never sets it.
set -euo pipefail
cd "$(dirname "$0")/.."

app_id=io.github.portwright.Portwright
failures=0
fail() {
  echo "check-package: FAIL: $*" >&2
  failures=$((failures + 1))
}

make package
debs=(build-package/portwright_*.deb)
[ ${#debs[@]} -eq 1 ] || { echo "check-package: expected one .deb, found: ${debs[*]}" >&2; exit 1; }
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)
echo "== $deb (version $version)"

echo "== file list"
listing=$(dpkg-deb -c "$deb" | awk '{print $6}')
expected=(
  ./usr/bin/portwright
  ./usr/share/applications/$app_id.desktop
  ./usr/share/metainfo/$app_id.metainfo.xml
  ./usr/share/mime/packages/portwright-workspace.xml
  ./usr/lib/systemd/system/portwright-headless@.service
  ./usr/share/icons/hicolor/scalable/apps/$app_id.svg
  ./usr/share/man/man1/portwright.1.gz
  ./usr/share/doc/portwright/copyright
  ./usr/share/doc/portwright/changelog.gz
  ./etc/portwright/
)
for size in 16 22 24 32 48 64 128 256; do
  expected+=("./usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png")
done
for path in "${expected[@]}"; do
  grep -qxF "$path" <<<"$listing" || fail "the package lacks $path"
done
# Everything goes under /usr but the service's empty directory of workspaces:
# a file elsewhere would outlive a careless remove or clash with the system.
outside=$(grep -v -e '^\./$' -e '^\./usr/' -e '^\./etc/$' -e '^\./etc/portwright/$' <<<"$listing" || true)
[ -z "$outside" ] || fail "files outside /usr: $outside"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
grep -q 'libqt6widgets6' <<<"$depends" || fail "Depends does not name the Qt libraries (dpkg-shlibdeps did not run?)"
grep -q 'qt6-qpa-plugins' <<<"$depends" || fail "Depends lacks qt6-qpa-plugins"
grep -q 'fonts-wqy-microhei | fonts-noto-cjk' <<<"$depends" || fail "Depends lacks a font with Chinese glyphs"

destdir=$(mktemp -d)
trap 'rm -rf "$destdir"' EXIT
DESTDIR=$destdir cmake --install build-package >/dev/null
installed=$(cd "$destdir" && find . -type f | sort)
packaged=$(grep -v '/$' <<<"$listing" | sort)
[ "$installed" = "$packaged" ] || fail "the DESTDIR install and the package differ:
$(diff <(echo "$packaged") <(echo "$installed") || true)"

echo "== desktop entry"
desktop-file-validate "$destdir/usr/share/applications/$app_id.desktop" || fail "desktop-file-validate"

grep -qxF 'MimeType=application/x-portwright-workspace;' "$destdir/usr/share/applications/$app_id.desktop" ||
  fail "the desktop entry does not open workspaces"

echo "== workspace media type"
mime_xml=$destdir/usr/share/mime/packages/portwright-workspace.xml
if command -v xmllint >/dev/null; then
  xmllint --noout "$mime_xml" || fail "xmllint portwright-workspace.xml"
else
  echo "xmllint not installed: the MIME package is checked by tests/packaging.py only"
fi
if command -v update-mime-database >/dev/null; then
  mime_root=$(mktemp -d)
  mkdir -p "$mime_root/packages"
  cp "$mime_xml" "$mime_root/packages/"
  update-mime-database "$mime_root" || fail "update-mime-database does not take portwright-workspace.xml"
  [ -f "$mime_root/application/x-portwright-workspace.xml" ] || fail "update-mime-database made no workspace type"
  rm -rf "$mime_root"
fi

echo "== service unit"
unit=$destdir/usr/lib/systemd/system/portwright-headless@.service
if command -v systemd-analyze >/dev/null; then
  # Verified as an instance, with the program of the DESTDIR install in
  # /usr/bin's place; --man=no: the manual page is not installed on this
  # machine.
  unit_dir=$(mktemp -d)
  sed "s|/usr/bin/portwright|$destdir/usr/bin/portwright|" "$unit" >"$unit_dir/portwright-headless@rack1.service"
  systemd-analyze verify --man=no "$unit_dir/portwright-headless@rack1.service" || fail "systemd-analyze verify"
  rm -rf "$unit_dir"
else
  echo "systemd-analyze not installed: the unit's keys are checked by tests/packaging.py only"
fi

echo "== AppStream metadata"
appstreamcli validate --no-net "$destdir/usr/share/metainfo/$app_id.metainfo.xml" || fail "appstreamcli validate"
grep -q "<release version=\"$version\"" "$destdir/usr/share/metainfo/$app_id.metainfo.xml" ||
  fail "the metainfo has no release $version"

echo "== manual page"
gzip -t "$destdir/usr/share/man/man1/portwright.1.gz" || fail "portwright.1.gz is not gzip"
zcat "$destdir/usr/share/man/man1/portwright.1.gz" | grep -q "^\.TH PORTWRIGHT 1 .*\"Portwright $version\"" ||
  fail "the manual page's header does not name version $version"

echo "== lintian"
lintian --fail-on error --tag-display-limit 0 "$deb" || fail "lintian reports errors"

echo "== portwright --version"
if [ "${PW_SKIP_VERSION_CHECK:-}" = 1 ]; then
  echo "skipped (PW_SKIP_VERSION_CHECK=1)"
else
  want="Portwright $version"
  got=$(QT_QPA_PLATFORM=offscreen timeout 10 "$destdir/usr/bin/portwright" --version) || fail "portwright --version exited with $?"
  [ "$got" = "$want" ] || fail "portwright --version printed '$got', not '$want'"
fi

if ((failures)); then
  echo "check-package: $failures check(s) failed" >&2
  exit 1
fi
echo "check-package: all checks passed"
