"""The UI bundle as a stub carries it: a ZIP archive of a folder appended
right after the PE image, before the certificate table.

The archive is deflated, with "/" separated names, no folder entries, no
comment and a fixed time stamp (the same folder gives the same bytes). The
stub looks for it only between the end of the image and the certificate
table the security directory names (the end of an unsigned file): the
archive must end there, followed by at most 7 zero bytes. It scans back for
the end record from that point, no further than a maximal comment (65535
bytes) plus the record; offsets in the archive count from its own first byte.
"""
import io
import os
import struct
import zipfile

START_PAGE = "Load.html"
FIXED_TIME = (2020, 1, 1, 0, 0, 0)
END_RECORD = b"PK\x05\x06"
END_RECORD_SIZE = 22
# How far back from the region's end the stub looks for the end record.
END_RECORD_REACH = 65535 + END_RECORD_SIZE
# Signing pads the file to a multiple of 8 before the certificate table.
MAX_PADDING = 7

# The stub reads no 64-bit ZIP extensions: fewer entries than this, and
# sizes below what would make the writer use them.
MAX_ENTRIES = 65535
MAX_FILE_BYTES = (1 << 31) - 1
# Every user downloads the stub: a bundle is pages and images, not payload.
MAX_BUNDLE_BYTES = 256 << 20
# The stub extracts below a folder in the user's temporary folder and paths
# stay within 260 characters: this leaves 100 for that folder.
MAX_NAME_CHARS = 160
# Characters Windows does not allow in a file name, or that would change the
# folder a name lands in once "/" becomes "\".
FORBIDDEN_CHARS = set('<>:"|?*\\')
# Names Windows opens as a device in any folder, with any extension.
RESERVED_STEMS = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"} | {f"COM{i}" for i in range(1, 10)} | \
    {f"LPT{i}" for i in range(1, 10)}


class BundleError(Exception):
    """The folder or the appended data is not a bundle a stub can use; the text says why."""


def _check_name(name):
    if any(ord(c) < 0x20 or ord(c) > 0x7E or c in FORBIDDEN_CHARS for c in name):
        raise BundleError(f"{name!r}: file names must be printable ASCII without < > : \" | ? * \\ "
                          "(the stub reads names in the system's code page)")
    if len(name) > MAX_NAME_CHARS:
        raise BundleError(f"{name}: {len(name)} characters; the stub's paths hold at most {MAX_NAME_CHARS}")
    if any(part.endswith((" ", ".")) for part in name.split("/")):
        raise BundleError(f"{name}: Windows drops a trailing blank or \".\" from a name")
    if any(part.split(".")[0].rstrip(" ").upper() in RESERVED_STEMS for part in name.split("/")):
        raise BundleError(f"{name}: Windows opens this name as a device")


def bundle_files(root):
    """(path, archive name) of every file below root, in a fixed order."""
    for folder, subfolders, files in os.walk(root):
        subfolders.sort()
        for name in subfolders + files:
            if os.path.islink(os.path.join(folder, name)):
                raise BundleError(f"{os.path.join(folder, name)} is a symbolic link; "
                                  "copy what it points to into the bundle")
        for name in sorted(files):
            path = os.path.join(folder, name)
            yield path, os.path.relpath(path, root).replace(os.sep, "/")


def zip_folder(root):
    """The archive bytes of the folder and its file count; BundleError when the
    stub could not use it."""
    if not os.path.isdir(root):
        raise BundleError(f"{root} is not a folder")
    if not os.path.isfile(os.path.join(root, START_PAGE)):
        raise BundleError(f"{root} has no {START_PAGE} at its top: the stub starts there")
    files = list(bundle_files(root))
    if not files:
        raise BundleError(f"{root} holds no files")
    if len(files) >= MAX_ENTRIES:
        raise BundleError(f"{root} holds {len(files)} files; a bundle holds fewer than {MAX_ENTRIES}")
    total = 0
    seen = {}
    for path, name in files:
        _check_name(name)
        # The stub refuses a bundle with two names that are one file on Windows.
        folded = name.upper()
        if folded in seen:
            raise BundleError(f"{name} and {seen[folded]} are one file on Windows, where case does not count")
        seen[folded] = name
        size = os.path.getsize(path)
        total += size
        if size > MAX_FILE_BYTES or total > MAX_BUNDLE_BYTES:
            raise BundleError(f"{root} holds more than {MAX_BUNDLE_BYTES >> 20} MiB; "
                              "a bundle is what every user downloads")

    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as archive:
        for path, name in files:
            info = zipfile.ZipInfo(name, FIXED_TIME)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            with open(path, "rb") as source:
                archive.writestr(info, source.read(), compresslevel=9)
    return buffer.getvalue(), len(files)


class Bundle:
    def __init__(self, names, size, end_record_at):
        self.names = names                  # archive names, in directory order
        self.size = size                    # bytes of archive
        self.end_record_at = end_record_at  # offset in the file


def find_bundle(data, start, end):
    """The bundle in data[start:end] (the bytes between the image and the
    certificate table): None when there are none, BundleError when they are
    not exactly one archive beginning at start, with at most the signing
    padding after it."""
    if start == end:
        return None
    region = data[start:end]
    at = region.rfind(END_RECORD)
    while at >= 0:
        if at + END_RECORD_SIZE <= len(region):
            comment = struct.unpack_from("<H", region, at + 20)[0]
            archive_end = at + END_RECORD_SIZE + comment
            tail = region[archive_end:]
            if archive_end <= len(region) and len(tail) <= MAX_PADDING and not tail.strip(b"\0"):
                break
        at = region.rfind(END_RECORD, 0, at)
    if at < 0:
        raise BundleError(f"the {end - start} bytes after its image are not a UI bundle")
    directory_size, directory_offset = struct.unpack_from("<II", region, at + 12)
    if directory_offset + directory_size != at:
        raise BundleError("the data after its image does not begin with its UI bundle")
    try:
        with zipfile.ZipFile(io.BytesIO(region[:archive_end])) as archive:
            names = archive.namelist()
    except (zipfile.BadZipFile, ValueError, struct.error, OSError, EOFError, NotImplementedError, OverflowError) as e:
        raise BundleError(f"its UI bundle is not a readable archive ({e})")
    if START_PAGE not in names:
        raise BundleError(f"its UI bundle has no {START_PAGE}")
    return Bundle(names, archive_end, start + at)


def stub_finds_end_record(data, end_record_at, region_end=None):
    """Whether the stub, scanning back from the end of the region (the
    certificate table's start, or the end of an unsigned file; read from
    data's security directory when not given), meets this end record first
    and within its reach."""
    if region_end is None:
        from pe_image import read_layout
        layout = read_layout(data)
        region_end = layout.certificate_offset if layout.signed else len(data)
    if region_end - end_record_at > END_RECORD_REACH:
        return False
    # The stub takes a signature only where a whole record fits after it.
    last = data.rfind(END_RECORD, 0, region_end - END_RECORD_SIZE + len(END_RECORD))
    return last == end_record_at
