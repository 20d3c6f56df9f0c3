#!/usr/bin/env python3
"""Soak test: downloads through Timekeeper while processes are killed.

Runs, for a given number of minutes, one download after another through the
scheduling service on a private bus, against a fixture catalogue on 127.0.0.1
that changes every round (sites added and withdrawn; pages that fail, hang
and trickle). The reader runs on the offscreen platform while its news are
marked and deleted in the database beside it, an eBook generation runs now
and then, and every --kill-every seconds one of Gatherer, Timekeeper,
Bookbinder or Newsdesk is killed with SIGKILL.

At the end it checks the news database and the pictures folder, the ends of
the downloads and the memory of the long-lived processes, prints one line per
check and exits 1 when any check fails (2 when it could not set up).

  scripts/soak.py [--minutes 10] [--kill-every 20] [--build build] [--keep]

Run by hand; it takes the given minutes plus about half a minute.
"""

import argparse
import http.server
import os
import random
import shutil
import signal
import socketserver
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time

SITES = 8          # sites the catalogue may list
STORIES = 6        # per site and round
IMAGES = 2         # per story
MASK_VERSION = 3


class Fixture(http.server.BaseHTTPRequestHandler):
    """The updates server and the news sites."""

    protocol_version = "HTTP/1.0"
    listed = set(range(1, 4))  # sites the catalogue lists now
    round = 0
    stopping = False

    def log_message(self, *args):
        pass

    def send(self, body, kind="text/html; charset=utf-8", status=200):
        data = body.encode() if isinstance(body, str) else body
        self.send_response(status)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def do_POST(self):
        length = int(self.headers.get("Content-Length", 0))
        body = self.rfile.read(length).decode(errors="replace").rstrip("\0")
        if self.path == "/upd/catalog.asp":
            rows = "".join(
                f"<tr name='Site {s}'><td cat=News ListMask=L{s} Vers={MASK_VERSION}></td>"
                f"<td NPMask=N{s} Vers={MASK_VERSION} Fdld=0></td></tr>" for s in sorted(Fixture.listed))
            self.send(f"<html><head><meta charset=utf-8></head><body><table>{rows}</table></body></html>")
        elif self.path == "/upd/getmask.asp":
            ident = body.split("=", 1)[-1]
            base = f"http://127.0.0.1:{self.server.server_address[1]}"
            if ident.startswith("L"):
                self.send(f"<x-head url='{base}/s{ident[1:]}/list.html'></x-head>"
                          "<ul class=news><li ord=-1><a role=link></a></li></ul>")
            elif ident.startswith("N"):
                self.send("<x-head></x-head><div class=article><h1 role=header></h1>"
                          "<div class=text><p ord=-1 role=text paragraph=1></p><img ord=-1 role=img></div></div>")
            else:
                self.send("", status=404)
        else:
            self.send("", status=404)

    def do_GET(self):
        parts = self.path.strip("/").split("/")
        if self.path == "/upd/end.asp":
            return self.send("", "text/plain")
        if len(parts) < 2 or not parts[0].startswith("s"):
            return self.send("", status=404)
        site = parts[0][1:]
        r = Fixture.round
        if parts[1] == "list.html":
            items = "".join(f"<li><a href='/s{site}/{r}-{n}.html'>Story {n}</a></li>" for n in range(STORIES))
            return self.send(f"<html><body><ul class=news>{items}</ul></body></html>")
        if parts[1] == "img":
            return self.send(b"PNG:" + self.path.encode() + b"." * 3000, "image/png")
        story = parts[1].removesuffix(".html")
        fate = random.random()
        if fate < 0.08:
            return self.send("<html><body>failed</body></html>", status=500)
        if fate < 0.12:  # hangs past the page time-out
            for _ in range(200):
                if Fixture.stopping:
                    return
                time.sleep(0.05)
            return
        imgs = "".join(f"<img src='/s{site}/img/{story}_{k}.png'>" for k in range(IMAGES))
        page = (f"<html><body><div class=article><h1>Title {site} {story}</h1><div class=text>"
                f"<p>First paragraph of {story}.</p><p>Second.</p>{imgs}</div></div></body></html>").encode()
        if fate < 0.20:  # trickles in
            self.send_response(200)
            self.send_header("Content-Type", "text/html; charset=utf-8")
            self.send_header("Content-Length", str(len(page)))
            self.end_headers()
            for i in range(0, len(page), 40):
                self.wfile.write(page[i:i + 40])
                self.wfile.flush()
                time.sleep(0.02)
            return
        self.send(page)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        # The engine gives up on hanging and trickling pages, or is killed.
        if not isinstance(sys.exc_info()[1], (BrokenPipeError, ConnectionResetError)):
            super().handle_error(request, client_address)


