#!/usr/bin/env python3
"""Checks that the files under packaging/ agree with each other and with the
build: one application id everywhere, the version of the project in the
metainfo's newest release, the changelog and the manual page, and icons of the
sizes they claim. A version bump or a renamed file that misses one of them
fails here, long before a package is built.

usage: packaging.py <source dir>
"""
import re
import struct
import sys
import xml.etree.ElementTree as ET
from pathlib import Path

ICON_SIZES = [16, 22, 24, 32, 48, 64, 128, 256]


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
