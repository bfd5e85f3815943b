"""The layout of a PE file as far as packing a stub needs it: where the image
the linker wrote ends (whatever follows is the appended bundle and the
Authenticode certificate table) and where the certificate table is.

Every offset read from the file is checked against the file before use.
"""
import struct

MACHINE_I386 = 0x14C
MAGIC_PE32 = 0x10B
MAGIC_PE32_PLUS = 0x20B
SUBSYSTEM_WINDOWS_GUI = 2
FILE_EXECUTABLE_IMAGE = 0x0002
FILE_DLL = 0x2000
SECURITY_DIRECTORY = 4
SECTION_HEADER_SIZE = 40
COFF_SYMBOL_SIZE = 18
# The certificate table: WIN_CERTIFICATE records (length, revision 2, PKCS#7
# signed data), each on an 8-byte boundary. The stub refuses a table that
# holds anything else, and more than this many records.
CERTIFICATE_ALIGNMENT = 8
CERTIFICATE_REVISION_2 = 0x0200
CERTIFICATE_PKCS_SIGNED_DATA = 0x0002
MAX_CERTIFICATE_RECORDS = 8


class PeError(Exception):
    """The file is not the kind of image asked for; the text says why."""


class PeLayout:
    def __init__(self, **fields):
        self.__dict__.update(fields)

    @property
    def signed(self):
        return self.certificate_size != 0


def _u16(data, offset):
    return struct.unpack_from("<H", data, offset)[0]


def _u32(data, offset):
    return struct.unpack_from("<I", data, offset)[0]


def _need(data, end, what):
    if end > len(data):
        raise PeError(f"the file ends inside its {what}")


def read_layout(data):
    """The PE32/PE32+ layout of data (bytes); PeError when it is not a PE file."""
    if len(data) < 64 or data[:2] != b"MZ":
        raise PeError("not a Windows program (no MZ header)")
    pe = _u32(data, 0x3C)
    _need(data, pe + 24, "PE header")
    if data[pe:pe + 4] != b"PE\0\0":
        raise PeError("not a Windows program (no PE header)")
    machine, section_count, _, symbols_at, symbol_count, optional_size, characteristics = \
        struct.unpack_from("<HHIIIHH", data, pe + 4)
    optional = pe + 24
    _need(data, optional + 2, "optional header")
    magic = _u16(data, optional)
    if magic not in (MAGIC_PE32, MAGIC_PE32_PLUS):
        raise PeError(f"unknown optional header (magic 0x{magic:04x})")
    # The data directories follow 96 bytes of PE32 fields, 112 of PE32+.
    directories = optional + (96 if magic == MAGIC_PE32 else 112)
    _need(data, directories, "optional header")
    if optional_size < directories - optional:
        raise PeError("its optional header is too short")
    directory_count = _u32(data, directories - 4)
    certificate_entry = directories + 8 * SECURITY_DIRECTORY
    certificate_offset = certificate_size = 0
    if directory_count > SECURITY_DIRECTORY:
        if certificate_entry + 8 > optional + optional_size:
            raise PeError("its data directories run past the optional header")
        _need(data, certificate_entry + 8, "data directories")
        certificate_offset, certificate_size = struct.unpack_from("<II", data, certificate_entry)

    # The linker's image: the headers, every section's raw data and, in an
    # unstripped image, the COFF symbol and string tables.
    image_end = _u32(data, optional + 60)  # SizeOfHeaders
    sections = optional + optional_size
    _need(data, sections + section_count * SECTION_HEADER_SIZE, "section table")
    for i in range(section_count):
        header = sections + i * SECTION_HEADER_SIZE
        raw_size, raw_at = struct.unpack_from("<II", data, header + 16)
        if raw_size:
            image_end = max(image_end, raw_at + raw_size)
    if symbols_at and symbol_count:
        strings_at = symbols_at + symbol_count * COFF_SYMBOL_SIZE
        _need(data, strings_at + 4, "symbol table")
        image_end = max(image_end, strings_at + _u32(data, strings_at))
    _need(data, image_end, "sections")

    if certificate_size:
        if certificate_offset < image_end or certificate_offset % CERTIFICATE_ALIGNMENT:
            raise PeError("its certificate table is not after the image on an 8-byte boundary")
        if certificate_offset + certificate_size != len(data):
            raise PeError("its certificate table is not at the end of the file, after the image")
        check_certificate_records(data, certificate_offset, len(data))
    elif certificate_offset:
        raise PeError("its security directory names a certificate table of no bytes")

    return PeLayout(machine=machine, magic=magic, characteristics=characteristics,
                    subsystem=_u16(data, optional + 68), image_end=image_end,
                    checksum_at=optional + 64, certificate_entry=certificate_entry,
                    certificate_offset=certificate_offset, certificate_size=certificate_size)


