#!/usr/bin/env python3
"""Writes the release folder from the built executables (scripts/dist.sh prepares them): per
architecture a zip with Uninstall.exe and one with Uninstall.debug, the English reference
uninstall.lng, THIRD-PARTY-NOTICES.txt, the SPDX 2.3 bill of materials and SHA256SUMS.

Everything written depends only on the commit, the installed toolchain packages and the
executables: zip entries in a fixed order with the commit's time (SOURCE_DATE_EPOCH) and fixed
attributes, the bill of materials dated by the commit, no build path anywhere. What is linked in
comes from each build's link map; each file of it must belong to a component of
dist/components.txt and to that component's Debian package."""
import argparse
import fnmatch
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import time
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ARCHES = {"win32": ("i686", "32-bit"), "win64": ("x86-64", "64-bit")}
NAMESPACE = "https://www.bundlo.com/spdx/"


def fail(text):
    sys.exit(f"dist: {text}")


def version():
    with open(os.path.join(ROOT, "resources", "resource.h")) as f:
        match = re.search(r'#define BDL_VERSION_TEXT "([^"]+)"', f.read())
    return match.group(1)


def read_components():
    components = []
    with open(os.path.join(ROOT, "dist", "components.txt")) as f:
        for line in f:
            if line.strip() and not line.startswith("#"):
                name, package, files, expression, texts = (x.strip() for x in line.split("|"))
                components.append({"name": name, "package": package, "files": files.split(),
                                   "expression": expression, "texts": texts.split()})
    return components


def linked_files(link_map):
    """The toolchain's files in a link map: the archives members were taken from, and the
    objects loaded whole. Relative paths are the program's own objects and archives."""
    with open(link_map) as f:
        text = f.read()
    files = set(re.findall(r"^(/\S+?\.a)\(", text, re.M))
    files |= {path for path in re.findall(r"^LOAD (/\S+\.o)$", text, re.M)}
    return sorted(os.path.normpath(path) for path in files)


def dpkg_owner(path):
    # The package names the file by its installed path, which a link may hide.
    for name in dict.fromkeys([path, os.path.realpath(path)]):
        out = subprocess.run(["dpkg-query", "-S", name], capture_output=True, text=True)
        if out.returncode == 0:
            return out.stdout.split(":", 1)[0].strip()
    fail(f"{path} belongs to no installed package")


def dpkg_field(package, field):
    return subprocess.run(["dpkg-query", "-W", "-f", "${" + field + "}", package], check=True,
                          capture_output=True, text=True).stdout.strip()


def resolve(preset, build, components):
    """The components of one architecture's link, each with its package and version; fails on a
    linked file that no component claims or that comes from another package."""
    arch = ARCHES[preset][0]
    found = {}
    for path in linked_files(os.path.join(build, preset, "Uninstall.map")):
        owner = dpkg_owner(path)
        for component in components:
            package = component["package"].replace("ARCH", arch)
            if owner == package and any(fnmatch.fnmatch(os.path.basename(path), pattern)
                                        for pattern in component["files"]):
                found.setdefault(component["name"], dict(component, package=package))
                break
        else:
            fail(f"{path} ({owner}) is linked into the {preset} executable but no line of "
                 "dist/components.txt names it")
    for entry in found.values():
        entry["version"] = dpkg_field(entry["package"], "Version")
        entry["architecture"] = dpkg_field(entry["package"], "Architecture")
        entry["copyright"] = os.path.realpath(f"/usr/share/doc/{entry['package']}/copyright")
    return [found[c["name"]] for c in components if c["name"] in found]


def write_zip(path, name, source, epoch):
    # The commit's time for the entry, in UTC: a zip's DOS time knows no time zone, nor any
    # time before 1980.
    stamp = time.gmtime(max(epoch, 315532800))[:6]
    info = zipfile.ZipInfo(name, date_time=stamp)
    info.create_system = 3
    info.external_attr = 0o100644 << 16
    info.compress_type = zipfile.ZIP_DEFLATED
    with open(source, "rb") as f:
        data = f.read()
    with zipfile.ZipFile(path, "w") as archive:
        archive.writestr(info, data, compresslevel=9)


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def license_paragraph(copyright_text, name):
    """The text of a "License: NAME" paragraph of a Debian copyright file, the first that has
    one; its " ." lines are the blank lines of the text."""
    lines = copyright_text.splitlines()
    for index, line in enumerate(lines):
        if line.strip() == f"License: {name}":
            body = []
            for following in lines[index + 1:]:
                if not following.startswith((" ", "\t")):
                    break
                body.append("" if following.strip() == "." else following.strip())
            if body:
                return "\n".join(body)
    return None


def notices(program, by_arch):
    """Every component with its licence and packages, then each distinct licence text once,
    naming the files it was read from and the components it belongs to."""
    names, texts = [], {}
    for preset, components in by_arch.items():
        for c in components:
            if c["name"] not in names:
                names.append(c["name"])
            for path in [c["copyright"], *c["texts"]]:
                with open(path, encoding="utf-8") as f:
                    paths, owners = texts.setdefault(f.read().rstrip("\n"), ([], []))
                paths += [] if path in paths else [path]
                owners += [] if c["name"] in owners else [c["name"]]
    out = [f"{program}: third-party notices", "",
           "Uninstall.exe is linked statically with the components below, taken from the",
           "toolchain's Debian packages. Their copyright and licence texts follow the list,",
           "as the packages install them.", ""]
    for name in names:
        entries = [(preset, c) for preset, cs in by_arch.items() for c in cs if c["name"] == name]
        out.append(name)
        out.append(f"  Licence: {entries[0][1]['expression']}")
        for preset, c in entries:
            out.append(f"  {ARCHES[preset][1]}: Debian package {c['package']} {c['version']}")
        out.append("")
    for text, (paths, owners) in texts.items():
        out += ["=" * 78, f"{', '.join(owners)}: {', '.join(paths)}", "=" * 78, "", text, ""]
    return "\n".join(out) + "\n"


