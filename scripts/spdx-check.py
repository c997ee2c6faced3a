#!/usr/bin/env python3
"""Checks an SPDX 2.3 JSON document offline: the fields the SPDX 2.3 format requires of the
document, its creation information, packages, extracted licences and relationships; that the
element ids are well formed, unique and resolve; and that every licence expression parses and
uses ids from the SPDX licence list (Debian's node-spdx-license-ids and node-spdx-exceptions) or
a LicenseRef the document defines. Prints each fault and fails when there is one.
Usage: spdx-check.py FILE..."""
import json
import re
import sys

LICENSE_IDS = "/usr/share/nodejs/spdx-license-ids/index.json"
DEPRECATED_IDS = "/usr/share/nodejs/spdx-license-ids/deprecated.json"
EXCEPTION_IDS = "/usr/share/nodejs/spdx-exceptions/index.json"

ID = re.compile(r"SPDXRef-[A-Za-z0-9.\-]+$")
LICENSE_REF = re.compile(r"LicenseRef-[A-Za-z0-9.\-]+$")
CREATED = re.compile(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")
CREATOR = re.compile(r"(Person|Organization|Tool): \S")
SUPPLIER = re.compile(r"(Person|Organization): \S|NOASSERTION$")
CHECKSUM_LENGTHS = {"SHA1": 40, "SHA224": 56, "SHA256": 64, "SHA384": 96, "SHA512": 128,
                    "SHA3-256": 64, "SHA3-384": 96, "SHA3-512": 128, "MD5": 32,
                    "BLAKE2b-256": 64, "BLAKE2b-384": 96, "BLAKE2b-512": 128, "BLAKE3": None,
                    "MD2": 32, "MD4": 32, "MD6": None, "ADLER32": 8}
PURPOSES = {"APPLICATION", "FRAMEWORK", "LIBRARY", "CONTAINER", "OPERATING-SYSTEM", "DEVICE",
            "FIRMWARE", "SOURCE", "ARCHIVE", "FILE", "INSTALL", "OTHER"}
RELATIONSHIPS = {
    "DESCRIBES", "DESCRIBED_BY", "CONTAINS", "CONTAINED_BY", "DEPENDS_ON", "DEPENDENCY_OF",
    "DEPENDENCY_MANIFEST_OF", "BUILD_DEPENDENCY_OF", "DEV_DEPENDENCY_OF",
    "OPTIONAL_DEPENDENCY_OF", "PROVIDED_DEPENDENCY_OF", "TEST_DEPENDENCY_OF",
    "RUNTIME_DEPENDENCY_OF", "EXAMPLE_OF", "GENERATES", "GENERATED_FROM", "ANCESTOR_OF",
    "DESCENDANT_OF", "VARIANT_OF", "DISTRIBUTION_ARTIFACT", "PATCH_FOR", "PATCH_APPLIED",
    "COPY_OF", "FILE_ADDED", "FILE_DELETED", "FILE_MODIFIED", "EXPANDED_FROM_ARCHIVE",
    "DYNAMIC_LINK", "STATIC_LINK", "DATA_FILE_OF", "TEST_CASE_OF", "BUILD_TOOL_OF",
    "DEV_TOOL_OF", "TEST_OF", "TEST_TOOL_OF", "DOCUMENTATION_OF", "OPTIONAL_COMPONENT_OF",
    "METAFILE_OF", "PACKAGE_OF", "AMENDS", "PREREQUISITE_FOR", "HAS_PREREQUISITE",
    "REQUIREMENT_DESCRIPTION_FOR", "OTHER"}


def load_ids(path):
    with open(path) as f:
        return set(json.load(f))


class Checker:
    def __init__(self, licenses, exceptions):
        self.licenses, self.exceptions = licenses, exceptions
        self.faults = []

    def fault(self, where, text):
        self.faults.append(f"{where}: {text}")

    def require(self, record, where, *fields):
        for field in fields:
            value = record.get(field) if isinstance(record, dict) else None
            if value is None or value == "" or value == []:
                self.fault(where, f"required field {field} missing")

    def expression(self, text, where, refs):
        """A licence expression: ids joined by AND and OR, an id WITH an exception, brackets;
        NONE and NOASSERTION stand alone."""
        if text in ("NONE", "NOASSERTION"):
            return
        tokens = re.findall(r"\(|\)|[^\s()]+", text)
        position = 0

        def peek():
            return tokens[position] if position < len(tokens) else None

        def term():
            nonlocal position
            token = peek()
            if token == "(":
                position += 1
                disjunction()
                if peek() != ")":
                    raise ValueError("unclosed bracket")
                position += 1
                return
            if token is None or token in ("AND", "OR", "WITH", ")"):
                raise ValueError(f"licence id expected at {token!r}")
            position += 1
            name = token[:-1] if token.endswith("+") else token
            if LICENSE_REF.match(name):
                if name not in refs:
                    raise ValueError(f"{name} is not defined in hasExtractedLicensingInfos")
            elif name not in self.licenses:
                raise ValueError(f"{name} is not on the SPDX licence list")
            if peek() == "WITH":
                position += 1
                exception = peek()
                if exception not in self.exceptions:
                    raise ValueError(f"{exception!r} is not on the SPDX exception list")
                position += 1

        def conjunction():
            nonlocal position
            term()
            while peek() == "AND":
                position += 1
                term()

        def disjunction():
            nonlocal position
            conjunction()
            while peek() == "OR":
                position += 1
                conjunction()

        try:
            disjunction()
            if peek() is not None:
                raise ValueError(f"unexpected {peek()!r}")
        except ValueError as error:
            self.fault(where, f"licence expression {text!r}: {error}")

    def document(self, doc):
        if not isinstance(doc, dict):
            self.fault("document", "not a JSON object")
            return
        self.require(doc, "document", "spdxVersion", "dataLicense", "SPDXID", "name",
                     "documentNamespace", "creationInfo")
        if doc.get("spdxVersion") != "SPDX-2.3":
            self.fault("document", f"spdxVersion {doc.get('spdxVersion')!r}, not SPDX-2.3")
        if doc.get("dataLicense") != "CC0-1.0":
            self.fault("document", "dataLicense must be CC0-1.0")
        if doc.get("SPDXID") != "SPDXRef-DOCUMENT":
            self.fault("document", "SPDXID must be SPDXRef-DOCUMENT")
        namespace = doc.get("documentNamespace", "")
        if not re.match(r"[a-z][a-z0-9+.\-]*://\S+$", namespace) or "#" in namespace:
            self.fault("document", f"documentNamespace {namespace!r} is no URI without '#'")
        info = doc.get("creationInfo") or {}
        self.require(info, "creationInfo", "created", "creators")
        if not CREATED.match(str(info.get("created", ""))):
            self.fault("creationInfo", "created is not YYYY-MM-DDThh:mm:ssZ")
        for creator in info.get("creators", []):
            if not CREATOR.match(creator):
                self.fault("creationInfo", f"creator {creator!r}")

        refs = set()
        for index, extracted in enumerate(doc.get("hasExtractedLicensingInfos", [])):
            where = f"hasExtractedLicensingInfos[{index}]"
            self.require(extracted, where, "licenseId", "extractedText")
            if not LICENSE_REF.match(str(extracted.get("licenseId", ""))):
                self.fault(where, f"licenseId {extracted.get('licenseId')!r}")
            refs.add(extracted.get("licenseId"))

        ids = {"SPDXRef-DOCUMENT"}
        for index, package in enumerate(doc.get("packages", [])):
            where = f"packages[{index}]"
            self.require(package, where, "name", "SPDXID", "downloadLocation")
            spdx_id = package.get("SPDXID", "")
            if not ID.match(spdx_id) or spdx_id in ids:
                self.fault(where, f"SPDXID {spdx_id!r} malformed or not unique")
            ids.add(spdx_id)
            if package.get("filesAnalyzed", True) and "packageVerificationCode" not in package:
                self.fault(where, "files analyzed but no packageVerificationCode")
            if "supplier" in package and not SUPPLIER.match(package["supplier"]):
                self.fault(where, f"supplier {package['supplier']!r}")
            if package.get("primaryPackagePurpose", "OTHER") not in PURPOSES:
                self.fault(where, f"primaryPackagePurpose {package['primaryPackagePurpose']!r}")
            for field in ("licenseConcluded", "licenseDeclared"):
                if field in package:
                    self.expression(package[field], f"{where}.{field}", refs)
            for checksum in package.get("checksums", []):
                algorithm, value = checksum.get("algorithm"), checksum.get("checksumValue", "")
                if algorithm not in CHECKSUM_LENGTHS or not re.match(r"[0-9a-f]+$", value) or \
                        CHECKSUM_LENGTHS[algorithm] not in (None, len(value)):
                    self.fault(where, f"checksum {algorithm} {value!r}")
            for ref in package.get("externalRefs", []):
                self.require(ref, f"{where}.externalRefs", "referenceCategory", "referenceType",
                             "referenceLocator")
        if not doc.get("packages"):
            self.fault("document", "no packages")

        describes = False
        for index, relation in enumerate(doc.get("relationships", [])):
            where = f"relationships[{index}]"
            self.require(relation, where, "spdxElementId", "relationshipType",
                         "relatedSpdxElement")
            if relation.get("relationshipType") not in RELATIONSHIPS:
                self.fault(where, f"relationshipType {relation.get('relationshipType')!r}")
            for end in ("spdxElementId", "relatedSpdxElement"):
                if relation.get(end) not in ids | {"NONE", "NOASSERTION"}:
                    self.fault(where, f"{end} {relation.get(end)!r} names no element")
            describes |= relation.get("spdxElementId") == "SPDXRef-DOCUMENT" and \
                relation.get("relationshipType") == "DESCRIBES"
        if not describes and not doc.get("documentDescribes"):
            self.fault("document", "describes nothing (no DESCRIBES relationship)")


def main():
    licenses = load_ids(LICENSE_IDS) | load_ids(DEPRECATED_IDS)
    exceptions = load_ids(EXCEPTION_IDS)
    failed = False
    for path in sys.argv[1:]:
        checker = Checker(licenses, exceptions)
        try:
            with open(path) as f:
                checker.document(json.load(f))
        except json.JSONDecodeError as error:
            checker.fault("document", f"not JSON: {error}")
        for line in checker.faults:
            print(f"{path}: {line}")
        print(f"spdx-check: {path}: " + (f"{len(checker.faults)} faults" if checker.faults
                                         else "SPDX 2.3, valid"))
        failed |= bool(checker.faults)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
