#!/usr/bin/env python3
"""Reads back message files for the tests and prints what it found as JSON.

  msg_readback.py eml FILE.eml [wide]
                                the headers, bodies and attachments of a message that
                                msgconvert wrote; "wide" when msgconvert warned that it
                                printed wide characters
  msg_readback.py ole FILE.msg   every storage and stream of a compound file, with the
                                stream bytes, and whether each storage's children form a
                                correctly ordered tree
  msg_readback.py mime FILE.eml  a MIME message we wrote ourselves, parsed by the standard
                                library's modern parser: headers decoded, the content type of
                                every part in order, bodies, attachments, and every problem
                                found (defects, 8-bit bytes, bare line feeds, long lines)
  msg_readback.py props FILE.msg the message's own properties read with olefile: tagged ones
                                by "0xIIII", named ones by "GUID/0xLID" through the file's
                                __nameid_version1.0 storage; times as ISO 8601 UTC
  msg_readback.py vcard FILE.vcf every vCard of the file as python3-vobject reads it, and the
                                lines longer than 75 octets or not ended by CRLF
  msg_readback.py ics FILE.ics   every event of the calendar as python3-icalendar reads it,
                                times in UTC, and the lines longer than 75 octets
"""
import base64
import datetime
import email
import email.header
import email.policy
import email.utils
import json
import re
import sys

import olefile


def b64(data):
    return base64.b64encode(data).decode("ascii")


def header_text(msg, name):
    """The header as written, unfolded, with MIME encoded words decoded."""
    raw = msg.get(name)
    if raw is None:
        return ""
    raw = re.sub(r"\r?\n(?=[ \t])", "", str(raw))
    return str(email.header.make_header(email.header.decode_header(raw)))


def part_bytes(part):
    """The decoded content of a leaf part. An 8-bit part was read as one character per
    byte (see read_eml), so it turns back into its bytes as Latin-1."""
    cte = part.get("Content-Transfer-Encoding", "").strip().lower()
    if cte in ("base64", "quoted-printable"):
        return part.get_payload(decode=True) or b""
    return part.get_payload().encode("latin-1")


def file_name(part):
    """The RFC 2231 file name when there is one, else the plain one."""
    plain = None
    for key, value in part.get_params(header="content-disposition", failobj=[]):
        if key.lower() != "filename":
            continue
        if isinstance(value, tuple):
            return email.utils.collapse_rfc2231_value(value)
        plain = plain or email.utils.unquote(value)
    return plain or part.get_filename() or ""


def read_eml(path, printed_wide):
    # msgconvert prints the message as one Perl string. When a header holds a character
    # above U+00FF, Perl writes the whole string as UTF-8 ("Wide character in print"), so
    # the bytes of 8-bit bodies come out encoded a second time; otherwise every character
    # is written as one byte. Reading the file back the same way undoes either.
    with open(path, "rb") as f:
        raw = f.read()
    text = raw.decode("utf-8") if printed_wide else raw.decode("latin-1")
    msg = email.message_from_string(text)
    result = {name: header_text(msg, name) for name in ("From", "To", "Cc", "Subject", "Date")}
    body = {"text/plain": None, "text/html": None}
    attachments = []
    for part in msg.walk():
        if part.is_multipart():
            continue
        ctype = part.get_content_type()
        data = part_bytes(part)
        if part.get_content_disposition() == "attachment" or file_name(part):
            attachments.append({"name": file_name(part), "mime": ctype, "data": b64(data)})
        elif ctype in body and body[ctype] is None:
            body[ctype] = data.decode(part.get_content_charset() or "us-ascii")
    result["text"] = body["text/plain"]
    result["html"] = body["text/html"]
    result["attachments"] = attachments
    return result


