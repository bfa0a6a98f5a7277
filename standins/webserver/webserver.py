#!/usr/bin/python3
"""Stand-in for the archive web server: a loopback HTTP/1.1 server whose
answers the tests choose per path and which keeps every request it received.

    webserver.py --port-file FILE [--watch-pid PID] [--idle SECONDS]
                 [--tls PORTFILE,CERT,KEY]...

Each --tls adds a listener on another ephemeral port that speaks HTTPS with
the certificate chain of the PEM file CERT (sent as it stands) and the key
in KEY, and writes its port to PORTFILE. Routes, records and control are
shared by every listener; the tests drive the control endpoints over plain
HTTP.

It binds an ephemeral port on 127.0.0.1 and writes the number to FILE (after
binding, so a reader that sees the number can connect). It ends by itself
when the process PID has gone (checked five times a second), after SECONDS
without a connection, or on POST /__control/quit.

Control endpoints (never recorded):
  POST /__control/route    body: JSON {"path": P, "replies": [R, ...]}
                           replies are used in turn, the last one repeats
  POST /__control/reset    forget every route and every recorded request
  GET  /__control/count    the number of recorded requests, in decimal
  GET  /__control/open     the number of connections open now (this one
                           included), in decimal
  GET  /__control/request/N   request N (0-based) as received: request line
                           and headers unchanged, then the body (de-chunked)
  POST /__control/quit

A reply R (JSON object, every member optional):
  status (200), reason ("OK"), headers [[name, value], ...],
  body (text; each character is one byte, so "\\u00ff" is byte 0xff),
  repeat_body (int: the body is repeated so many times),
  length: "auto" (Content-Length of the body) | "none" (no length, the
          connection closes after the body) | "chunked" | an integer (sent as
          Content-Length whatever the body is, then the connection closes),
  delay_ms (wait before answering), action: "hang" (read the request, never
  answer, keep the connection until the client goes), "reset" (close with
  RST instead of answering), "reset_mid_body" (headers and half the body,
  then RST), "raw" (send body alone, as it is, then close),
  require_auth: the exact Authorization header value expected; a request
          without it is answered by "challenge" (a reply object) instead,
  discard_body: true (count the body's bytes but keep none of them),
  action "reset_after_body:N": read N bytes of the request's body, record
          the request with them, then close with RST instead of answering.
"""
import json
import os
import socket
import ssl
import struct
import sys
import threading
import time

LOCK = threading.Lock()
ROUTES = {}     # path -> {"replies": [...], "next": int}
RECORDS = []    # bytes of each request as received (body de-chunked)
LAST_ACTIVITY = [time.monotonic()]
OPEN = [0]      # connections being served now
MAX_HEAD = 4 * 1024 * 1024


class ClientGone(Exception):
    pass


class Conn:
    def __init__(self, sock):
        self.sock = sock
        self.buf = b""

    def fill(self):
        data = self.sock.recv(1 << 20)
        if not data:
            raise ClientGone()
        self.buf += data

    def read_until(self, marker, limit):
        while marker not in self.buf:
            if len(self.buf) > limit:
                raise ClientGone()
            self.fill()
        head, _, self.buf = self.buf.partition(marker)
        return head

    def read_exact(self, n, keep=True):
        out = []
        while n > 0:
            if not self.buf:
                if keep:
                    self.fill()
                else:
                    # Straight from the socket: large uploads are not buffered.
                    data = self.sock.recv(min(n, 1 << 20))
                    if not data:
                        raise ClientGone()
                    self.buf = data
            take = self.buf[:n]
            self.buf = self.buf[n:]
            n -= len(take)
            if keep:
                out.append(take)
        return b"".join(out)


def read_request(conn):
    if not conn.buf:
        conn.fill()
    if conn.buf.startswith(b"\x16\x03"):
        # A TLS handshake: this server speaks plain HTTP only.
        raise ClientGone()
    head = conn.read_until(b"\r\n\r\n", MAX_HEAD)
    lines = head.split(b"\r\n")
    method, path, version = (lines[0].decode("latin-1").split(" ", 2) + ["", ""])[:3]
    headers = []
    for line in lines[1:]:
        name, _, value = line.decode("latin-1").partition(":")
        headers.append((name.strip().lower(), value.strip()))
    return head, method, path, version, headers


def header(headers, name):
    for n, v in headers:
        if n == name:
            return v
    return None


def read_body(conn, headers, discard):
    if (header(headers, "transfer-encoding") or "").lower() == "chunked":
        parts = []
        while True:
            size = int(conn.read_until(b"\r\n", 1024).split(b";")[0], 16)
            if size == 0:
                conn.read_until(b"\r\n", 65536)
                return b"".join(parts), sum(len(p) for p in parts)
            parts.append(conn.read_exact(size))
            conn.read_exact(2)
    length = int(header(headers, "content-length") or 0)
    return conn.read_exact(length, keep=not discard), length


def route_reply(path, headers):
    with LOCK:
        route = ROUTES.get(path.split("?")[0]) or ROUTES.get(path)
        if route is None:
            return {"status": 404, "reason": "Not Found", "body": "no route"}
        replies = route["replies"]
        reply = replies[min(route["next"], len(replies) - 1)]
        route["next"] += 1
    need = reply.get("require_auth")
    if need is not None and header(headers, "authorization") != need:
        return reply.get("challenge", {"status": 401, "reason": "Unauthorized",
                                       "headers": [["WWW-Authenticate", 'Basic realm="stowhaven"']]})
    return reply


def send_reset(sock):
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    sock.close()


