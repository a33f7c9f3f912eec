"""What the installer tests compare: registry exports (one `reg export` file
per snapshot in the work folder) and the module's identifiers."""
import re
import sys

CLASSES = r"hkey_local_machine\software\classes"


def fail(message):
    sys.exit("FAIL: " + message)


def parse(work, name):
    """Key -> {value name: data} from a .reg export, keys in lower case."""
    keys, current = {}, None
    for line in open(f"{work}/{name}.txt", encoding="utf-8"):
        line = line.rstrip("\r\n")
        if line.startswith("[") and line.endswith("]"):
            current = keys.setdefault(line[1:-1].lower(), {})
        elif current is not None and "=" in line:
            value_name, data = line.split("=", 1)
            current[value_name] = data
    return keys


def identifiers(path):
    """Name -> "{GUID}" from resources/identifiers.h, where a comment with the
    registry form precedes each constant."""
    text = open(path).read()
    return dict((n, "{" + g + "}") for g, n in re.findall(r"// \{([0-9A-F-]+)\}\n[^\n]* (\w+) =", text))


# Windows Installer keeps its own (by then empty) bookkeeping keys; Wine
# enters the network cards whenever one of its services first looks.
def bookkeeping(key, values):
    return (not values and re.search(r"\\(classes|currentversion)\\installer(\\|$)", key)) or \
        re.search(r"\\windows nt\\currentversion\\networkcards(\\|$)", key)


def expect_unchanged(before, after, what):
    changed = sorted(k for k in set(before) | set(after)
                     if before.get(k) != after.get(k) and not (k not in before and bookkeeping(k, after[k])))
    if changed:
        fail(what + " left the registry changed at " + ", ".join(
            f"{k}: {before.get(k)} -> {after.get(k)}" for k in changed[:10]))


def com_entries(before, after, module_path, ids):
    """The module's COM keys that `after` adds to or changes from `before`,
    with the module's path written as <module>."""
    parts = (f"AppID\\{ids['APPID_Quillbrook']}", f"CLSID\\{ids['CLSID_PropertyHandler']}",
             f"CLSID\\{ids['CLSID_ThumbnailProvider']}")
    escaped = module_path.replace("\\", "\\\\")
    out = {}
    for key, values in after.items():
        if before.get(key) == values or not any(key.startswith(f"{CLASSES}\\{part}".lower()) for part in parts):
            continue
        out[key] = {n: d.replace(escaped, "<module>") for n, d in values.items()}
    return out
