#!/usr/bin/env python3
"""Packs dist/OvVBiosInstaller-<version>-win64.zip from the windows build:
the installer, the checker, the package signer and the log explainer, an
example packages layout, PACKAGE-AUTHORS.md and DEPLOYMENT.md. The same
inputs give the same bytes: fixed order, fixed time stamps and attributes, no
host data.

With OVVB_SIGN_PKCS12 and OVVB_SIGN_PASSWORD (and optionally
OVVB_TIMESTAMP_URL) every exe is signed with osslsigncode first (SHA-256, the
product name and the support address), and the example packages with the
linux build's OvVBiosPackageSign and the same certificate, since a signed
installer runs only a package its own publisher signed. A signature carries
its signing time, so only the unsigned zip is reproducible. When signing
cannot be done, no zip is left behind.
Usage: make-dist.py <source root> <build root> [output folder, default <source root>/dist]"""
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

root, build = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
version = re.search(r"project\(OvVBiosInstaller VERSION ([0-9.]+)", (root / "CMakeLists.txt").read_text()).group(1)
version += ".0" * (4 - version.count(".") - 1)
name = f"OvVBiosInstaller-{version}-win64"
files = [
    ("OvVBiosInstaller.exe", build / "windows/bin/OvVBiosInstaller.exe"),
    ("OvVBiosPackageCheck.exe", build / "windows/bin/OvVBiosPackageCheck.exe"),
    ("OvVBiosPackageSign.exe", build / "windows/bin/OvVBiosPackageSign.exe"),
    ("OvVBiosLogExplain.exe", build / "windows/bin/OvVBiosLogExplain.exe"),
    ("PACKAGE-AUTHORS.md", build / "dist/PACKAGE-AUTHORS.md"),
    ("DEPLOYMENT.md", build / "dist/DEPLOYMENT.md"),
]
example = root / "examples/packages/amd-dock"
files += [(f"packages/{p.name}", p) for p in sorted(example.iterdir()) if p.is_file()]

out = (pathlib.Path(sys.argv[3]) if len(sys.argv) > 3 else root / "dist") / f"{name}.zip"
out.parent.mkdir(exist_ok=True)


def stop(message):
    # A zip of an earlier run would pass for this one's: none is left.
    out.unlink(missing_ok=True)
    sys.exit(f"make dist: {message}; no zip was written")


def support_address():
    cache = build / "windows/CMakeCache.txt"
    found = re.search(r"^OVVB_GLOBAL_SUPPORT_ROOT:STRING=(.*)$", cache.read_text(), re.M)
    if not found:
        stop(f"no OVVB_GLOBAL_SUPPORT_ROOT in {cache}")
    return found.group(1)


def product_name():
    rc = (root / "installer/resources/installer.rc").read_text()
    return re.search(r'VALUE "ProductName", "([^"]+)"', rc).group(1)


def sign_packages(files, scratch, certificate, password):
    """Signs the example packages' copy in `scratch`; returns `files` with the signed package."""
    signer = build / "linux/bin/OvVBiosPackageSign"
    if not signer.is_file():
        stop(f"{signer} is missing (make build-linux), so the example packages cannot be signed")
    folder = scratch / "packages"
    folder.mkdir()
    others = []
    for arcname, path in files:
        if arcname.startswith("packages/"):
            shutil.copyfile(path, folder / arcname[len("packages/"):])
        else:
            others.append((arcname, path))
    # The password through standard input, never the command line.
    environment = {k: v for k, v in os.environ.items() if k != "OVVB_SIGN_PASSWORD"}
    run = subprocess.run([str(signer), str(folder), "--pkcs12", certificate], input=password + "\n",
                         capture_output=True, text=True, env=environment)
    if run.returncode != 0:
        detail = (run.stdout or run.stderr).strip().splitlines()
        stop(f"OvVBiosPackageSign could not sign the example packages with {certificate}: "
             f"{detail[-1] if detail else f'exit {run.returncode}'}")
    return others + [(f"packages/{p.name}", p) for p in sorted(folder.iterdir()) if p.is_file()]


def sign(files, scratch):
    """Signs every exe of `files` and the example packages into `scratch`; returns the list with the
    signed copies."""
    certificate = os.environ.get("OVVB_SIGN_PKCS12", "")
    password = os.environ.get("OVVB_SIGN_PASSWORD")
    if not certificate or password is None:
        stop("OVVB_SIGN_PKCS12 and OVVB_SIGN_PASSWORD go together: give both to sign, neither to build unsigned")
    if not pathlib.Path(certificate).is_file():
        stop(f"the certificate file OVVB_SIGN_PKCS12={certificate} does not exist")
    tool = shutil.which("osslsigncode")
    if tool is None:
        stop("osslsigncode is not installed (apt-get install osslsigncode), so the programs cannot be signed")
    signed = []
    for arcname, path in files:
        if not arcname.endswith(".exe"):
            signed.append((arcname, path))
            continue
        target = scratch / arcname
        command = [tool, "sign", "-pkcs12", certificate, "-readpass", "-", "-h", "sha256",
                   "-n", product_name(), "-i", support_address(), "-in", str(path), "-out", str(target)]
        if os.environ.get("OVVB_TIMESTAMP_URL"):
            command[2:2] = ["-ts", os.environ["OVVB_TIMESTAMP_URL"]]
        # The password goes through a pipe, never the command line other users can list.
        run = subprocess.run(command, input=password + "\n", capture_output=True, text=True)
        if run.returncode != 0 or not target.is_file():
            detail = (run.stderr or run.stdout).strip().splitlines()
            stop(f"osslsigncode could not sign {arcname} with {certificate} (a wrong OVVB_SIGN_PASSWORD, or not a "
                 f"PKCS#12 code-signing certificate?): {detail[-1] if detail else f'exit {run.returncode}'}")
        signed.append((arcname, target))
    return sign_packages(signed, scratch, certificate, password)


signing = "OVVB_SIGN_PKCS12" in os.environ or "OVVB_SIGN_PASSWORD" in os.environ
with tempfile.TemporaryDirectory(dir=build / "dist") as scratch:
    scratch = pathlib.Path(scratch)
    if signing:
        files = sign(files, scratch)
    # Written beside, then moved into place: an interrupted run leaves no half zip.
    partial = out.with_name(out.name + ".partial")
    try:
        with zipfile.ZipFile(partial, "w") as archive:
            for arcname, path in sorted(files):
                info = zipfile.ZipInfo(f"{name}/{arcname}", date_time=(2026, 1, 1, 0, 0, 0))
                info.compress_type = zipfile.ZIP_DEFLATED
                info.create_system = 0
                info.external_attr = 0
                archive.writestr(info, path.read_bytes(), compresslevel=9)
        os.replace(partial, out)
    finally:
        partial.unlink(missing_ok=True)
print(out)