def _der_sequence_length(data, at, end):
    """Total length of the DER SEQUENCE at data[at:end], or 0 when there is none."""
    if end - at < 2 or data[at] != 0x30:
        return 0
    if data[at + 1] < 0x80:
        return 2 + data[at + 1]
    count = data[at + 1] & 0x7F
    if count == 0 or count > 4 or end - at < 2 + count:
        return 0
    return 2 + count + int.from_bytes(data[at + 2:at + 2 + count], "big")


def check_certificate_records(data, offset, end):
    """PeError unless data[offset:end] holds signatures alone: records of
    revision 2 with PKCS#7 signed data whose DER length accounts for the
    record, and nothing after each blob but zeros to the next 8-byte boundary
    (the bytes the signature does not cover must hide nothing)."""
    records = 0
    while offset < end:
        records += 1
        if records > MAX_CERTIFICATE_RECORDS:
            raise PeError(f"its certificate table holds more than {MAX_CERTIFICATE_RECORDS} records")
        if end - offset < 8:
            raise PeError("its certificate table ends inside a record header")
        length, revision, kind = struct.unpack_from("<IHH", data, offset)
        if revision != CERTIFICATE_REVISION_2 or kind != CERTIFICATE_PKCS_SIGNED_DATA:
            raise PeError(f"its certificate table holds a record of revision 0x{revision:04x}, type {kind}, "
                          "not a PKCS#7 signature")
        if length <= 8 or length > end - offset:
            raise PeError(f"a certificate record's length ({length}) does not fit its table")
        blob = _der_sequence_length(data, offset + 8, end)
        if blob == 0 or 8 + blob > length:
            raise PeError("a certificate record does not hold one PKCS#7 blob")
        used = 8 + blob
        aligned = -(-used // CERTIFICATE_ALIGNMENT) * CERTIFICATE_ALIGNMENT
        following = min(aligned, end - offset)
        if length > aligned or data[offset + used:offset + following].strip(b"\0"):
            raise PeError("its certificate table holds more than its signatures")
        offset += following


def require_stub_program(layout):
    """PeError unless the layout is a 32-bit i386 Windows GUI program, as every stub is."""
    if layout.magic == MAGIC_PE32_PLUS:
        raise PeError("a 64-bit (PE32+) image; stubs are 32-bit PE32 programs")
    if layout.machine != MACHINE_I386:
        raise PeError(f"built for machine 0x{layout.machine:04x}, not i386")
    if layout.characteristics & FILE_DLL:
        raise PeError("a DLL, not a program")
    if not layout.characteristics & FILE_EXECUTABLE_IMAGE:
        raise PeError("not an executable image")
    if layout.subsystem != SUBSYSTEM_WINDOWS_GUI:
        raise PeError(f"not a GUI program (subsystem {layout.subsystem}); stubs are GUI programs")


def strip_to_image(data, layout):
    """The linker's image alone: the bytes after it cut off, the certificate
    table entry and the checksum cleared (signing writes both again)."""
    image = bytearray(data[:layout.image_end])
    if layout.certificate_entry + 8 <= len(image):
        struct.pack_into("<II", image, layout.certificate_entry, 0, 0)
    struct.pack_into("<I", image, layout.checksum_at, 0)
    return bytes(image)


def pe_checksum(data, checksum_at):
    """The optional header's checksum of the whole file: 16-bit words summed
    with end-around carry, the checksum field itself left out, plus the length."""
    padded = data + b"\0" * (len(data) % 2)
    words = memoryview(padded).cast("H")
    total = sum(words) - words[checksum_at // 2] - words[checksum_at // 2 + 1]
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def with_checksum(data, layout):
    """data with its checksum field set to the checksum of data."""
    result = bytearray(data)
    struct.pack_into("<I", result, layout.checksum_at, pe_checksum(bytes(result), layout.checksum_at))
    return bytes(result)
