#!/usr/bin/env python3
"""Two KRPalvelin instances on one MariaDB database behind HAProxy, with the balancer's
configuration as the package ships it (packaging/haproxy-krpalvelin.cfg; only addresses, ports
and file paths replaced). Clients write stock-count rows through the balancer; one instance is
stopped (SIGTERM) in the middle. Checks that
  - every call of a session is answered by the instance that opened it;
  - after the stop, the clients whose session was on the stopped instance get 401 (or 503
    "Palvelu pysäytetään" while it stops), open a new session on the live instance and go on;
  - every acknowledged row is in the database exactly once, and no other row is;
  - failed session openings are limited per client address by the balancer (the instances see
    only the balancer's address).

usage: standby_test.py KRPALVELIN SOURCE_DIR     (needs haproxy, openssl, the mariadb client and
KRP_TEST_ODBC naming the test MariaDB server; exits 77 to be skipped without them)
"""
import base64
import http.client
import json
import os
import re
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time

SKIP = 77
CLIENTS = 8
BEFORE_STOP_S = 3.0
AFTER_STOP_S = 5.0


SCRATCH = []  # the scratch directory, whose logs a failure shows


def fail(message):
    print("standby_test: FAIL: " + message, flush=True)
    for directory in SCRATCH:
        for name in sorted(os.listdir(directory)):
            if name.endswith(".log"):
                lines = open(os.path.join(directory, name), errors="replace").read().splitlines()
                print("---- %s (last 30 lines)\n%s" % (name, "\n".join(lines[-30:])), flush=True)
    sys.exit(1)


def say(message):
    print("standby_test: " + message, flush=True)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def odbc_parts(connection):
    parts = {}
    for item in connection.split(";"):
        if "=" in item:
            key, value = item.split("=", 1)
            parts[key.strip().upper()] = value.strip()
    return parts


class MariaDb:
    """The test server through the mariadb command-line client, as the ODBC user."""

    def __init__(self, connection):
        p = odbc_parts(connection)
        self.connection = connection
        self.args = ["mariadb", "-h", p.get("SERVER", "127.0.0.1"), "-P", p.get("PORT", "3306"),
                     "-u", p["UID"], "-p" + p.get("PWD", ""), "--batch", "--skip-column-names"]

    def run(self, sql, database=None, stdin=None):
        args = self.args + ([database] if database else []) + (["-e", sql] if sql else [])
        r = subprocess.run(args, input=stdin, capture_output=True, text=True)
        if r.returncode != 0:
            fail("mariadb: " + r.stderr.strip())
        return r.stdout

    def connection_to(self, database):
        return re.sub(r"DATABASE=[^;]*", "DATABASE=" + database, self.connection, flags=re.I)


def fixed_credentials(source):
    text = open(os.path.join(source, "src/credentials/Palvelintunnukset.h"), encoding="utf-8").read()
    user = re.search(r'PALVELIMEN_KAYTTAJATUNNUS = "([^"]*)"', text).group(1)
    password = re.search(r'PALVELIMEN_SALASANA = "([^"]*)"', text).group(1)
    return "Basic " + base64.b64encode((user + ":" + password).encode()).decode()


def wait_healthy(port, process, what):
    context = ssl._create_unverified_context()
    deadline = time.time() + 60
    while time.time() < deadline:
        if process.poll() is not None:
            fail(what + " ended with " + str(process.returncode))
        try:
            c = http.client.HTTPSConnection("127.0.0.1", port, context=context, timeout=2)
            c.request("GET", "/api/v1/health")
            if c.getresponse().status == 200:
                return
        except OSError:
            pass
        time.sleep(0.2)
    fail(what + " did not become healthy")


