#!/usr/bin/env python3
"""A recording stand-in for the icon service, for robustness runs of the program.

Listens on 127.0.0.1:PORT (8750, the program's compiled-in address, inside a network namespace of
the caller's own), answers every existence query "wanted" and every upload "stored", and records
each request as one tab-separated line in LOG:

  SEQ  ARRIVED  DONE  ROUTE  NAME  VERSION  ICON_BYTES  ICON_SHA256

ARRIVED is when the request's first bytes came in and DONE when the reply had been sent, both in
seconds on the monotonic clock (time.monotonic(), the same clock for every process of the machine).
ROUTE is "exist" or "upload"; the icon columns are "-" for existence queries. With ICON_FOLDER, each
upload's icon bytes are kept there as SEQ.ico.

Usage: recording_service.py PORT LOG [ICON_FOLDER]
It prints "ready" on standard output once it listens, and runs until it is killed. Each connection
has a 30-second deadline; a client that stalls is dropped.
"""
import hashlib
import os
import socket
import sys
import time
import urllib.parse

DEADLINE_SECONDS = 30
LIMIT_BYTES = 64 << 20


def read_request(connection):
    """The head (bytes) and body (bytes) of one request, or None when it did not come whole."""
    connection.settimeout(DEADLINE_SECONDS)
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = connection.recv(65536)
        if not chunk or len(data) > LIMIT_BYTES:
            return None
        data += chunk
    head, _, body = data.partition(b"\r\n\r\n")
    length = 0
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value.strip())
    if length > LIMIT_BYTES:
        return None
    while len(body) < length:
        chunk = connection.recv(65536)
        if not chunk:
            return None
        body += chunk
    return head, body[:length]


def form_fields(body):
    """name=value pairs of a form body ("&name=...&version=..."), percent-decoded as UTF-8."""
    fields = {}
    for pair in body.decode("ascii", "replace").split("&"):
        if "=" in pair:
            name, _, value = pair.partition("=")
            fields[name] = urllib.parse.unquote(value)
    return fields


def multipart_fields(head, body):
    """The parts of a multipart/form-data body by their field name (values as bytes)."""
    boundary = None
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-type" and b"boundary=" in value:
            boundary = value.split(b"boundary=", 1)[1].strip().strip(b'"')
    fields = {}
    if boundary is None:
        return fields
    for part in body.split(b"--" + boundary):
        part_head, separator, content = part.partition(b"\r\n\r\n")
        if not separator or b'name="' not in part_head:
            continue
        name = part_head.split(b'name="', 1)[1].split(b'"', 1)[0].decode("utf-8", "replace")
        if content.endswith(b"\r\n"):
            content = content[:-2]
        fields[name] = content
    return fields


def clean(text):
    return text.replace("\t", " ").replace("\n", " ").replace("\r", " ")


def reply(connection, body):
    connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: %d\r\n"
                       b"Connection: close\r\n\r\n%s" % (len(body), body))


def main():
    port, log_path = int(sys.argv[1]), sys.argv[2]
    icons = sys.argv[3] if len(sys.argv) > 3 else None
    if icons:
        os.makedirs(icons, exist_ok=True)
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", port))
    listener.listen(64)
    log = open(log_path, "a", buffering=1, encoding="utf-8")
    print("ready", flush=True)
    sequence = 0
    while True:
        connection, _ = listener.accept()
        arrived = time.monotonic()
        try:
            request = read_request(connection)
            if request is None:
                continue
            head, body = request
            line = head.split(b"\r\n", 1)[0].decode("ascii", "replace")
            sequence += 1
            if "r=sw/upload" in line:
                fields = multipart_fields(head, body)
                icon = fields.get("icon", b"")
                if icons:
                    with open(os.path.join(icons, "%d.ico" % sequence), "wb") as out:
                        out.write(icon)
                reply(connection, b'{"success":true,"id":%d}' % sequence)
                record = ("upload", fields.get("name", b"").decode("utf-8", "replace"),
                          fields.get("version", b"").decode("utf-8", "replace"), str(len(icon)),
                          hashlib.sha256(icon).hexdigest())
            else:
                fields = form_fields(body)
                reply(connection, b'{"success":true,"exist":false}')
                record = ("exist", fields.get("name", ""), fields.get("version", ""), "-", "-")
            done = time.monotonic()
            log.write("%d\t%.6f\t%.6f\t%s\n" % (sequence, arrived, done, "\t".join(clean(f) for f in record)))
        except (OSError, ValueError):
            pass
        finally:
            connection.close()


if __name__ == "__main__":
    main()
