#!/usr/bin/env python3
"""Checks that the files under packaging/ agree with each other and with the
build: one application id everywhere, the version of the project in the
metainfo's newest release, the changelog and the manual page, icons of the
sizes they claim, one workspace media type in the MIME package, the desktop
entry and the metainfo, and a service unit that runs the headless mode
without privileges. A version bump or a renamed file that misses one of them
fails here, long before a package is built.

usage: packaging.py <source dir>
"""
import re
import struct
import sys
import xml.etree.ElementTree as ET
from pathlib import Path

ICON_SIZES = [16, 22, 24, 32, 48, 64, 128, 256]
WORKSPACE_TYPE = "application/x-portwright-workspace"
MIME_NS = "{http://www.freedesktop.org/standards/shared-mime-info}"
SERVICE = "portwright-headless@.service"


def png_size(path):
    data = path.read_bytes()[:24]
    if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", data[16:24])


def desktop_entry(path):
    entry = {}
    for line in path.read_text(encoding="utf-8").splitlines():
        if "=" in line and not line.startswith("#"):
            key, value = line.split("=", 1)
            entry[key] = value
    return entry


def unit_keys(path):
    """{(section, key): [values]} of a systemd unit, comments left out."""
    keys, section = {}, None
    for line in path.read_text(encoding="utf-8").splitlines():
        line = line.strip()
        if not line or line.startswith(("#", ";")):
            continue
        if line.startswith("[") and line.endswith("]"):
            section = line[1:-1]
        elif "=" in line:
            key, value = line.split("=", 1)
            keys.setdefault((section, key.strip()), []).append(value.strip())
    return keys


