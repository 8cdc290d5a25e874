#!/usr/bin/env python3
"""The servers of the web-server benchmark (bench/servers.py), each on 127.0.0.1 on a free port
and stopped by its PID: lighttpd running the programs as CGI (mod_cgi) and as FastCGI
(mod_fastcgi, bin-path: lighttpd starts them on a listening socket), Groonga's HTTP server;
one keep-alive HTTP client; wrk and the reading of its report; the resident memory of a process.
"""
import http.client
import os
import re
import signal
import socket
import subprocess
import time
from pathlib import Path

CGI_PREFIX = "/cgi-bin/"
FASTCGI_PREFIX = "/fcgi/"
# A static 2 KiB file lighttpd serves itself: the floor of an answer through the server and client.
STATIC_PAGE = "static.html"


def free_port():
    """A port on 127.0.0.1 that nothing listens on now."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def answers(port, timeout=0.2):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=timeout):
            return True
    except OSError:
        return False


def conf_string(text):
    """A text as a lighttpd configuration string."""
    return '"' + str(text).replace("\\", "\\\\").replace('"', '\\"') + '"'


def lighttpd_conf(port, run_dir, config, programs, fastcgi_procs=2):
    """The configuration of lighttpd on 127.0.0.1:PORT serving each program (path) as CGI under
    /cgi-bin/NAME and, unless fastcgi_procs is 0, as FastCGI under /fcgi/NAME (fastcgi_procs
    processes each, started by lighttpd on the socket run_dir/NAME.sock); the program finds the
    catalogue through SHELFRA_CONFIG=config, given to both."""
    run_dir = Path(run_dir)
    lines = [
        "# Written by bench/web_servers.py: the programs as CGI and as FastCGI on 127.0.0.1.",
        'server.modules = ( "mod_alias", "mod_cgi", "mod_fastcgi", "mod_setenv" )',
        'server.bind = "127.0.0.1"',
        f"server.port = {port}",
        f"server.document-root = {conf_string(run_dir / 'htdocs')}",
        f"server.errorlog = {conf_string(run_dir / 'error.log')}",
        f"server.breakagelog = {conf_string(run_dir / 'program.log')}",
        f"server.pid-file = {conf_string(run_dir / 'lighttpd.pid')}",
        # One client keeps one connection for every measured request.
        "server.max-keep-alive-requests = 1000000",
        "server.max-keep-alive-idle = 600",
        # Shift_JIS searches hold escapes that the default URL normalisation refuses.
        'server.http-parseopts = ( "url-normalize" => "disable" )',
        f'alias.url = ( "{CGI_PREFIX}" => {conf_string(str(run_dir / "cgi-bin") + "/")} )',
        f'$HTTP["url"] =~ "^{CGI_PREFIX}" {{',
        '  cgi.assign = ( ".exe" => "", ".cgi" => "" )',
        "}",
        f'setenv.add-environment = ( "SHELFRA_CONFIG" => {conf_string(config)} )',
    ]
    if fastcgi_procs:
        lines.append("fastcgi.server = (")
        for program in programs:
            name = Path(program).name
            lines += [
                f'  "{FASTCGI_PREFIX}{name}" => ((',
                f'    "socket" => {conf_string(run_dir / (name + ".sock"))},',
                f'    "bin-path" => {conf_string(program)},',
                f'    "bin-environment" => ( "SHELFRA_CONFIG" => {conf_string(config)} ),',
                f'    "max-procs" => {fastcgi_procs},',
                '    "check-local" => "disable",',
                "  )),",
            ]
        lines.append(")")
    return "\n".join(lines) + "\n"


def alive(pid):
    """True while process PID runs and is no zombie."""
    try:
        stat = Path(f"/proc/{pid}/stat").read_text()
    except OSError:
        return False
    return stat.rsplit(") ", 1)[1][:1] != "Z"


def children(pid):
    """The PIDs whose parent is PID."""
    found = []
    for entry in Path("/proc").iterdir():
        if entry.name.isdigit():
            try:
                stat = (entry / "stat").read_text()
            except OSError:
                continue
            if int(stat.rsplit(") ", 1)[1].split()[1]) == pid:
                found.append(int(entry.name))
    return found


def resident_kb(pid):
    """VmRSS of process PID in KiB (from /proc/PID/status), or None when it has gone."""
    try:
        for line in Path(f"/proc/{pid}/status").read_text().splitlines():
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    except OSError:
        pass
    return None


def signal_alive(pids, sig):
    """Sends `sig` to each of `pids` that still runs."""
    for pid in pids:
        if alive(pid):
            try:
                os.kill(pid, sig)
            except ProcessLookupError:
                pass


class Server:
    """A server process of the bench, started in the foreground (its PID is the server's) and
    stopped by that PID; `extra_pids` are processes it started that must go with it."""

    def __init__(self, name, argv, port, log):
        self.name, self.port = name, port
        self.log = open(log, "ab")
        self.process = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=self.log, stderr=subprocess.STDOUT,
                                        start_new_session=True)
        self.extra_pids = []
        deadline = time.monotonic() + 20
        while not answers(port):
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise RuntimeError(f"{name} did not start on 127.0.0.1:{port} (see {log})")
            time.sleep(0.05)

    @property
    def pid(self):
        return self.process.pid

    def stop(self):
        """SIGTERM to the server and to what it started, SIGKILL to what is left after 5 s."""
        pids = [self.pid] + sorted((set(self.extra_pids) | set(children(self.pid))) - {self.pid})
        signal_alive(pids, signal.SIGTERM)
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            self.process.poll()
            if not any(alive(p) for p in pids):
                break
            time.sleep(0.05)
        signal_alive(pids, signal.SIGKILL)
        self.process.wait()
        self.log.close()


def start_lighttpd(run_dir, config, programs, fastcgi_procs):
    """lighttpd serving `programs` (see lighttpd_conf) from run_dir, which gets the configuration,
    the logs, the sockets and cgi-bin/ (links to the programs). Refuses a configuration that
    lighttpd's check refuses."""
    run_dir = Path(run_dir)
    (run_dir / "htdocs").mkdir(parents=True, exist_ok=True)
    (run_dir / "htdocs" / STATIC_PAGE).write_bytes(b"<p>" + b"x" * 2040 + b"</p>\n")
    (run_dir / "cgi-bin").mkdir(exist_ok=True)
    for program in programs:
        link = run_dir / "cgi-bin" / Path(program).name
        if link.is_symlink() or link.exists():
            link.unlink()
        link.symlink_to(program)
    port = free_port()
    conf = run_dir / "lighttpd.conf"
    conf.write_text(lighttpd_conf(port, run_dir, config, programs, fastcgi_procs))
    check = subprocess.run(["lighttpd", "-tt", "-f", str(conf)], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if check.returncode != 0:
        raise RuntimeError(f"lighttpd refuses {conf}: {check.stdout.decode(errors='replace').strip()}")
    server = Server("lighttpd", ["lighttpd", "-D", "-f", str(conf)], port, run_dir / "lighttpd.out")
    server.extra_pids = children(server.pid)
    return server


def fastcgi_pids(server, program):
    """The PIDs of the FastCGI processes of `program` that lighttpd started: its children whose
    executable is the program, or whose first argument is (a script run by its interpreter),
    and whose standard input is a socket (the listening one; a CGI process of the same program
    reads a pipe)."""
    real = os.fsencode(os.path.realpath(program))
    pids = []
    for pid in children(server.pid):
        try:
            names = [os.readlink(f"/proc/{pid}/exe").encode()]
            names += Path(f"/proc/{pid}/cmdline").read_bytes().split(b"\0")[1:2]
            listening = os.readlink(f"/proc/{pid}/fd/0").startswith("socket:")
        except OSError:
            continue
        if listening and any(os.path.realpath(n) == real for n in names):
            pids.append(pid)
    return sorted(pids)


def start_groonga(database, log, groonga="groonga"):
    """Groonga's HTTP server over `database`, its query cache off (cache_limit max=0)."""
    port = free_port()
    server = Server("groonga", [groonga, "-s", "--protocol", "http", "--bind-address", "127.0.0.1", "--port",
                                str(port), str(database)], port, log)
    client = Client(port)
    try:
        for _ in range(2):  # the second answer is the limit the first one set
            status, body, _ = client.get("/d/cache_limit?max=0")
        if status != 200 or not body.rstrip().endswith(b",0]"):
            raise RuntimeError(f"groonga: cache_limit max=0 answered {status} {body[:200]!r}")
    except BaseException:
        server.stop()
        raise
    finally:
        client.close()
    return server


class Client:
    """One HTTP/1.1 client on one connection, kept alive as long as the server keeps it; a
    server that closes it after an answer is reconnected to (the connect is timed then too)."""

    def __init__(self, port, timeout=300):
        self.connection = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
        self.connects = 0

    def get(self, path):
        """(status, body, ms) of GET path, timed from the request to the last byte of the body."""
        for attempt in (1, 2):
            if self.connection.sock is None:
                self.connects += 1
            started = time.perf_counter()
            try:
                self.connection.request("GET", path)
                response = self.connection.getresponse()
                body = response.read()
            except (http.client.RemoteDisconnected, BrokenPipeError, ConnectionResetError):
                # An idle connection the server had closed: once more on a new one.
                self.connection.close()
                if attempt == 2:
                    raise
                continue
            return response.status, body, (time.perf_counter() - started) * 1000

    def close(self):
        self.connection.close()


_UNITS_MS = {"us": 0.001, "ms": 1.0, "s": 1000.0, "m": 60000.0, "h": 3600000.0}


def wrk_duration_ms(text):
    """A wrk duration ("812.00us", "1.23ms", "2.01s", "1.00m") in ms."""
    match = re.fullmatch(r"([0-9.]+)(us|ms|s|m|h)", text.strip())
    if not match:
        raise ValueError(f"not a wrk duration: {text!r}")
    return float(match.group(1)) * _UNITS_MS[match.group(2)]


def parse_wrk(text):
    """{rps, requests, p50_ms, p75_ms, p90_ms, p99_ms, non_2xx, socket_errors} of wrk --latency's
    report; missing error lines count as 0. Raises ValueError when the report lacks a figure."""
    figures = {"non_2xx": 0, "socket_errors": 0}
    for percent, value in re.findall(r"^\s+(50|75|90|99)%\s+(\S+)\s*$", text, re.M):
        figures[f"p{percent}_ms"] = wrk_duration_ms(value)
    match = re.search(r"^Requests/sec:\s+([0-9.]+)", text, re.M)
    if match:
        figures["rps"] = float(match.group(1))
    match = re.search(r"^\s+(\d+) requests in ", text, re.M)
    if match:
        figures["requests"] = int(match.group(1))
    match = re.search(r"Non-2xx or 3xx responses:\s+(\d+)", text)
    if match:
        figures["non_2xx"] = int(match.group(1))
    match = re.search(r"Socket errors:\s+connect (\d+), read (\d+), write (\d+), timeout (\d+)", text)
    if match:
        figures["socket_errors"] = sum(int(n) for n in match.groups())
    missing = [k for k in ("rps", "requests", "p50_ms", "p90_ms", "p99_ms") if k not in figures]
    if missing:
        raise ValueError(f"wrk's report lacks {', '.join(missing)}: {text[-400:]!r}")
    return figures


def run_wrk(url, duration, connections, threads=2):
    """wrk's figures (parse_wrk) of `connections` connections on `url` for `duration` seconds."""
    done = subprocess.run(["wrk", "--latency", "-t", str(threads), "-c", str(connections), "-d", f"{duration}s",
                           "--timeout", "30s", url], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          timeout=duration + 120)
    text = done.stdout.decode(errors="replace")
    if done.returncode != 0:
        raise RuntimeError(f"wrk ended with status {done.returncode}: {text[-400:]}")
    return parse_wrk(text)