class Client(threading.Thread):
    """A terminal: one session at a time, one stock-count row per call, each row sent until it
    is acknowledged."""

    def __init__(self, number, port, basic, stop_at):
        super().__init__()
        self.number = number
        self.port = port
        self.basic = basic
        self.stop_at = stop_at
        self.acknowledged = []
        self.sessions = []       # [instance, calls answered by it, set of instances answering]
        self.after_loss = []     # statuses that ended a session
        self.error = None
        self.context = ssl.create_default_context(cafile=os.environ["KRP_STANDBY_CA"])
        self.connection = None

    def request(self, method, path, body, headers):
        for attempt in range(3):
            try:
                if self.connection is None:
                    self.connection = http.client.HTTPSConnection("localhost", self.port, context=self.context,
                                                                  timeout=30)
                self.connection.request(method, path, body=body, headers=headers)
                r = self.connection.getresponse()
                data = r.read()
                return r.status, data, r.getheader("X-KRP-Instance")
            except (OSError, http.client.HTTPException):
                self.connection = None
                time.sleep(0.1)
        return 0, b"", None

    def open_session(self):
        body = json.dumps({"Application": "Kairanet", "Token": "Kx7-Ruoste-Tunturi-2026",
                           "ApplicationUserName": "VARASTO", "ApplicationPassword": "Hylly42"})
        while time.time() < self.stop_at:
            status, data, instance = self.request("POST", "/api/v1/session", body,
                                                  {"Authorization": self.basic, "Content-Type": "application/json"})
            if status == 200:
                self.sessions.append([instance, 0, set()])
                return json.loads(data)["session"]
            if status not in (0, 502, 503):
                raise RuntimeError("session opening answered %d %r" % (status, data))
            time.sleep(0.2)
        return None

    def run(self):
        try:
            session = None
            row = 0
            while time.time() < self.stop_at:
                if session is None:
                    session = self.open_session()
                    if session is None:
                        break
                row_id = "sb-%d-%d" % (self.number, row)
                record = {"type": "UTyypit.TInventointirivi", "id": 1,
                          "fields": {"id": row_id, "toimittajanro": 101, "tuotekoodi": "JP-1001",
                                     "vanha_varastosaldo": 3, "uusi_varastosaldo": row, "keruupaateid": "sb"}}
                status, data, instance = self.request(
                    "POST", "/api/v1/methods/LisaaInventointirivi", json.dumps([record]),
                    {"Authorization": "Bearer " + session, "Content-Type": "application/json"})
                if status == 200:
                    if json.loads(data) != {"result": ""}:
                        raise RuntimeError("row %s answered %r" % (row_id, data))
                    self.acknowledged.append(row_id)
                    self.sessions[-1][1] += 1
                    self.sessions[-1][2].add(instance)
                    row += 1
                elif status == 401:
                    # The session is gone with its instance: the row did not run; a new session.
                    self.after_loss.append((401, self.sessions[-1][0]))
                    session = None
                elif status in (0, 502, 503):
                    # 503: the instance stops and did not start the call. 502 or no answer: the
                    # balancer lost the connection as the instance closed it; the row is sent
                    # again, and the database check below would find it twice had it run.
                    self.after_loss.append((status, self.sessions[-1][0]))
                    time.sleep(0.2)
                else:
                    raise RuntimeError("row %s answered %d %r" % (row_id, status, data))
        except Exception as e:  # reported by the main thread
            self.error = e


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    program, source = sys.argv[1], sys.argv[2]
    odbc = os.environ.get("KRP_TEST_ODBC", "")
    for tool in ("haproxy", "openssl", "mariadb"):
        if not shutil.which(tool) and not os.path.exists("/usr/sbin/" + tool):
            say("skipped: %s is not installed" % tool)
            return SKIP
    if not odbc:
        say("skipped: KRP_TEST_ODBC names no MariaDB server (scripts/start-mariadb)")
        return SKIP
    haproxy = shutil.which("haproxy") or "/usr/sbin/haproxy"

    scratch = tempfile.mkdtemp(prefix="krp-standby-")
    SCRATCH.append(scratch)
    db = MariaDb(odbc)
    database = "krp_standby_%d" % os.getpid()
    processes = {}
    try:
        # One fresh demo database for both instances.
        db.run("DROP DATABASE IF EXISTS %s; CREATE DATABASE %s" % (database, database))
        schema = "".join(open(os.path.join(source, "db", f), encoding="utf-8").read()
                         for f in ("schema.sql", "catalogue-mariadb.sql", "demo-data.sql"))
        db.run(None, database, stdin=schema)

        # One certificate for the instances, another for the balancer's clients.
        def certificate(prefix):
            subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                            "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1",
                            "-keyout", prefix + ".key", "-out", prefix + ".pem"], check=True, capture_output=True)
        certificate(os.path.join(scratch, "instance"))
        certificate(os.path.join(scratch, "front"))
        with open(os.path.join(scratch, "front-both.pem"), "w") as both:
            both.write(open(os.path.join(scratch, "front.pem")).read() + open(os.path.join(scratch, "front.key")).read())
        os.environ["KRP_STANDBY_CA"] = os.path.join(scratch, "front.pem")

        ports = {"krp1": free_port(), "krp2": free_port()}
        front = free_port()
        for name, port in ports.items():
            config = os.path.join(scratch, name)
            os.makedirs(config)
            shutil.copy(os.path.join(scratch, "instance.pem"), os.path.join(config, "test.pem"))
            shutil.copy(os.path.join(scratch, "instance.key"), os.path.join(config, "test.key"))
            with open(os.path.join(config, "asetukset.ini"), "w", encoding="utf-8") as ini:
                ini.write("[Tietokanta]\nVerkkonimi=odbc:%s\n[Palvelu]\nPortti=%d\nTietokannan_tyyppi=1\n"
                          "[Rajat]\nYhteyksia_osoitteesta=4096\nKirjautumisvirheita_minuutissa=100000\n"
                          % (db.connection_to(database), port))
            env = dict(os.environ)
            env.pop("DISPLAY", None)
            env.pop("WAYLAND_DISPLAY", None)
            processes[name] = subprocess.Popen([program, "--headless", "--config-dir", config],
                                               stdout=open(os.path.join(scratch, name + ".log"), "w"),
                                               stderr=subprocess.STDOUT, env=env)
        for name, port in ports.items():
            wait_healthy(port, processes[name], name)

        # The shipped configuration with this machine's addresses and files.
        shipped = open(os.path.join(source, "packaging/haproxy-krpalvelin.cfg"), encoding="utf-8").read()
        cfg = shipped.replace("log /dev/log local0", "log stderr format short local0")
        cfg = cfg.replace("bind :14002", "bind 127.0.0.1:%d" % front)
        cfg = cfg.replace("/etc/haproxy/krpalvelin.pem", os.path.join(scratch, "front-both.pem"))
        cfg = cfg.replace("/etc/haproxy/krpalvelin-ca.pem", os.path.join(scratch, "instance.pem"))
        cfg = cfg.replace("192.0.2.11:14002", "127.0.0.1:%d" % ports["krp1"])
        cfg = cfg.replace("192.0.2.12:14002", "127.0.0.1:%d" % ports["krp2"])
        cfg_path = os.path.join(scratch, "haproxy.cfg")
        open(cfg_path, "w").write(cfg)
        check = subprocess.run([haproxy, "-c", "-f", cfg_path], capture_output=True, text=True)
        if check.returncode != 0:
            fail("haproxy refused the configuration:\n" + check.stdout + check.stderr)
        processes["haproxy"] = subprocess.Popen([haproxy, "-db", "-f", cfg_path],
                                                stdout=open(os.path.join(scratch, "haproxy.log"), "w"),
                                                stderr=subprocess.STDOUT)
        wait_healthy(front, processes["haproxy"], "haproxy")
        time.sleep(2.5)  # both instances pass the balancer's health check (rise 2, inter 1 s)

        basic = fixed_credentials(source)
        start = time.time()
        clients = [Client(i, front, basic, start + BEFORE_STOP_S + AFTER_STOP_S) for i in range(CLIENTS)]
        for c in clients:
            c.start()
        time.sleep(BEFORE_STOP_S)
        say("stopping krp1 (SIGTERM) with %d rows acknowledged" % sum(len(c.acknowledged) for c in clients))
        processes["krp1"].send_signal(signal.SIGTERM)
        if processes["krp1"].wait(timeout=40) != 0:
            fail("krp1 did not stop cleanly")
        for c in clients:
            c.join(timeout=60)
        for c in clients:
            if c.error:
                fail("client %d: %s" % (c.number, c.error))

        # Pinning: every session's calls were answered by the instance that opened it.
        for c in clients:
            for opened_on, calls, answered_by in c.sessions:
                if answered_by - {opened_on}:
                    fail("client %d: a session opened on %s was answered by %s" % (c.number, opened_on, answered_by))
        first_on_krp1 = [c for c in clients if c.sessions and c.sessions[0][0] == "krp1"]
        if not first_on_krp1 or len(first_on_krp1) == len(clients):
            fail("the openings were not shared between the instances: %s" % [c.sessions[0][0] for c in clients])
        # The clients of krp1 were told (401, or 503 while it stopped), went on on krp2.
        for c in first_on_krp1:
            if not any(status == 401 for status, on in c.after_loss):
                fail("client %d lost its krp1 session without a 401: %s" % (c.number, c.after_loss))
            if c.sessions[-1][0] != "krp2" or c.sessions[-1][1] == 0:
                fail("client %d did not go on on krp2: %s" % (c.number, c.sessions))
        for c in clients:
            if c.sessions[0][0] == "krp2" and c.after_loss:
                fail("client %d of krp2 lost its session: %s" % (c.number, c.after_loss))

        # Nothing acknowledged lost or doubled, nothing unacknowledged written.
        acknowledged = sorted(r for c in clients for r in c.acknowledged)
        rows = db.run("SELECT KEI_ID, COUNT(*) FROM KERUUINVENTOINTI WHERE KEI_ID LIKE 'sb-%' "
                      "GROUP BY KEI_ID ORDER BY KEI_ID", database).split("\n")
        counts = dict(line.split("\t") for line in rows if line)
        doubled = [k for k, n in counts.items() if n != "1"]
        missing = sorted(set(acknowledged) - set(counts))
        extra = sorted(set(counts) - set(acknowledged))
        if doubled or missing or extra:
            fail("database: doubled %s, missing %s, unacknowledged %s" % (doubled[:5], missing[:5], extra[:5]))
        # Failed openings are counted per client address by the balancer: the 11th from one
        # address gets 429, while another address opens its session.
        def opening(source, password):
            c = http.client.HTTPSConnection("localhost", front, timeout=30, source_address=(source, 0),
                                            context=ssl.create_default_context(cafile=os.environ["KRP_STANDBY_CA"]))
            c.request("POST", "/api/v1/session", body=json.dumps(
                {"Application": "Kairanet", "Token": "Kx7-Ruoste-Tunturi-2026", "ApplicationUserName": "VARASTO",
                 "ApplicationPassword": password}), headers={"Authorization": basic})
            r = c.getresponse()
            r.read()
            c.close()
            return r.status, r.getheader("Retry-After")
        failures = [opening("127.0.0.3", "väärä")[0] for _ in range(10)]
        if failures != [403] * 10:
            fail("wrong passwords were answered %s" % failures)
        locked = opening("127.0.0.3", "Hylly42")
        if locked[0] != 429 or not locked[1]:
            fail("the 11th opening from 127.0.0.3 was answered %s" % (locked,))
        if opening("127.0.0.1", "Hylly42")[0] != 200:
            fail("another address could not open a session while 127.0.0.3 was locked out")
        after = sum(c.sessions[-1][1] for c in first_on_krp1)
        say("ok: %d rows acknowledged, each once in the database; %d clients moved from krp1 to krp2 "
            "(401 after %s) and wrote %d rows there" %
            (len(acknowledged), len(first_on_krp1), sorted({s for c in first_on_krp1 for s, _ in c.after_loss}), after))
        say("ok: the balancer answered the 11th failed opening from one address 429, another address got in")
        return 0
    finally:
        for name, p in processes.items():
            if p.poll() is None:
                p.send_signal(signal.SIGTERM)
                try:
                    p.wait(timeout=40)
                except subprocess.TimeoutExpired:
                    p.kill()
        if os.environ.get("KRP_STANDBY_KEEP"):
            say("kept " + scratch)
        else:
            shutil.rmtree(scratch, ignore_errors=True)
        try:
            db.run("DROP DATABASE IF EXISTS %s" % database)
        except SystemExit:
            pass


if __name__ == "__main__":
    sys.exit(main())
