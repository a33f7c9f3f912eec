"""Makes a stopped Wine prefix's registry share the keys of
HKLM\\Software\\Classes between the 64-bit and the 32-bit view as Windows
does: since Windows 7 only CLSID, Interface and a few keys of no concern here
are kept apart per view (under Wow6432Node); .flac, SystemFileAssociations,
AppID and TypeLib are one key, whichever view writes them. Wine 8 keeps them
apart (TypeLib aside): here the 32-bit view's keys become links to the
64-bit ones, which Wine follows like any key.
usage: shared_class_keys.py PREFIX"""
import sys

SHARED = (".flac", "SystemFileAssociations", "AppID", "TypeLib")


def link_value(target):
    data = target.encode("utf-16-le")
    return '"SymbolicLinkValue"=hex(6):' + ",".join(f"{b:02x}" for b in data)


def main(prefix):
    path = f"{prefix}/system.reg"
    text = open(path, encoding="utf-8").read()
    blocks = text.split("\n\n")
    kept = []
    present = set()
    for block in blocks:
        header = block.split("\n", 1)[0]
        name = header[1:header.find("]")] if header.startswith("[") else ""
        for key in SHARED:
            own = f"Software\\\\Classes\\\\Wow6432Node\\\\{key}"
            if name.lower() == own.lower() and "#link" in block:
                present.add(key)
            elif name.lower() == own.lower() or name.lower().startswith(own.lower() + "\\\\"):
                break
        else:
            kept.append(block)
    if not text.endswith("\n"):
        kept[-1] += "\n"
    for key in SHARED:
        if key in present:
            continue
        target = f"Software\\\\Classes\\\\{key}"
        if not any(b.startswith(f"[{target}]") for b in kept):
            kept.append(f"[{target}] 0\n#time=0")
        kept.append(f"[Software\\\\Classes\\\\Wow6432Node\\\\{key}] 0\n#time=0\n#link\n" +
                    link_value(f"\\Registry\\Machine\\Software\\Classes\\{key}"))
    open(path, "w", encoding="utf-8").write("\n\n".join(kept).rstrip("\n") + "\n")


if __name__ == "__main__":
    main(sys.argv[1])
