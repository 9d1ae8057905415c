#!/usr/bin/env python3
"""Packs dist/OvVBiosInstaller-<version>-win64.zip from the windows build:
the installer, the checker and the log explainer, an example packages layout
and PACKAGE-AUTHORS.md. The same inputs give the same bytes: fixed order,
fixed time stamps and attributes, no host data.
Usage: make-dist.py <source root> <build root>"""
import pathlib
import re
import sys
import zipfile

root, build = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
version = re.search(r"project\(OvVBiosInstaller VERSION ([0-9.]+)", (root / "CMakeLists.txt").read_text()).group(1)
version += ".0" * (4 - version.count(".") - 1)
name = f"OvVBiosInstaller-{version}-win64"
files = [
    ("OvVBiosInstaller.exe", build / "windows/bin/OvVBiosInstaller.exe"),
    ("OvVBiosPackageCheck.exe", build / "windows/bin/OvVBiosPackageCheck.exe"),
    ("OvVBiosLogExplain.exe", build / "windows/bin/OvVBiosLogExplain.exe"),
    ("PACKAGE-AUTHORS.md", build / "dist/PACKAGE-AUTHORS.md"),
]
example = root / "examples/packages/amd-dock"
files += [(f"packages/{p.name}", p) for p in sorted(example.iterdir()) if p.is_file()]

out = root / "dist" / f"{name}.zip"
out.parent.mkdir(exist_ok=True)
with zipfile.ZipFile(out, "w") as archive:
    for arcname, path in sorted(files):
        info = zipfile.ZipInfo(f"{name}/{arcname}", date_time=(2026, 1, 1, 0, 0, 0))
        info.compress_type = zipfile.ZIP_DEFLATED
        info.create_system = 0
        info.external_attr = 0
        archive.writestr(info, path.read_bytes(), compresslevel=9)
print(out)
