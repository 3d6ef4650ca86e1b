#!/usr/bin/env python3
"""Checks the Windows module's file as the loader and a host see it, from
`objdump -p`: a 64-bit DLL named Lanthorn.aex exporting exactly EffectMain (1)
and PluginDataEntryFunction (2), importing only Windows' own DLLs, holding the
property list and the manifest and no other resource; and none of the
module's own objects carries a static initialiser or a DllMain, so loading
runs only the runtime's code.

usage: check_pe.py OBJDUMP MODULE OBJECT_LIST
"""
import re
import subprocess
import sys

SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "ntdll.dll", "ucrtbase.dll", "user32.dll",
               "advapi32.dll"}

# Type, name and language of each resource, then its leaf: PIPL 16000 in
# US English (0x409), 278 bytes; manifest (type 24) 2 in US English, 381 bytes.
EXPECTED_RESOURCES = [
    "name PIPL", "id 0x3e80", "id 0x409", "leaf 0x116",
    "id 0x18", "id 0x2", "id 0x409", "leaf 0x17d",
]

# Sections through which code would run at load time.
INITIALISER_SECTION = re.compile(r"^(\.ctors|\.dtors|\.init_array|\.fini_array|\.CRT\$X|\.tls)")

failures = []


def check(ok, what):
    print(("ok      " if ok else "FAILED  ") + what)
    if not ok:
        failures.append(what)


def objdump(tool, *args):
    return subprocess.run([tool, *args], check=True, capture_output=True, text=True).stdout


def section(text, start, end):
    """The lines of text from the line matching start up to the next matching end."""
    lines = text.splitlines()
    for i, line in enumerate(lines):
        if re.search(start, line):
            for j in range(i + 1, len(lines)):
                if re.search(end, lines[j]):
                    return lines[i:j]
            return lines[i:]
    return []


def main():
    if len(sys.argv) != 4:
        print(__doc__)
        return 2
    tool, module, object_list = sys.argv[1:]
    headers = objdump(tool, "-p", module)

    check("file format pei-x86-64" in headers, "a 64-bit PE file")
    check(re.search(r"^Magic\s+020b", headers, re.M) is not None, "PE32+ optional header")
    check(re.search(r"^\s+DLL$", headers, re.M) is not None, "a DLL")

    exports = section(headers, r"^The Export Tables", r"^The Function Table|^The \.rsrc|^PE File Base")
    export_text = "\n".join(exports)
    name = re.search(r"^Name\s+\S+\s+(\S+)$", export_text, re.M)
    check(name is not None and name.group(1) == "Lanthorn.aex",
          "export directory name is Lanthorn.aex (%s)" % (name.group(1) if name else "none"))
    base = re.search(r"^Ordinal Base\s+(\d+)", export_text, re.M)
    base = int(base.group(1)) if base else -1
    addresses = re.findall(r"^\s+\[\s*\d+\] \+base\[\s*(\d+)\]", export_text, re.M)
    names = section(export_text, r"^\[Ordinal/Name Pointer\] Table", r"^\s*$")
    named = {}
    for line in names:
        m = re.match(r"^\s+\[\s*(\d+)\] (\S+)$", line)
        if m:
            named[m.group(2)] = base + int(m.group(1))
    check(named == {"EffectMain": 1, "PluginDataEntryFunction": 2},
          "exports are exactly EffectMain @1 and PluginDataEntryFunction @2 (%s)" % named)
    check(sorted(int(a) for a in addresses) == [1, 2],
          "export address table holds ordinals 1 and 2 only (%s)" % addresses)

    imports = re.findall(r"DLL Name: (\S+)", headers)
    foreign = [d for d in imports
               if d.lower() not in SYSTEM_DLLS and not d.lower().startswith("api-ms-win-")]
    check(bool(imports) and not foreign,
          "imports only Windows' own DLLs (%s)" % ", ".join(imports))

    resources = []
    for line in section(headers, r"^The \.rsrc Resource Directory", r"^ String table|^\s*$"):
        m = re.search(r"Entry: name: \[.*\]: (\S+),", line)
        if m:
            resources.append("name " + m.group(1))
            continue
        m = re.search(r"Entry: ID: (0x[0-9a-f]+),", line)
        if m:
            resources.append("id " + hex(int(m.group(1), 16)))
            continue
        m = re.search(r"Leaf: Addr: \S+ Size: (0x[0-9a-f]+),", line)
        if m:
            resources.append("leaf " + hex(int(m.group(1), 16)))
    check(resources == EXPECTED_RESOURCES,
          "resources are PIPL 16000 (278 bytes) and manifest 2 (381 bytes), language 1033, "
          "nothing else (%s)" % resources)

    with open(object_list) as f:
        objects = [line.strip() for line in f if line.strip()]
    check(len(objects) > 0, "the module's object files are listed (%d)" % len(objects))
    for obj in objects:
        sections = []
        for line in objdump(tool, "-h", obj).splitlines():
            m = re.match(r"^\s*\d+ (\S+)", line)
            if m and INITIALISER_SECTION.match(m.group(1)):
                sections.append(m.group(1))
        check(not sections, "no static initialiser in %s %s" % (obj.rsplit("/", 1)[-1], sections))
        entry = re.findall(r"\(sec\s+[1-9]\d*\).*\s(DllMain|DllEntryPoint)$",
                           objdump(tool, "-t", obj), re.M)
        check(not entry, "no library entry point of our own in %s %s" % (obj.rsplit("/", 1)[-1], entry))

    print("%d failed" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
