#!/usr/bin/env python3
"""The bank's news service as the client's tests need it, on 127.0.0.1 only.

GET /newsquery/queryService.action?command=C&parameter=P answers the current scenario's items for
"NewsAcquire" and "LotteryAcquire" (root "NewsAcquire", "News" elements with seven children) and
an empty answer for "NewsAnalyse". /s/<scenario>/newsquery/queryService.action picks a scenario
for one request; /ctl/scenario?name=X sets the default; /ctl/log answers the request lines seen
so far (path, then the User-Agent); /ctl/served answers one line per query whose answer has been
written in full (scenario, then command), so that a test can wait for an answer to have reached
the client; /pic/<name> serves the test pictures.

  news_server.py --port-file FILE [--log FILE]
"""
import argparse
import http.server
import os
import socketserver
import sys
import tempfile
import threading
import urllib.parse


def gif(size):
    """A 1x1 GIF grown to `size` bytes or more by a comment extension."""
    head = (b"GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff")
    image = b"\x2c\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00"
    parts = []
    left = max(0, size - len(head) - len(image) - 1)
    if left:
        parts.append(b"\x21\xfe")
        while left > 0:
            n = min(255, left)
            parts.append(bytes([n]) + b"c" * n)
            left -= n + 1
        parts.append(b"\x00")
    return head + b"".join(parts) + image + b"\x3b"


def picture_gif(width=64, height=None):
    """A picture for the single popup: a sun over a field, drawn by the artwork script."""
    height = height or width
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "scripts"))
    import make_artwork as art
    cv = art.Canvas(width, height, (90, 150, 220, 255))
    cv.fill(lambda x, y: 0.68 + 0.04 * art.math.sin(x * 9) - y, (60, 160, 80))
    cv.fill(art.circle(0.72, 0.28, 0.14), (250, 210, 60))
    with tempfile.TemporaryDirectory() as d:
        path = os.path.join(d, "p.gif")
        art.write_gif(path, width, height, [(cv, 0, 0, 0, 1)], b"news test picture")
        with open(path, "rb") as f:
            return f.read()


PICTURES = {
    "ok.gif": picture_gif(),
    # Larger than the popup's picture box: shown scaled down, whole.
    "wide.gif": picture_gif(160, 100),
    "small.gif": gif(100),
    "notimage.gif": b"<html><body>" + b"x" * 2000 + b"</body></html>",
    "big.gif": gif(3 << 20),
}


def esc(t):
    return t.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def item(title, link="http://127.0.0.1/news", cls="promo|1", date="2026-12-08", pic="",
         content="content", cursor="0", raw=False):
    f = (lambda x: x) if raw else esc
    return ("<News><Title>%s</Title><Link>%s</Link><ClassName>%s</ClassName><Date>%s</Date>"
            "<Pic>%s</Pic><Content>%s</Content><Cursor>%s</Cursor></News>"
            % (f(title), f(link), f(cls), f(date), f(pic), f(content), f(cursor)))


def answer(items):
    return '<?xml version="1.0" encoding="utf-8"?>\r\n<NewsAcquire>' + "".join(items) + "</NewsAcquire>"


def scenario(name, command, parameter, host):
    """(status, body bytes) of one query."""
    if command == "NewsAnalyse":
        return 200, b""
    if name == "normal":
        items = [item("Rates from December", cursor="103", pic="http://%s/pic/ok.gif" % host),
                 item("新网银上线", content="个人网银新版本上线，欢迎使用。", cursor="102"),
                 item("Branch hours", link="", content="", cursor="101")]
        if command == "LotteryAcquire":
            items = [item("You won a prize", cls="key-%s-1" % parameter, cursor="1"),
                     item("Second prize", cls="key-%s-2" % parameter, cursor="2")]
        return 200, answer(items).encode()
    if name == "more":
        items = [item("Card fee waived", link="https://127.0.0.1/fees", cursor="104",
                      pic="http://%s/pic/wide.gif" % host,
                      content="The annual card fee is waived for customers who sign with the UKey.")]
        return 200, answer(items).encode()
    if name == "twelve":
        return 200, answer([item("n%d" % i, cursor=str(i)) for i in range(12, 0, -1)]).encode()
    if name == "six":
        return 200, answer([item("s%d" % i, cursor=str(i)) for i in range(6, 0, -1)]).encode()
    if name == "duplicates":
        return 200, answer([item("Rates from December", link="http://changed.example/"),
                            item("Fresh", cursor="7"), item("Fresh"), item("")]).encode()
    if name == "hostile":
        return 200, answer([
            item("<b>bold</b> &amp; <script>x</script>", link="file:///c:/windows/system32/calc.exe"),
            item("script link", link="javascript:alert(1)"),
            item("unc link", link="\\\\server\\share\\run.exe"),
            item("traversal", pic="http://%s/pic/..\\..\\evil.exe" % host),
            item("x" * 100000, content="y" * 100000)]).encode()
    if name == "many":
        return 200, answer([item("m%d" % i, cursor=str(i)) for i in range(10000, 0, -1)]).encode()
    if name == "malformed":
        return 200, b"<NewsAcquire><News><Title>broken</Title></NewsAcquire"
    if name == "doctype":
        return 200, (b'<!DOCTYPE NewsAcquire [<!ENTITY a "aaaaaaaaaa"><!ENTITY b "&a;&a;&a;&a;&a;">]>'
                     b"<NewsAcquire>&b;</NewsAcquire>")
    if name == "huge":
        return 200, answer([item("huge", content="z" * (5 << 20))]).encode()
    if name == "error":
        return 500, answer([item("should not be read")]).encode()
    if name == "split":
        # Chinese text long enough to cross many 1024-byte pieces at odd offsets.
        return 200, answer([item("中文" * 3, content="银行" * 700 + "end", cursor="9")]).encode()
    if name == "empty":
        return 200, b""
    return 404, b""


class State:
    lock = threading.Lock()
    default = "normal"
    log = []
    served = []


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def reply(self, status, body, ctype="text/xml; charset=utf-8"):
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query)
        with State.lock:
            State.log.append("%s\t%s" % (self.path, self.headers.get("User-Agent", "")))
        path = url.path
        if path == "/ctl/scenario":
            with State.lock:
                State.default = query.get("name", ["normal"])[0]
            return self.reply(200, b"ok", "text/plain")
        if path == "/ctl/log":
            with State.lock:
                body = "\n".join(State.log).encode()
            return self.reply(200, body, "text/plain; charset=utf-8")
        if path == "/ctl/served":
            with State.lock:
                body = "".join(line + "\n" for line in State.served).encode()
            return self.reply(200, body, "text/plain; charset=utf-8")
        if path.startswith("/pic/"):
            data = PICTURES.get(path[5:])
            return self.reply(200 if data else 404, data or b"", "image/gif")
        name = State.default
        if path.startswith("/s/"):
            name, _, path = path[3:].partition("/")
            path = "/" + path
        if path != "/newsquery/queryService.action":
            return self.reply(404, b"")
        command = query.get("command", [""])[0]
        status, body = scenario(name, command, query.get("parameter", [""])[0], self.headers.get("Host", ""))
        self.reply(status, body)
        self.wfile.flush()
        with State.lock:
            State.served.append("%s\t%s" % (name, command))


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--port-file", required=True)
    a = p.parse_args()
    server = Server(("127.0.0.1", 0), Handler)
    tmp = a.port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(tmp, a.port_file)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