def read_mime(path):
    with open(path, "rb") as f:
        raw = f.read()
    problems = []
    try:
        raw.decode("ascii")
    except UnicodeDecodeError:
        problems.append("8-bit bytes")
    if b"\n" in raw.replace(b"\r\n", b""):
        problems.append("a line feed without a carriage return")
    for line in raw.split(b"\r\n"):
        if len(line) > 998:
            problems.append("a line of %d bytes" % len(line))
    msg = email.message_from_bytes(raw, policy=email.policy.default)
    result = {}
    for name in ("From", "To", "Cc", "Subject", "Date", "Message-ID"):
        value = msg[name]
        result[name] = "" if value is None else str(value)
    date = msg["Date"]
    result["date_utc"] = (
        date.datetime.astimezone(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")
        if date is not None and date.datetime is not None else "")
    parts = []
    body = {"text/plain": None, "text/html": None}
    attachments = []
    for part in msg.walk():
        ctype = part.get_content_type()
        parts.append(ctype)
        problems.extend("%s: %r" % (ctype, d) for d in part.defects)
        if part.is_multipart():
            continue
        if part.is_attachment():
            attachments.append({"name": part.get_filename() or "", "mime": ctype,
                                "data": b64(part.get_payload(decode=True) or b"")})
        elif ctype in body and body[ctype] is None:
            body[ctype] = part.get_content()
    result["text"] = body["text/plain"]
    result["html"] = body["text/html"]
    result["attachments"] = attachments
    result["parts"] = parts
    result["problems"] = problems
    return result


def sort_key(name):
    # Directory entries are ordered by name length first, then by the upper-cased name.
    return (len(name), name.upper())


def read_ole(path):
    ole = olefile.OleFileIO(path)
    entries = []
    for parts in ole.listdir(streams=True, storages=True):
        kind = ole.get_type(parts)
        entry = {"path": "/".join(parts), "storage": kind == olefile.STGTY_STORAGE}
        if kind == olefile.STGTY_STREAM:
            entry["data"] = b64(ole.openstream(parts).read())
        entries.append(entry)

    problems = []

    def in_order(sid, seen):
        if sid == olefile.NOSTREAM:
            return []
        if sid in seen or sid >= len(ole.direntries) or ole.direntries[sid] is None:
            problems.append("bad sibling link %d" % sid)
            return []
        seen.add(sid)
        e = ole.direntries[sid]
        return in_order(e.sid_left, seen) + [e.name] + in_order(e.sid_right, seen)

    for e in ole.direntries:
        if e is None or e.entry_type not in (olefile.STGTY_STORAGE, olefile.STGTY_ROOT):
            continue
        names = in_order(e.sid_child, set())
        if names != sorted(names, key=sort_key):
            problems.append("children of %r out of order: %r" % (e.name, names))
    ole.close()
    return {"entries": entries, "order_problems": problems}


def filetime_iso(value):
    moment = datetime.datetime(1601, 1, 1) + datetime.timedelta(microseconds=value // 10)
    return moment.strftime("%Y-%m-%dT%H:%M:%SZ")


def guid_text(raw):
    import uuid
    return str(uuid.UUID(bytes_le=raw)).upper()


def read_props(path):
    import struct
    ole = olefile.OleFileIO(path)

    def stream(name):
        return ole.openstream(name).read() if ole.exists(name) else b""

    guids = stream("__nameid_version1.0/__substg1.0_00020102")
    entries = stream("__nameid_version1.0/__substg1.0_00030102")
    names = {}
    for at in range(0, len(entries) - 7, 8):
        lid, index_kind = struct.unpack_from("<II", entries, at)
        guid_index = (index_kind >> 1) & 0x7FFF
        if index_kind & 1 or guid_index < 3:
            continue
        raw = guids[16 * (guid_index - 3):16 * (guid_index - 2)]
        names[0x8000 + (index_kind >> 16)] = "%s/0x%04X" % (guid_text(raw), lid)
    data = stream("__properties_version1.0")
    tagged, named = {}, {}
    for at in range(32, len(data) - 15, 16):
        tag, _flags, value = struct.unpack_from("<IIQ", data, at)
        pid, ptype = tag >> 16, tag & 0xFFFF
        if ptype == 0x0003:
            result = struct.unpack("<i", struct.pack("<I", value & 0xFFFFFFFF))[0]
        elif ptype == 0x000B:
            result = bool(value & 0xFFFF)
        elif ptype == 0x0005:
            result = struct.unpack("<d", struct.pack("<Q", value))[0]
        elif ptype == 0x0040:
            result = filetime_iso(value)
        elif ptype == 0x001F:
            result = stream("__substg1.0_%08X" % tag).decode("utf-16-le")
        else:
            continue
        if pid >= 0x8000:
            named[names.get(pid, "unmapped 0x%04X" % pid)] = result
        else:
            tagged["0x%04X" % pid] = result
    recipients = []
    for parts in ole.listdir(streams=False, storages=True):
        if len(parts) == 1 and parts[0].startswith("__recip_version1.0_#"):
            recipients.append(stream(parts[0] + "/__substg1.0_3001001F").decode("utf-16-le"))
    ole.close()
    return {"class": tagged.get("0x001A"), "tagged": tagged, "named": named,
            "recipients": recipients}


def line_problems(raw):
    problems = []
    if not raw.endswith(b"\r\n"):
        problems.append("no CRLF at the end")
    for line in raw.split(b"\r\n"):
        if b"\n" in line or b"\r" in line:
            problems.append("a bare line break in %r" % line)
        if len(line) > 75:
            problems.append("a line of %d octets" % len(line))
    return problems


def read_vcard(path):
    import vobject
    with open(path, "rb") as f:
        raw = f.read()
    cards = []
    for card in vobject.readComponents(raw.decode("utf-8")):
        props = {}
        for child in card.getChildren():
            value = child.value
            if isinstance(value, list):
                value = [str(v) for v in value]
            elif not isinstance(value, str):
                value = vars(value) if hasattr(value, "__dict__") else str(value)
            entry = {"value": value, "params": {k: v for k, v in child.params.items()}}
            props.setdefault(child.name, []).append(entry)
        cards.append(props)
    return {"cards": cards, "problems": line_problems(raw)}


def read_ics(path):
    import icalendar
    with open(path, "rb") as f:
        raw = f.read()
    calendar = icalendar.Calendar.from_ical(raw)
    events = []

    def when(component, name):
        if name not in component:
            return None
        value = component.decoded(name)
        if isinstance(value, datetime.datetime):
            if value.tzinfo is None:
                return "floating " + value.isoformat()
            return value.astimezone(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")
        return value.isoformat()

    for event in calendar.walk("VEVENT"):
        attendees = event.get("ATTENDEE", [])
        if not isinstance(attendees, list):
            attendees = [attendees]
        organizer = event.get("ORGANIZER")
        events.append({
            "uid": str(event.get("UID", "")),
            "summary": str(event.get("SUMMARY", "")),
            "location": str(event["LOCATION"]) if "LOCATION" in event else None,
            "description": str(event["DESCRIPTION"]) if "DESCRIPTION" in event else None,
            "start": when(event, "DTSTART"),
            "end": when(event, "DTEND"),
            "organizer": str(organizer) if organizer is not None else None,
            "organizer_cn": str(organizer.params.get("CN", "")) if organizer is not None else None,
            "attendees": [str(a) for a in attendees],
            "attendee_cns": [str(a.params.get("CN", "")) for a in attendees],
            "busy": str(event.get("X-MICROSOFT-CDO-BUSYSTATUS", "")),
            "transp": str(event.get("TRANSP", "")),
        })
    return {"version": str(calendar.get("VERSION", "")), "events": events,
            "problems": line_problems(raw)}


def main():
    args = sys.argv[1:]
    if len(args) == 2 and args[0] == "ole":
        result = read_ole(args[1])
    elif len(args) == 2 and args[0] == "mime":
        result = read_mime(args[1])
    elif len(args) == 2 and args[0] == "props":
        result = read_props(args[1])
    elif len(args) == 2 and args[0] == "vcard":
        result = read_vcard(args[1])
    elif len(args) == 2 and args[0] == "ics":
        result = read_ics(args[1])
    elif len(args) in (2, 3) and args[0] == "eml":
        result = read_eml(args[1], len(args) == 3 and args[2] == "wide")
    else:
        sys.stderr.write(__doc__)
        return 2
    json.dump(result, sys.stdout)
    return 0


if __name__ == "__main__":
    sys.exit(main())