class Soak:
    def __init__(self, args):
        self.args = args
        self.bin = os.path.abspath(os.path.join(args.build, "bin"))
        self.root = tempfile.mkdtemp(prefix="orvo-soak-")
        self.home = os.path.join(self.root, "orvo")
        self.db = os.path.join(self.home, "news.db")
        self.env = dict(os.environ)
        self.faults = []
        self.kills = []      # (time, name, pid)
        self.runs = []       # (start, end, exit code, last engine line time, output)
        self.memory = {}     # (name, pid) -> [rss kB, ...]
        self.reader = None
        self.daemon = None
        self.lock = threading.Lock()

    # --- set-up -----------------------------------------------------------
    def start_bus(self):
        data = os.path.join(self.root, "data")
        services = os.path.join(data, "dbus-1", "services")
        os.makedirs(services)
        os.makedirs(os.path.join(self.root, "home"))
        os.makedirs(self.home)
        conf = os.path.join(self.root, "bus.conf")
        with open(conf, "w") as f:
            f.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
                    "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                    f"<busconfig><type>session</type><listen>unix:dir={self.root}</listen>"
                    f"<servicedir>{services}</servicedir>"
                    "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                    "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n")
        self.env.update({"HOME": os.path.join(self.root, "home"), "XDG_DATA_HOME": data,
                         "ORVO_HOME": self.home, "QT_QPA_PLATFORM": "offscreen"})
        self.env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        self.bus_log = open(os.path.join(self.root, "bus.log"), "w")  # the daemon's and its servers' messages
        self.daemon = subprocess.Popen(["dbus-daemon", f"--config-file={conf}", "--nofork", "--print-address=1"],
                                       stdout=subprocess.PIPE, stderr=self.bus_log, env=self.env,
                                       start_new_session=True, text=True)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = self.daemon.stdout.readline().strip()

    def run(self, program, *args, timeout=60):
        path = program if os.sep in program or not os.path.exists(os.path.join(self.bin, program)) \
            else os.path.join(self.bin, program)
        try:
            p = subprocess.run([path, *args], env=self.env, capture_output=True, text=True, timeout=timeout)
            return p.returncode, p.stdout + p.stderr
        except subprocess.TimeoutExpired as e:
            return -1, f"timed out: {e}"

    def setup(self):
        self.start_bus()
        self.httpd = Server(("127.0.0.1", 0), Fixture)
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()
        port = self.httpd.server_address[1]
        for step in [("orvo", "init"),
                     ("orvo", "config", "Software\\Vantelia\\ORVO\\Settings\\System", "DownloadURL",
                      f"127.0.0.1:{port}/upd/catalog.asp"),
                     ("orvo", "config", "Download", "ConnectTimeout", "4"),
                     ("orvo", "config", "Download", "StallTimeout", "30"),
                     ("orvo", "config", "Download", "AutoExtract", "0"),
                     ("Gatherer", "-RegServer"), ("Bookbinder", "-RegServer"), ("Timekeeper", "-RegServer")]:
            code, out = self.run(*step)
            if code != 0:
                raise RuntimeError(f"{' '.join(step)} failed ({code}): {out.strip()}")
        # A first download brings the catalogue; then every pair is chosen.
        self.download()
        self.run("orvo", "select", "--all")
        with sqlite3.connect(self.db) as c:
            c.execute("INSERT INTO filter (name, lit_gen) VALUES ('soak', 1)")
        self.start_reader()

    # --- the moving parts -------------------------------------------------
    def bus_pid(self, name):
        code, out = self.run("dbus-send", "--print-reply", "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                             "org.freedesktop.DBus.GetConnectionUnixProcessID", f"string:{name}", timeout=5)
        try:
            return int(out.split()[-1]) if code == 0 else 0
        except ValueError:
            return 0

    def pids(self):
        return {"Gatherer": self.bus_pid("org.orvo.Gatherer2"), "Bookbinder": self.bus_pid("org.orvo.OrvoConvert"),
                "Timekeeper": self.bus_pid("org.orvo.OrvoRunner"),
                "Newsdesk": self.reader.pid if self.reader and self.reader.poll() is None else 0}

    def start_reader(self):
        self.reader = subprocess.Popen([os.path.join(self.bin, "Newsdesk")], env=self.env,
                                       stdout=self.bus_log, stderr=self.bus_log)

    def download(self):
        start = time.time()
        p = subprocess.Popen([os.path.join(self.bin, "orvo"), "download", "--no-check"], env=self.env,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        lines, engine_done, following = [], None, None
        deadline = start + 240
        for line in p.stdout:
            lines.append(line.rstrip())
            if following is None:
                following = time.time()  # the first status relayed: the command follows the run
            if line.startswith("Download completed."):
                engine_done = time.time()
            if time.time() > deadline:
                p.kill()
        code = p.wait()
        with self.lock:
            self.runs.append((following or time.time(), time.time(), code, engine_done, lines))
        return code

    def killer(self, until):
        names = ["Gatherer", "Timekeeper", "Bookbinder", "Newsdesk"]
        while time.time() < until:
            time.sleep(self.args.kill_every)
            if time.time() >= until:
                break
            name = random.choice(names)
            pid = self.pids()[name]
            if pid:
                try:
                    os.kill(pid, signal.SIGKILL)
                    with self.lock:
                        self.kills.append((time.time(), name, pid))
                except ProcessLookupError:
                    pass

    def reader_work(self, until):
        """Marks and deletes beside the open reader, as it does."""
        writer = os.path.join(self.bin, "newsdesk_db_writer")
        statements = ["UPDATE newsitem SET is_read = 1 WHERE id IN (SELECT id FROM newsitem ORDER BY random() LIMIT 50)",
                      "UPDATE newsitem SET is_read = 0 WHERE id IN (SELECT id FROM newsitem ORDER BY random() LIMIT 50)",
                      "UPDATE newsitem SET is_del = 1 WHERE id IN (SELECT id FROM newsitem ORDER BY random() LIMIT 5)"]
        while time.time() < until:
            if os.path.exists(writer):
                self.run(writer, self.db, random.choice(statements), timeout=30)
            if self.reader and self.reader.poll() is not None:
                time.sleep(1)  # the killed one's bus name is free again
                self.start_reader()
            time.sleep(1)

    def sample_memory(self, until):
        while time.time() < until:
            for name, pid in self.pids().items():
                if name in ("Timekeeper", "Newsdesk") and pid:
                    try:
                        with open(f"/proc/{pid}/status") as f:
                            rss = next(int(l.split()[1]) for l in f if l.startswith("VmRSS:"))
                        self.memory.setdefault((name, pid), []).append(rss)
                    except (OSError, StopIteration):
                        pass
            time.sleep(5)

    def soak(self):
        until = time.time() + self.args.minutes * 60
        threads = [threading.Thread(target=f, args=(until,), daemon=True)
                   for f in (self.killer, self.reader_work, self.sample_memory)]
        for t in threads:
            t.start()
        while time.time() < until:
            Fixture.round += 1
            # Sites come and go; at least one stays listed.
            for s in random.sample(range(1, SITES + 1), 2):
                (Fixture.listed.discard if s in Fixture.listed and len(Fixture.listed) > 1 else Fixture.listed.add)(s)
            self.download()
            if Fixture.round % 4 == 0:
                self.run("orvo", "generate", timeout=120)
        for t in threads:
            t.join(timeout=60)
        # A calm last download: what the kills left behind is swept at its start.
        Fixture.stopping = True
        self.download()
        for _ in range(40):
            if not self.pids()["Gatherer"]:
                break
            time.sleep(0.5)

    # --- the checks -------------------------------------------------------
    def check(self, name, ok, detail):
        print(f"{'ok  ' if ok else 'FAIL'} {name}: {detail}")
        if not ok:
            self.faults.append(name)

    def checks(self):
        c = sqlite3.connect(self.db)
        integrity = c.execute("PRAGMA integrity_check").fetchone()[0]
        self.check("integrity", integrity == "ok", integrity)
        dups = c.execute("SELECT count(*) FROM (SELECT src_url FROM newsitem GROUP BY src_url HAVING count(*) > 1)"
                         ).fetchone()[0]
        items = c.execute("SELECT count(*) FROM newsitem").fetchone()[0]
        self.check("no duplicate address", dups == 0, f"{items} items, {dups} addresses stored twice")
        missing, without = 0, 0
        rows = c.execute("SELECT ni.id, ni.body, (SELECT count(*) FROM newsimages ig WHERE ig.fk_newsitem = ni.id)"
                         " FROM newsitem ni").fetchall()
        for _, body, n in rows:
            if body.count("[[{") > n:
                without += 1
        paths = [p for (p,) in c.execute("SELECT image_path FROM newsimages")]
        missing = sum(not os.path.exists(p) for p in paths)
        self.check("every item has its pictures", missing == 0 and without == 0,
                   f"{len(paths)} pictures, {missing} rows without their file, {without} items with a picture "
                   "missing (pictures that failed on purpose are not counted: those pages were not stored)"
                   if missing or without else f"{len(paths)} pictures of {items} items, all there")
        folder = os.path.join(self.home, "Images")
        files = set(os.path.join(folder, f) for f in os.listdir(folder)) if os.path.isdir(folder) else set()
        orphans = files - set(paths)
        self.check("no file without a row", not orphans, f"{len(files)} files, {len(orphans)} without a row"
                   + (f" (e.g. {sorted(orphans)[0]})" if orphans else ""))
        c.close()

        false_ok = []
        for start, end, code, engine_done, lines in self.runs:
            for when, name, _ in self.kills:
                if name in ("Gatherer", "Timekeeper") and start < when < end and code == 0 and (
                        engine_done is None or when < engine_done):
                    false_ok.append((name, lines[-1] if lines else ""))
        codes = {}
        for *_, code, _, _ in self.runs:
            codes[code] = codes.get(code, 0) + 1
        self.check("no run completed after a kill", not false_ok,
                   f"{len(self.runs)} downloads (exit codes {dict(sorted(codes.items()))}), {len(self.kills)} kills ("
                   + ", ".join(f"{n} {sum(k[1] == n for k in self.kills)}" for n in
                               ("Gatherer", "Timekeeper", "Bookbinder", "Newsdesk")) + ")"
                   + (f"; {false_ok[0][0]} killed, yet: {false_ok[0][1]}" if false_ok else ""))

        for name in ("Timekeeper", "Newsdesk"):
            lives = [(pid, s) for (n, pid), s in self.memory.items() if n == name and len(s) >= 6]
            if not lives:
                self.check(f"memory of {name}", True, "no instance lived long enough to measure (killed too often)")
                continue
            pid, s = max(lives, key=lambda x: len(x[1]))
            base = s[len(s) // 3]  # after its start-up
            growth = (s[-1] - base) / base
            self.check(f"memory of {name}", growth <= 0.20,
                       f"{base} kB to {s[-1]} kB over {len(s) * 5} s ({growth:+.0%}) for its longest-lived process")

    def teardown(self):
        Fixture.stopping = True
        if self.reader and self.reader.poll() is None:
            self.reader.kill()
        if self.daemon:
            try:  # the servers the bus started are in its process group
                os.killpg(self.daemon.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        self.httpd.shutdown()
        if not self.args.keep:
            shutil.rmtree(self.root, ignore_errors=True)
        else:
            print(f"files kept in {self.root}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter, epilog=__doc__)
    parser.add_argument("--minutes", type=float, default=10, help="how long to soak (default 10)")
    parser.add_argument("--kill-every", type=float, default=20, help="seconds between kills (default 20)")
    parser.add_argument("--build", default="build", help="the build folder (default build)")
    parser.add_argument("--keep", action="store_true", help="keep the temporary folder for a look")
    args = parser.parse_args()
    if not os.path.exists(os.path.join(args.build, "bin", "orvo")):
        print(f"soak: no build in {args.build}/bin; build first (see README.md) or give --build", file=sys.stderr)
        return 2
    soak = Soak(args)
    try:
        soak.setup()
    except Exception as e:  # noqa: BLE001 - every set-up failure ends the same way
        print(f"soak: could not set up: {e}", file=sys.stderr)
        soak.teardown()
        return 2
    try:
        print(f"soaking for {args.minutes:g} minutes, a kill every {args.kill_every:g} s", flush=True)
        soak.soak()
        soak.checks()
    finally:
        soak.teardown()
    return 1 if soak.faults else 0


if __name__ == "__main__":
    sys.exit(main())