def bill_of_materials(program, ver, commit, epoch, exes, by_arch):
    def purl(c):
        quoted = c["version"].replace("%", "%25").replace("+", "%2B").replace(":", "%3A")
        return f"pkg:deb/debian/{c['package']}@{quoted}?arch={c['architecture']}"

    packages, relationships, refs = [], [], {}
    for preset, components in by_arch.items():
        exe_id = f"SPDXRef-Uninstall-{preset}"
        packages.append({
            "name": f"{program} ({ARCHES[preset][1]})", "SPDXID": exe_id, "versionInfo": ver,
            "packageFileName": "Uninstall.exe", "supplier": "Organization: Bundlo",
            "downloadLocation": "NOASSERTION", "filesAnalyzed": False,
            "checksums": [{"algorithm": "SHA256", "checksumValue": sha256(exes[preset])}],
            "sourceInfo": f"built from git commit {commit}",
            "licenseConcluded": "NOASSERTION", "licenseDeclared": "NOASSERTION",
            "copyrightText": "NOASSERTION", "primaryPackagePurpose": "APPLICATION"})
        relationships.append({"spdxElementId": "SPDXRef-DOCUMENT",
                              "relationshipType": "DESCRIBES", "relatedSpdxElement": exe_id})
        for c in components:
            spdx_id = f"SPDXRef-{preset}-" + re.sub(r"[^A-Za-z0-9.\-]", "x", c["name"])
            packages.append({
                "name": c["name"], "SPDXID": spdx_id, "versionInfo": c["version"],
                "downloadLocation": "NOASSERTION", "filesAnalyzed": False,
                "sourceInfo": f"Debian package {c['package']}",
                "licenseConcluded": c["expression"], "licenseDeclared": c["expression"],
                "copyrightText": "NOASSERTION", "primaryPackagePurpose": "LIBRARY",
                "externalRefs": [{"referenceCategory": "PACKAGE-MANAGER",
                                  "referenceType": "purl", "referenceLocator": purl(c)}]})
            relationships.append({"spdxElementId": exe_id, "relationshipType": "STATIC_LINK",
                                  "relatedSpdxElement": spdx_id})
            for ref in re.findall(r"LicenseRef-[A-Za-z0-9.\-]+", c["expression"]):
                with open(c["copyright"], encoding="utf-8") as f:
                    text = license_paragraph(f.read(), ref[len("LicenseRef-"):])
                if text is None:
                    fail(f"{c['copyright']} has no text for {ref}")
                refs.setdefault(ref, {"licenseId": ref, "name": ref[len("LicenseRef-"):],
                                      "extractedText": text})
    return {
        "spdxVersion": "SPDX-2.3", "dataLicense": "CC0-1.0", "SPDXID": "SPDXRef-DOCUMENT",
        "name": f"{program} {ver}",
        "documentNamespace": f"{NAMESPACE}Uninstall-{ver}-{commit}",
        "creationInfo": {
            "created": time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(epoch)),
            "creators": ["Organization: Bundlo", "Tool: bundlo-uninstall-dist"]},
        "packages": packages,
        "hasExtractedLicensingInfos": [refs[k] for k in sorted(refs)],
        "relationships": relationships}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--stage", required=True, help="win32/ and win64/ with what ships")
    parser.add_argument("--build", required=True, help="the build folder with the link maps")
    parser.add_argument("--out", required=True)
    parser.add_argument("--commit", required=True)
    args = parser.parse_args()
    epoch = int(os.environ["SOURCE_DATE_EPOCH"])
    ver, program = version(), "Bundlo Uninstall.exe"
    components = read_components()

    shutil.rmtree(args.out, ignore_errors=True)
    os.makedirs(args.out)
    exes, by_arch = {}, {}
    for preset in ARCHES:
        exes[preset] = os.path.join(args.stage, preset, "Uninstall.exe")
        write_zip(os.path.join(args.out, f"Uninstall-{ver}-{preset}.zip"), "Uninstall.exe",
                  exes[preset], epoch)
        write_zip(os.path.join(args.out, f"Uninstall-{ver}-{preset}-debug.zip"),
                  "Uninstall.debug", os.path.join(args.stage, preset, "Uninstall.debug"), epoch)
        by_arch[preset] = resolve(preset, args.build, components)
    shutil.copyfile(os.path.join(ROOT, "docs", "uninstall.lng"),
                    os.path.join(args.out, "uninstall.lng"))
    with open(os.path.join(args.out, "THIRD-PARTY-NOTICES.txt"), "w", encoding="utf-8") as f:
        f.write(notices(f"{program} {ver}", by_arch))
    sbom = os.path.join(args.out, f"Uninstall-{ver}.spdx.json")
    with open(sbom, "w", encoding="utf-8") as f:
        json.dump(bill_of_materials(program, ver, args.commit, epoch, exes, by_arch), f,
                  indent=2, sort_keys=False)
        f.write("\n")
    names = sorted(os.listdir(args.out))
    with open(os.path.join(args.out, "SHA256SUMS"), "w") as f:
        for name in names:
            f.write(f"{sha256(os.path.join(args.out, name))}  {name}\n")
    for preset, components in by_arch.items():
        print(f"dist: {preset} links " + ", ".join(f"{c['name']} {c['version']}"
                                                    for c in components))


if __name__ == "__main__":
    main()
