#!/usr/bin/env python3
"""Where the bytes of ZorvikSetup.exe go: the embedded payloads, the window template, the icon images,
and the rest (the stub: code, constants, import and relocation tables, resources other than the icon,
headers and alignment padding), with a breakdown by section.

Usage: stub-size.py <ZorvikSetup.exe> <folder with the six embedded payload files>
Prints "key=value" lines; "stub" is the file size less payload arrays (header and bytes), template
and icon images (RT_ICON data).
"""
import os
import struct
import sys

NAMES = ["zvmain", "zvmix", "zvtune", "zvlock", "zvaux", "zvchat"]
RT_ICON = 3
RT_GROUP_ICON = 14


def sections(image):
    e_lfanew = struct.unpack_from("<I", image, 0x3C)[0]
    count = struct.unpack_from("<H", image, e_lfanew + 6)[0]
    optional_size = struct.unpack_from("<H", image, e_lfanew + 20)[0]
    optional = e_lfanew + 24
    data_dirs = optional + 96
    table = optional + optional_size
    result = []
    for i in range(count):
        raw = image[table + 40 * i: table + 40 * (i + 1)]
        name = raw[:8].rstrip(b"\0").decode()
        vsize, va, rawsize, rawptr = struct.unpack_from("<IIII", raw, 8)
        result.append(dict(name=name, vsize=vsize, va=va, rawsize=rawsize, rawptr=rawptr))
    headers = struct.unpack_from("<I", image, optional + 60)[0]  # SizeOfHeaders
    resource_rva, resource_size = struct.unpack_from("<II", image, data_dirs + 8 * 2)
    return result, headers, resource_rva


def rva_to_offset(secs, rva):
    for s in secs:
        if s["va"] <= rva < s["va"] + max(s["vsize"], s["rawsize"]):
            return s["rawptr"] + rva - s["va"]
    raise ValueError("rva %x outside the sections" % rva)


def resource_sizes(image, secs, resource_rva):
    """Total data bytes per resource type id."""
    if resource_rva == 0:
        return {}
    base = rva_to_offset(secs, resource_rva)
    totals = {}

    def walk(offset, depth, type_id):
        named, ids = struct.unpack_from("<HH", image, offset + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", image, offset + 16 + 8 * i)
            tid = type_id if depth > 0 else (name if not name & 0x80000000 else -1)
            if target & 0x80000000:
                walk(base + (target & 0x7FFFFFFF), depth + 1, tid)
            else:
                data_rva, size = struct.unpack_from("<II", image, base + target)
                totals[tid] = totals.get(tid, 0) + size

    walk(base, 0, None)
    return totals


def template_block(image):
    """Offset and length of the window template: its window table holds the wizard's WindowId."""
    signature = struct.pack("<II", 8, 0x52010001)
    at = image.find(signature)
    while at >= 0:
        try:
            p = at + 4 + 8
            for _ in range(1):  # one window
                p += 8  # two u32 values
                for _ in range(2):  # two strings
                    p += 4 + struct.unpack_from("<I", image, p)[0]
                p += 4  # unit count
                p += 4 + struct.unpack_from("<I", image, p)[0]
            if p - at < 65536:
                return at, p - at
        except struct.error:
            pass
        at = image.find(signature, at + 1)
    return None, 0


def main():
    exe, payload_dir = sys.argv[1], sys.argv[2]
    image = open(exe, "rb").read()
    secs, headers, resource_rva = sections(image)
    found = {}
    payload_total = 0
    for name in NAMES:
        data = open(os.path.join(payload_dir, name + ".exe"), "rb").read()
        block = struct.pack("<ii", 1, len(data)) + data
        at = image.find(block)
        if at < 0:
            sys.exit("payload %s is not embedded in %s" % (name, exe))
        found[name] = (at, len(block))
        payload_total += len(block)
    tpl_at, tpl_len = template_block(image)
    resources = resource_sizes(image, secs, resource_rva)
    icon = resources.get(RT_ICON, 0)
    icon_group = resources.get(RT_GROUP_ICON, 0)

    print("file=%d" % len(image))
    print("payloads=%d" % payload_total)
    print("template=%d" % tpl_len)
    print("icon_images=%d" % icon)
    print("stub=%d" % (len(image) - payload_total - tpl_len - icon))
    print("headers=%d" % headers)
    for s in secs:
        inside = s["rawsize"]
        for at, length in found.values():
            if s["rawptr"] <= at < s["rawptr"] + s["rawsize"]:
                inside -= length
        if tpl_at is not None and s["rawptr"] <= tpl_at < s["rawptr"] + s["rawsize"]:
            inside -= tpl_len
        if s["name"] == ".rsrc":
            inside -= icon
        print("section%s=%d" % (s["name"], inside))
    print("rsrc_icon_group=%d" % icon_group)
    for tid, size in sorted(resources.items(), key=lambda kv: str(kv[0])):
        if tid not in (RT_ICON, RT_GROUP_ICON):
            print("rsrc_type_%s=%d" % (tid, size))


if __name__ == "__main__":
    main()
