"""A real SMTP server for tests: aiosmtpd on a free 127.0.0.1 port.

Usage: smtp_server.py FOLDER
Prints the port on the first line of stdout once it listens, then serves until
SIGTERM. Message N is stored as N.eml (the data as the server received it,
transparency dots removed) and N.envelope (the MAIL FROM address, then one
RCPT TO address per line; written last, so its presence means "stored"). Every attachment part K of a
multipart message is also decoded independently, as N.K.mime (Base64) and
N.K.uu (uuencode lines), so a test can compare it with the original file.
"""
import asyncio
import binascii
import os
import re
import signal
import sys

from aiosmtpd.smtp import SMTP


def parts_of(message):
    match = re.search(rb'boundary="([^"]+)"', message)
    if not match:
        return []
    delimiter = b"--" + match.group(1)
    pieces = message.split(delimiter + b"\r\n")
    parts = []
    for piece in pieces[1:]:
        piece = piece.split(b"\r\n" + delimiter + b"--\r\n")[0]
        head, _, body = piece.partition(b"\r\n\r\n")
        if b"Content-Disposition: attachment" in head:
            parts.append(body)
    return parts


def decode_mime(body):
    return binascii.a2b_base64(body.replace(b"\r\n", b""), strict_mode=False)


def decode_uu(body):
    lines = body.split(b"\r\n")
    out = bytearray()
    for line in lines:
        if line in (b"", b"`"):
            continue
        out += binascii.a2b_uu(line)
    return bytes(out)


def try_write(path, decode, body):
    try:
        data = decode(body)
    except (binascii.Error, ValueError):
        return
    with open(path, "wb") as f:
        f.write(data)


class Store:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.folder, str(self.count))
        data = envelope.original_content
        with open(base + ".eml", "wb") as f:
            f.write(data)
        for k, body in enumerate(parts_of(data), 1):
            try_write(f"{base}.{k}.mime", decode_mime, body)
            try_write(f"{base}.{k}.uu", decode_uu, body)
        with open(base + ".envelope.tmp", "wb") as f:
            for address in [envelope.mail_from] + envelope.rcpt_tos:
                f.write(address.encode("utf-8", "surrogateescape") + b"\n")
        os.replace(base + ".envelope.tmp", base + ".envelope")
        return "250 Message accepted for delivery"


async def main(folder):
    store = Store(folder)
    loop = asyncio.get_running_loop()
    server = await loop.create_server(
        lambda: SMTP(store, data_size_limit=None, hostname="localhost"),
        host="127.0.0.1", port=0)
    stop = loop.create_future()
    loop.add_signal_handler(signal.SIGTERM, stop.set_result, None)
    print(server.sockets[0].getsockname()[1], flush=True)
    await stop
    server.close()


if __name__ == "__main__":
    asyncio.run(main(sys.argv[1]))