def answer(conn, reply, head_only):
    """Sends one reply; returns False when the connection must end."""
    sock = conn.sock
    if reply.get("delay_ms"):
        time.sleep(reply["delay_ms"] / 1000.0)
    action = reply.get("action")
    body = reply.get("body", "").encode("latin-1") * int(reply.get("repeat_body", 1))
    if action == "hang":
        while True:
            if not sock.recv(65536):
                return False
    if action == "reset":
        send_reset(sock)
        return False
    if action == "raw":
        sock.sendall(body)
        return False
    status = int(reply.get("status", 200))
    reason = reply.get("reason", "OK")
    length = reply.get("length", "auto")
    lines = ["HTTP/1.1 %d %s" % (status, reason)]
    lines += ["%s: %s" % (n, v) for n, v in reply.get("headers", [])]
    keep = True
    if length == "auto":
        lines.append("Content-Length: %d" % len(body))
    elif length == "chunked":
        lines.append("Transfer-Encoding: chunked")
    elif length == "none":
        lines.append("Connection: close")
        keep = False
    else:
        lines.append("Content-Length: %d" % int(length))
        lines.append("Connection: close")
        keep = False
    data = ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")
    if head_only:
        body = b""
    if action == "reset_mid_body":
        sock.sendall(data + body[: len(body) // 2])
        time.sleep(0.05)
        send_reset(sock)
        return False
    if length == "chunked":
        half = len(body) // 2
        for piece in (body[:half], body[half:]):
            if piece:
                data += b"%x\r\n" % len(piece) + piece + b"\r\n"
        data += b"0\r\n\r\n"
    else:
        data += body
    sock.sendall(data)
    return keep


def control(conn, method, path, body):
    global ROUTES, RECORDS
    status, out = 200, b""
    with LOCK:
        if path == "/__control/route" and method == "POST":
            route = json.loads(body.decode("utf-8"))
            ROUTES[route["path"]] = {"replies": route["replies"], "next": 0}
        elif path == "/__control/reset":
            ROUTES, RECORDS = {}, []
        elif path == "/__control/count":
            out = str(len(RECORDS)).encode()
        elif path == "/__control/open":
            out = str(OPEN[0]).encode()
        elif path.startswith("/__control/request/"):
            index = int(path.rsplit("/", 1)[1])
            if index < len(RECORDS):
                out = RECORDS[index]
            else:
                status = 404
        elif path == "/__control/quit":
            os._exit(0)
        else:
            status = 404
    conn.sock.sendall(b"HTTP/1.1 %d X\r\nContent-Length: %d\r\n\r\n" % (status, len(out)) + out)


def serve(sock, tls):
    conn = Conn(sock)
    with LOCK:
        OPEN[0] += 1
    try:
        if tls is not None:
            # A client that refuses the certificate ends here.
            sock = tls.wrap_socket(sock, server_side=True)
            conn = Conn(sock)
        while True:
            head, method, path, version, headers = read_request(conn)
            LAST_ACTIVITY[0] = time.monotonic()
            if path.startswith("/__control/"):
                body, _ = read_body(conn, headers, False)
                control(conn, method, path, body)
                continue
            reply = route_reply(path, headers)
            # Continue before the body when the client asks for it.
            if (header(headers, "expect") or "").lower() == "100-continue":
                sock.sendall(b"HTTP/1.1 100 Continue\r\n\r\n")
            cut = reply.get("action") or ""
            if cut.startswith("reset_after_body:"):
                # A small window: the client's writes, not the buffers, meet the cut.
                sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 65536)
                received = conn.read_exact(int(cut.split(":", 1)[1]))
                with LOCK:
                    RECORDS.append(head + b"\r\n\r\n" + received)
                send_reset(sock)
                break
            discard = bool(reply.get("discard_body"))
            body, length = read_body(conn, headers, discard)
            record = head + b"\r\n\r\n" + body
            if discard:
                record = head + b"\r\n\r\n" + (b"<%d bytes discarded>" % length)
            with LOCK:
                RECORDS.append(record)
            if not answer(conn, reply, method == "HEAD"):
                break
            LAST_ACTIVITY[0] = time.monotonic()
    except (ClientGone, ConnectionError, OSError, ValueError, ssl.SSLError):
        pass
    finally:
        with LOCK:
            OPEN[0] -= 1
        try:
            sock.close()
        except OSError:
            pass


def watch(pid, idle):
    while True:
        time.sleep(0.2)
        if pid:
            try:
                os.kill(pid, 0)
            except ProcessLookupError:
                os._exit(0)
            except PermissionError:
                pass
        if idle and time.monotonic() - LAST_ACTIVITY[0] > idle:
            os._exit(0)


def listen(port_file, port=0):
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", port))
    listener.listen(64)
    if port_file:
        tmp = port_file + ".tmp"
        with open(tmp, "w") as f:
            f.write(str(listener.getsockname()[1]))
        os.replace(tmp, port_file)
    return listener


def accept(listener, tls):
    while True:
        sock, _ = listener.accept()
        LAST_ACTIVITY[0] = time.monotonic()
        threading.Thread(target=serve, args=(sock, tls), daemon=True).start()


def main():
    args = sys.argv[1:]
    pairs = list(zip(args[::2], args[1::2]))
    opts = dict(pairs)
    # Nothing of the starter's output is held open: CTest waits for it.
    null = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(null, fd)
    # The TLS listeners first: the plain port file says that all are up.
    for name, value in pairs:
        if name == "--tls":
            port_file, cert, key = value.split(",")
            tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            tls.load_cert_chain(cert, key)
            threading.Thread(target=accept, args=(listen(port_file), tls), daemon=True).start()
    listener = listen(opts.get("--port-file"), int(opts.get("--port", "0")))
    threading.Thread(target=watch, args=(int(opts.get("--watch-pid", "0")), float(opts.get("--idle", "300"))),
                     daemon=True).start()
    accept(listener, None)


if __name__ == "__main__":
    main()