def main(source):
    packaging = source / "packaging"
    problems = []

    def check(ok, message):
        if not ok:
            problems.append(message)

    project = re.search(r"project\(Portwright VERSION ([0-9.]+)", (source / "CMakeLists.txt").read_text())
    version = project.group(1)
    rules = (packaging / "install.cmake").read_text()
    app_id = re.search(r"set\(PW_APP_ID (\S+)\)", rules).group(1)

    desktop_path = packaging / f"{app_id}.desktop"
    metainfo_path = packaging / f"{app_id}.metainfo.xml"
    check(desktop_path.is_file(), f"no desktop entry {desktop_path.name}")
    check(metainfo_path.is_file(), f"no metainfo {metainfo_path.name}")
    if problems:
        return problems

    entry = desktop_entry(desktop_path)
    check(entry.get("Icon") == app_id, f"desktop Icon={entry.get('Icon')}, not {app_id}")
    check(entry.get("Exec", "").split(" ")[0] == "portwright", f"desktop Exec={entry.get('Exec')}")
    categories = entry.get("Categories", "").split(";")
    check("Network" in categories and "Development" in categories, f"desktop Categories={entry.get('Categories')}")

    component = ET.parse(metainfo_path).getroot()
    check(component.findtext("id") == app_id, f"metainfo id {component.findtext('id')}, not {app_id}")
    check(component.findtext("launchable") == f"{app_id}.desktop",
          f"metainfo launchable {component.findtext('launchable')}")
    releases = [r.get("version") for r in component.iter("release")]
    check(releases[:1] == [version], f"metainfo's newest release {releases[:1]}, project version {version}")

    changelog = (packaging / "changelog").read_text(encoding="utf-8").splitlines()[0]
    check(changelog.startswith(f"portwright ({version})"), f"changelog starts '{changelog}', project version {version}")
    man_header = (packaging / "portwright.1").read_text(encoding="utf-8").splitlines()[0]
    check(f'"Portwright {version}"' in man_header, f"manual page header '{man_header}', project version {version}")

    check(entry.get("Exec") == "portwright %f", f"desktop Exec={entry.get('Exec')}, not 'portwright %f'")
    check(WORKSPACE_TYPE in entry.get("MimeType", "").split(";"), f"desktop MimeType={entry.get('MimeType')}")
    check(WORKSPACE_TYPE in [m.text for m in component.iter("mediatype")], "metainfo provides no workspace mediatype")
    mime_path = packaging / "portwright-workspace.xml"
    check(mime_path.is_file(), f"no MIME package {mime_path.name}")
    if mime_path.is_file():
        types = ET.parse(mime_path).getroot().findall(f"{MIME_NS}mime-type")
        check([t.get("type") for t in types] == [WORKSPACE_TYPE], f"the MIME package defines {[t.get('type') for t in types]}")
        for mime_type in types:
            globs = [g.get("pattern") for g in mime_type.findall(f"{MIME_NS}glob")]
            check(globs == ["*.portwright"], f"workspace globs {globs}")
            parents = [p.get("type") for p in mime_type.findall(f"{MIME_NS}sub-class-of")]
            check(parents == ["application/json"], f"workspace sub-class-of {parents}")
    check(re.search(r"install\(FILES \$\{PW_PACKAGING_DIR\}/portwright-workspace\.xml\s+"
                    r"DESTINATION \$\{CMAKE_INSTALL_DATADIR\}/mime/packages\)", rules) is not None,
          "install.cmake does not install the MIME package to share/mime/packages")

    service_path = packaging / SERVICE
    check(service_path.is_file(), f"no service unit {SERVICE}")
    check(re.search(rf"install\(FILES \$\{{PW_PACKAGING_DIR\}}/{re.escape(SERVICE)}\s+"
                    r"DESTINATION lib/systemd/system\)", rules) is not None,
          f"install.cmake does not install {SERVICE} to lib/systemd/system")
    if service_path.is_file():
        unit = unit_keys(service_path)
        wanted = {
            ("Service", "ExecStart"): ["/usr/bin/portwright --headless /etc/portwright/%i.json"],
            ("Service", "DynamicUser"): ["yes"],
            ("Service", "Restart"): ["on-failure"],
            ("Service", "RestartPreventExitStatus"): ["2"],
            ("Service", "NoNewPrivileges"): ["yes"],
            ("Service", "ProtectSystem"): ["strict"],
            ("Service", "ProtectHome"): ["yes"],
            ("Service", "PrivateTmp"): ["yes"],
            ("Service", "StandardOutput"): ["journal"],
            ("Install", "WantedBy"): ["multi-user.target"],
        }
        for key, values in wanted.items():
            check(unit.get(key) == values, f"{SERVICE}: {key[1]}={unit.get(key)}, not {values}")
        restart_sec = unit.get(("Service", "RestartSec"), ["0"])[0]
        check(re.fullmatch(r"[1-9][0-9]*s?", restart_sec) is not None, f"{SERVICE}: RestartSec={restart_sec}")
        # Granted by a drop-in where a workspace needs a port below 1024.
        check(("Service", "AmbientCapabilities") not in unit, f"{SERVICE} grants capabilities by default")
        check("dialout" in " ".join(unit.get(("Service", "SupplementaryGroups"), [])), f"{SERVICE} lacks dialout")
        # A port in use must not restart the unit for ever.
        check(("Unit", "StartLimitBurst") in unit and ("Unit", "StartLimitIntervalSec") in unit, f"{SERVICE}: no start limit")
        families = " ".join(unit.get(("Service", "RestrictAddressFamilies"), ["AF_INET AF_INET6"])).split()
        check("AF_INET" in families and "AF_INET6" in families, f"{SERVICE} cannot open IP sockets: {families}")
    check("DIRECTORY DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/portwright)" in rules, "no /etc/portwright")
    # What the program is, as each place names it, and one home page: the window's.
    for name, text in [("deb", re.search(r'SUMMARY "(.*)"', rules).group(1) + " ".join(re.findall(r'^  "(.*)"', rules, re.M))),
                       ("desktop", entry.get("GenericName", "") + entry.get("Comment", ""))]:
        check(text.count("serial") >= 2, f"the {name} descriptions leave out serial ports")
    check(all("串口" in entry.get(k, "") for k in ["GenericName[zh_CN]", "Comment[zh_CN]"]), "zh_CN leaves out serial ports")
    home = re.search(r'HomePage = QStringLiteral\("([^"]+)"', (source / "src/ui/infopanel.cpp").read_text()).group(1)
    check([u.text for u in component.iter("url") if u.get("type") == "homepage"] == [home], f"metainfo homepage not {home}")
    check(f'CPACK_DEBIAN_PACKAGE_HOMEPAGE "{home}"' in rules, f"the deb's Homepage is not {home}")

    man = (packaging / "portwright.1").read_text(encoding="utf-8")
    for documented in [r"\-\-headless", r"\-\-json", r"\-\-duration", r"\-\-keep\-going", ".I FILE",
                       "AmbientCapabilities=CAP_NET_BIND_SERVICE",
                       r"systemctl enable \-\-now portwright\-headless@rack1"]:
        check(documented in man, f"the manual page does not document {documented}")

    installed_sizes = re.search(r"foreach\(size ([0-9 ]+)\)", rules).group(1).split()
    check([int(s) for s in installed_sizes] == ICON_SIZES, f"install.cmake installs icon sizes {installed_sizes}")
    for size in ICON_SIZES:
        png = packaging / "icons" / f"portwright-{size}.png"
        check(png.is_file() and png_size(png) == (size, size),
              f"{png.name} is {png_size(png) if png.is_file() else 'missing'}, not {size}x{size}")
    svg = ET.parse(packaging / "icons" / "portwright.svg").getroot()
    view_box = svg.get("viewBox", "").split()
    check(len(view_box) == 4 and view_box[2] == view_box[3], f"the SVG's viewBox '{svg.get('viewBox')}' is not square")
    return problems


if __name__ == "__main__":
    found = main(Path(sys.argv[1]))
    for problem in found:
        print("packaging:", problem)
    sys.exit(1 if found else 0)
