#!/usr/bin/env python3
"""A small CDDB server over HTTP for the tests, and a minimal HTTP proxy.

Server: answers "cddb query" and "cddb read" at any path from the entries in
ENTRIES/<category>/<discid> (bytes as stored). A query matches an entry by disc
id and, when the entry lists them in its comments ("# Track frame offsets:" and
"# Disc length: N seconds"), by the track offsets and the length too, as a real
server does. Requests without a hello of four words or without proto are
refused (409), as real servers do.

Proxy (--proxy): forwards "GET http://host:port/path" to that server and sends
its answer back.

Both print "PORT <n>" on standard output once they listen on 127.0.0.1, log
every request line to --log, and end when standard input closes (the test that
started them has gone).
"""

import argparse
import http.client
import os
import re
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


def parse_args():
    parser = argparse.ArgumentParser()
    parser.add_argument("--entries", help="folder of <category>/<discid> entry files")
    parser.add_argument("--proxy", action="store_true", help="be an HTTP proxy instead")
    parser.add_argument("--log", help="file that receives every request line")
    parser.add_argument("--delay", type=float, default=0, help="seconds to wait before answering")
    parser.add_argument("--hang", action="store_true", help="accept requests and never answer")
    parser.add_argument("--http-status", type=int, help="answer every request with this HTTP status")
    parser.add_argument("--query-answer", help="file whose bytes answer every query")
    parser.add_argument("--read-answer", help="file whose bytes answer every read")
    return parser.parse_args()


ARGS = parse_args()
LOG_LOCK = threading.Lock()


def log(line):
    if not ARGS.log:
        return
    with LOG_LOCK, open(ARGS.log, "a", encoding="utf-8") as f:
        f.write(line + "\n")


def entry_comments(entry):
    """The offsets and length an entry's comments list, or None for each."""
    text = entry.decode("latin-1")
    offsets, seconds, in_offsets = [], None, False
    for line in text.splitlines():
        if not line.startswith("#"):
            break
        body = line[1:].strip()
        if body.startswith("Track frame offsets"):
            in_offsets = True
            continue
        if in_offsets and body.isdigit():
            offsets.append(int(body))
            continue
        in_offsets = False
        found = re.match(r"Disc length:\s*(\d+)", body)
        if found:
            seconds = int(found.group(1))
    return (offsets or None), seconds


def disc_title(entry):
    parts = [line[len(b"DTITLE="):] for line in entry.splitlines() if line.startswith(b"DTITLE=")]
    return b"".join(parts).strip() or b"(no title)"


def find_entries(disc_id, offsets, seconds):
    found = []
    if not ARGS.entries or not os.path.isdir(ARGS.entries):
        return found
    for category in sorted(os.listdir(ARGS.entries)):
        path = os.path.join(ARGS.entries, category, disc_id)
        if not os.path.isfile(path):
            continue
        with open(path, "rb") as f:
            entry = f.read()
        listed_offsets, listed_seconds = entry_comments(entry)
        if listed_offsets is not None and listed_offsets != offsets:
            continue
        if listed_seconds is not None and listed_seconds != seconds:
            continue
        found.append((category, entry))
    return found


def cddb_answer(query):
    """The CDDB answer (bytes) to a request's query string."""
    fields = {}
    for part in query.split("&"):
        name, _, value = part.partition("=")
        fields[name] = urllib.parse.unquote_plus(value, encoding="latin-1")
    hello = fields.get("hello", "").split()
    if len(hello) != 4 or "proto" not in fields:
        return b"409 No handshake.\r\n"
    words = fields.get("cmd", "").split()
    if words[:2] == ["cddb", "query"]:
        if ARGS.query_answer:
            with open(ARGS.query_answer, "rb") as f:
                return f.read()
        try:
            count = int(words[3])
            offsets = [int(w) for w in words[4:4 + count]]
            seconds = int(words[4 + count])
            if len(words) != 5 + count or not re.fullmatch(r"[0-9a-f]{8}", words[2]):
                raise ValueError
        except (IndexError, ValueError):
            return b"500 Command syntax error.\r\n"
        found = find_entries(words[2], offsets, seconds)
        if not found:
            return b"202 No match for disc ID " + words[2].encode() + b".\r\n"
        if len(found) == 1:
            category, entry = found[0]
            return b"200 %s %s %s\r\n" % (category.encode(), words[2].encode(), disc_title(entry))
        lines = [b"210 Found exact matches, list follows (until terminating `.')"]
        lines += [b"%s %s %s" % (c.encode(), words[2].encode(), disc_title(e)) for c, e in found]
        return b"\r\n".join(lines + [b".", b""])
    if words[:2] == ["cddb", "read"] and len(words) == 4:
        if ARGS.read_answer:
            with open(ARGS.read_answer, "rb") as f:
                return f.read()
        category, disc_id = words[2], words[3]
        path = os.path.join(ARGS.entries or "", category, disc_id)
        if "/" in category or "/" in disc_id or not os.path.isfile(path):
            return b"401 %s %s No such CD entry in database.\r\n" % (category.encode(), disc_id.encode())
        with open(path, "rb") as f:
            entry = f.read()
        head = b"210 %s %s CD database entry follows (until terminating `.')\r\n" % (
            category.encode(), disc_id.encode())
        return head + entry + (b"" if entry.endswith(b"\n") else b"\r\n") + b".\r\n"
    return b"500 Unrecognized command.\r\n"


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        pass

    def answer(self, status, body, content_type="text/plain; charset=UTF-8"):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):  # noqa: N802 - the base class's name
        log(self.requestline)
        if ARGS.hang:
            time.sleep(3600)
            return
        if ARGS.delay:
            time.sleep(ARGS.delay)
        if ARGS.proxy:
            self.forward()
            return
        if ARGS.http_status:
            self.answer(ARGS.http_status, b"<html><body>Server error</body></html>\n", "text/html")
            return
        query = urllib.parse.urlsplit(self.path).query
        self.answer(200, cddb_answer(query))

    def forward(self):
        target = urllib.parse.urlsplit(self.path)
        if target.scheme != "http" or not target.hostname:
            self.answer(400, b"a proxy takes absolute http:// addresses\n")
            return
        try:
            connection = http.client.HTTPConnection(target.hostname, target.port or 80, timeout=30)
            path = target.path + ("?" + target.query if target.query else "")
            connection.request("GET", path, headers={"Host": target.netloc})
            response = connection.getresponse()
            body = response.read()
        except OSError as error:
            self.answer(502, ("proxy: %s\n" % error).encode())
            return
        self.answer(response.status, body, response.getheader("Content-Type", "text/plain"))


class Server(ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        # A client that gave up (a stopped lookup) is no error of the server.
        if not isinstance(sys.exc_info()[1], ConnectionError):
            super().handle_error(request, client_address)


def main():
    server = Server(("127.0.0.1", 0), Handler)

    def watch_parent():
        sys.stdin.read()
        os._exit(0)

    threading.Thread(target=watch_parent, daemon=True).start()
    print("PORT %d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
