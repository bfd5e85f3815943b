"""The files a bundle's pages name (src and href attributes, CSS url()) that
the bundle does not hold: a page that loads a missing script or style sheet
waits for it forever in the stub's small window, with nothing to say why.

Only references within the bundle count: addresses with a scheme ("https:",
"data:"), from the host's root ("/x", "//host/x"), fragments ("#id") and
script-built names ("${...}", "' + x + '") are not files the bundle carries.
Windows finds files whatever their case, so neither does this.
"""
import posixpath
import re

# Pages and style sheets larger than this are not read (and are named).
MAX_SCANNED_BYTES = 4 << 20

_ATTRIBUTE = re.compile(rb"""\b(?:src|href)\s*=\s*(?:"([^"]*)"|'([^']*)'|([^\s"'<>`=]+))""", re.IGNORECASE)
_URL = re.compile(rb"""\burl\(\s*(?:"([^"]*)"|'([^']*)'|([^)"'\s]*))\s*\)""", re.IGNORECASE)
_SCHEME = re.compile(r"^[A-Za-z][A-Za-z0-9+.-]*:")


def _targets(text, is_page):
    """The referenced addresses in one page (attributes and url()) or style sheet (url())."""
    patterns = [_ATTRIBUTE, _URL] if is_page else [_URL]
    for pattern in patterns:
        for match in pattern.finditer(text):
            raw = next(group for group in match.groups() if group is not None)
            yield raw.decode("latin-1").strip()


def _file_of(reference, referrer):
    """The bundle path a reference names, relative to its referrer's folder;
    None when it names no file of the bundle; "" when it climbs out of it."""
    if not reference or reference.startswith(("#", "/", "\\")) or _SCHEME.match(reference):
        return None
    if "${" in reference or "'" in reference or '"' in reference or "+" in reference:
        return None
    path = re.split(r"[?#]", reference, maxsplit=1)[0]
    if not path:
        return None
    joined = posixpath.normpath(posixpath.join(posixpath.dirname(referrer), path.replace("\\", "/")))
    if joined == ".." or joined.startswith("../"):
        return ""
    return joined


def missing_references(names, read):
    """Sorted "referrer: reference" lines for every reference of the pages
    (.html, .htm) and style sheets (.css) among names that names no file
    among them; read(name) gives a file's first MAX_SCANNED_BYTES + 1 bytes."""
    present = {name.lower() for name in names}
    missing = set()
    for name in names:
        lower = name.lower()
        is_page = lower.endswith((".html", ".htm"))
        if not is_page and not lower.endswith(".css"):
            continue
        text = read(name)
        if len(text) > MAX_SCANNED_BYTES:
            missing.add(f"{name}: larger than {MAX_SCANNED_BYTES >> 20} MiB, not read")
            continue
        for reference in _targets(text, is_page):
            target = _file_of(reference, name)
            if target is None:
                continue
            if target == "":
                missing.add(f"{name}: {reference} (outside the bundle)")
            elif target.lower() not in present:
                missing.add(f"{name}: {reference}")
    return sorted(missing)
