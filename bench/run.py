#!/usr/bin/env python3
"""Runs the benchmarks B1..B20 against Portwright and their baselines, and prints
one table: Portwright figure, baseline figure from the same run, ratio, target,
met or not. Figures are medians over --runs runs. Loopback only; the serial
benchmarks (B17..B19) use pseudo-terminals, never a real serial device.

Every process this script starts is waited for with a deadline and, if it
overstays, ended by its own PID.
"""

import argparse
import json
import os
import re
import resource
import select
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

LOG_CAP_BYTES = 32 * 1024 * 1024  # the log keeps 32 MiB of bytes, in text and hex mode alike
MB = 1024 * 1024


def now_ns():
    return time.monotonic_ns()  # CLOCK_MONOTONIC, as the C++ side uses


def free_port(kind=socket.SOCK_STREAM):
    with socket.socket(socket.AF_INET, kind) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def kv(line):
    out = {}
    for part in line.split():
        if "=" in part:
            k, v = part.split("=", 1)
            try:
                out[k] = float(v) if "." in v else int(v)
            except ValueError:
                out[k] = v
    return out


class Proc:
    """A child process whose stdout is read line by line, with deadlines."""

    def __init__(self, args, env=None, nofile=None, stdin=None, stderr_path=None):
        self.args = args
        # nofile: (soft, hard) descriptor limit for the child, set before it runs.
        preexec = (lambda: resource.setrlimit(resource.RLIMIT_NOFILE, nofile)) if nofile else None
        # stderr_path: a file for a child that may say more than a pipe holds
        # before it is read (an X program's warnings).
        self.stderr_path = stderr_path
        err = open(stderr_path, "w") if stderr_path else subprocess.PIPE
        try:
            self.p = subprocess.Popen(args, stdin=stdin, stdout=subprocess.PIPE, stderr=err, text=True, env=env,
                                      preexec_fn=preexec)
        finally:
            if stderr_path:
                err.close()
        self.lines = []

    def wait_line(self, prefix, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for line in self.lines:
                if line.startswith(prefix):
                    return line
            line = self.p.stdout.readline()
            if not line:
                break
            self.lines.append(line.strip())
        for line in self.lines:
            if line.startswith(prefix):
                return line
        raise RuntimeError("%s: no %r (stderr: %s)" % (self.args[0], prefix, self.stderr_tail()))

    def stderr_tail(self):
        if self.stderr_path:
            with open(self.stderr_path, errors="replace") as f:
                return f.read()[-2000:]
        if self.p.poll() is None:
            return "(still running)"
        return self.p.stderr.read()[-2000:]

    def finish(self, timeout):
        try:
            self.p.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.kill(self.p.pid, signal.SIGKILL)  # only our own child, by its PID
            self.p.wait()
        rest = self.p.stdout.read()
        self.lines.extend(l.strip() for l in rest.splitlines())
        return self.p.returncode


class Bench:
    def __init__(self, bindir, runs):
        self.app = os.path.join(bindir, "pw_benchapp")
        self.gen = os.path.join(bindir, "pw_loadgen")
        self.bindir = bindir
        self.runs = runs
        # The app keeps settings (reply rules): never in the user's own folder.
        self.config = tempfile.mkdtemp(prefix="pw-bench-config-")
        self.env = dict(os.environ, QT_QPA_PLATFORM="offscreen", LC_ALL="C.UTF-8", XDG_CONFIG_HOME=self.config)

    @property
    def portwright(self):
        # Only the headless benchmarks need it: a baseline build of the
        # benchmark programs alone still runs the others.
        return find_portwright(self.bindir)

    def app_proc(self, *args, nofile=None):
        return Proc([self.app] + [str(a) for a in args], env=self.env, nofile=nofile)

    def gen_proc(self, *args, stdin=None):
        return Proc([self.gen] + [str(a) for a in args], stdin=stdin)

    # B1, B7 and B11: a stream into one accepted peer (for B11 its log
    # recorded to the file `record`).
    def tcp_stream(self, nbytes, hex_mode=False, rate=None, rss_every_ms=0, timeout=180, record=None):
        port = free_port()
        app_args = ["tcp-recv", "--port", port, "--bytes", nbytes, "--timeout-ms", int(timeout * 1000)]
        if hex_mode:
            app_args.append("--hex")
        if record:
            app_args += ["--record", record]
        if rss_every_ms:
            app_args += ["--rss-every-ms", rss_every_ms]
        app = self.app_proc(*app_args)
        app.wait_line("READY", 30)
        gen_args = ["tcp-send", port, nbytes, "--delay-ms", 300, "--timeout-ms", int(timeout * 1000)]
        if rate:
            gen_args += ["--rate", rate]
        gen = self.gen_proc(*gen_args)
        start = kv(gen.wait_line("start_ns=", 30))["start_ns"]
        res = kv(app.wait_line("RESULT", timeout + 10))
        app.finish(30)
        gen.finish(30)
        secs = (res["end_ns"] - start) / 1e9
        res["seconds"] = secs
        res["mbps"] = nbytes / MB / secs
        return res

    def socat_stream(self, nbytes):
        port = free_port()
        socat = subprocess.Popen(["socat", "-u", "TCP-LISTEN:%d,reuseaddr" % port, "/dev/null"])
        gen = self.gen_proc("tcp-send", port, nbytes, "--shutdown")
        start = kv(gen.wait_line("start_ns=", 30))["start_ns"]
        try:
            socat.wait(timeout=120)
        except subprocess.TimeoutExpired:
            os.kill(socat.pid, signal.SIGKILL)
            socat.wait()
        end = now_ns()
        gen.finish(30)
        return {"mbps": nbytes / MB / ((end - start) / 1e9)}

    # B10: a TCP Client sends the file to a sink; the baseline is socat
    # sending it to another sink, timed from its start until it exits.
    def sink(self):
        port = free_port()
        proc = subprocess.Popen(["socat", "-u", "TCP-LISTEN:%d,reuseaddr" % port, "OPEN:/dev/null"])
        wait_listening(port, 10)
        return port, proc

    def file_send(self, path, nbytes):
        port, sink = self.sink()
        try:
            app = self.app_proc("file-send", "--port", port, "--file", path, "--timeout-ms", 600000)
            app.wait_line("READY", 30)
            res = kv(app.wait_line("RESULT", 660))
            app.finish(30)
        finally:
            end_child(sink, 30)
        if "end_ns" not in res:
            raise RuntimeError("file-send: %s" % res)
        res["seconds"] = (res["end_ns"] - res["start_ns"]) / 1e9
        res["mbps"] = nbytes / MB / res["seconds"]
        res["rss_growth_kb"] = res["hwm_kb"] - res["idle_rss_kb"]
        return res

    def socat_file_send(self, path, nbytes):
        port, sink = self.sink()
        try:
            start = now_ns()
            sender = subprocess.Popen(["socat", "-u", "OPEN:%s" % path, "TCP:127.0.0.1:%d" % port])
            code = end_child(sender, 600)
            end = now_ns()
        finally:
            end_child(sink, 30)
        return {"seconds": (end - start) / 1e9, "mbps": nbytes / MB / ((end - start) / 1e9), "exit": code}

    # B2: a datagram burst.
    def udp_burst(self, count, size, rate=None, baseline=False):
        port = free_port(socket.SOCK_DGRAM)
        if baseline:
            rx = self.gen_proc("udp-sink", port, count, "--quiet-ms", 1500)
        else:
            rx = self.app_proc("udp-recv", "--port", port, "--count", count, "--size", size, "--quiet-ms", 1500)
        rx.wait_line("READY", 30)
        args = ["udp-send", port, count, size]
        if rate:
            args += ["--rate", rate]
        gen = self.gen_proc(*args)
        gen.finish(120)
        res = kv(rx.wait_line("RESULT", 60))
        rx.finish(30)
        res["share"] = res["datagrams"] / count
        return res

    # B12: a UDP Server answers every request by twenty reply rules. The app
    # ends once requests stop coming (none is 1,000 bytes long).
    def udp_answers(self, count, rate):
        port = free_port(socket.SOCK_DGRAM)
        app = self.app_proc("udp-recv", "--port", port, "--count", count, "--size", 1000, "--quiet-ms", 3000,
                            "--answer", "--timeout-ms", 120000)
        app.wait_line("READY", 30)
        gen = self.gen_proc("udp-ask", port, count, "--rate", rate, "--quiet-ms", 2000, "--timeout-ms", 120000)
        gen.finish(150)
        res = kv(gen.wait_line("sent=", 5))
        res.update({"app_" + k: v for k, v in kv(app.wait_line("RESULT", 60)).items()})
        app.finish(30)
        return res

    # B14: a headless TCP Server takes a stream from one peer, its standard
    # output to a file. The end is when the file holds every byte sent (the
    # file's modification time once its data adds up); a run whose file
    # stops short is ended once the file has not grown for `quiet` seconds
    # (the whole stream takes about one).
    def headless_stream(self, nbytes, timeout=180, quiet=5.0):
        port = free_port()
        workspace = {"format": 1, "endpoints": [{"kind": "tcpServer", "port": port}]}
        run = Headless(self.portwright, workspace, self.env, timeout + 60)
        check = None
        gen = None
        try:
            wait_listening(port, 30)
            check = StreamCheck(run.out_path)
            gen = self.gen_proc("tcp-send", port, nbytes, "--timeout-ms", int(timeout * 1000))
            start = kv(gen.wait_line("start_ns=", 30))["start_ns"]
            deadline = time.monotonic() + timeout
            # The file is read only once it has not grown for a moment, so
            # that reading it takes no processor time from the run while it
            # writes (the end is the file's time, not the moment it is read).
            size, last_growth = 0, time.monotonic()
            end = None
            while time.monotonic() < deadline and run.p.poll() is None:
                now = os.fstat(check.f.fileno()).st_size
                if now != size:
                    size, last_growth = now, time.monotonic()
                elif time.monotonic() - last_growth > 0.05 and check.read():
                    if check.data >= nbytes:
                        end = min(check.written_ns(), now_ns())
                        break
                elif size > 0 and time.monotonic() - last_growth > quiet:
                    break
                time.sleep(0.005)
            res = {"peak_rss_kb": run.peak_rss_kb() if run.p.poll() is None else 0}
            res["exit"] = run.stop(30)
            check.read()  # what the end of the run wrote
            res.update({"lines": check.lines, "pieces": check.pieces, "data_bytes": check.data,
                        "mismatch_at": check.mismatch_at, "dropped_notes": check.dropped_notes})
            res["complete"] = int(end is not None)
            res["seconds"] = (end - start) / 1e9 if end else float("inf")
            res["mbps"] = nbytes / MB / res["seconds"]
            run.tell_failure("B14")
            return res
        finally:
            if run.p.poll() is None:
                run.stop(30)
            if gen:
                gen.finish(30)  # the run's end closed its connection
            if check:
                check.close()
            run.remove()

    # B15: a headless UDP Server answers a request stream by twenty reply
    # rules, its standard output to a file. Once the asker has given up
    # waiting for answers and the file has stopped growing the run is
    # ended, and its lines counted.
    def headless_answers(self, count, rate, quiet=1.0):
        port = free_port(socket.SOCK_DGRAM)
        # The serial bridge leads nowhere: no real port is opened (as in
        # benchapp).
        workspace = {"format": 1, "endpoints": [
            {"kind": "udpServer", "port": port, "serialDevice": "/nonexistent/bench-serial",
             "setup": {"autoReply": True}, "rules": reply_rules()}]}
        seconds = count / rate
        run = Headless(self.portwright, workspace, self.env, int(seconds * 3 + 120))
        try:
            wait_udp_bound(port, 30)
            gen = self.gen_proc("udp-ask", port, count, "--rate", rate, "--quiet-ms", 2000,
                                "--timeout-ms", int((seconds * 3 + 60) * 1000))
            gen.finish(seconds * 3 + 90)
            res = kv(gen.wait_line("sent=", 5))
            size, stable_since = -1, time.monotonic()
            deadline = time.monotonic() + 60
            while time.monotonic() < deadline and time.monotonic() - stable_since < quiet:
                now = os.path.getsize(run.out_path)
                if now != size:
                    size, stable_since = now, time.monotonic()
                time.sleep(0.05)
            res["peak_rss_kb"] = run.peak_rss_kb() if run.p.poll() is None else 0
            res["exit"] = run.stop(30)
            res.update(count_answers(run.out_path))
            run.tell_failure("B15")
            return res
        finally:
            if run.p.poll() is None:
                run.stop(30)
            run.remove()

    # B3, B4, B8 and B9: many peers at once.
    def accepts(self, count, baseline=False, app_extra=(), gen_extra=(), nofile=None, timeout_ms=20000):
        port = free_port()
        if baseline:
            rx = self.gen_proc("accept-sink", port, count)
        else:
            rx = self.app_proc("tcp-accept", "--port", port, "--count", count, "--timeout-ms", timeout_ms,
                               *app_extra, nofile=nofile)
        rx.wait_line("READY", 30)
        gen = self.gen_proc("tcp-connect", port, count, "--hold-ms", 2000 if baseline else 60000, *gen_extra)
        start = kv(gen.wait_line("start_ns=", 30))["start_ns"]
        res = kv(rx.wait_line("RESULT", 120 + timeout_ms / 1000))
        rx.finish(60)
        gen.finish(70)  # the app's exit closes the peers; the generator then ends
        res["seconds"] = (res["end_ns"] - start) / 1e9
        return res

    # B13: peers that each ask once and never read, answered by a rule whose
    # reply does not fit their receive buffers. The generator holds the
    # peers until its stdin is closed, after the app has ended (or its own
    # time limit); a run whose app dies before its RESULT counts as not alive.
    def stalled_replies(self, count, reply_bytes, timeout_ms=60000):
        port = free_port()
        app = self.app_proc("tcp-stalled-replies", "--port", port, "--count", count, "--reply-bytes", reply_bytes,
                            "--timeout-ms", timeout_ms)
        app.wait_line("READY", 30)
        gen = self.gen_proc("tcp-stall", port, count, "--rcvbuf", 1024, "--mss", 1460, "--say", "q",
                            "--hold-ms", timeout_ms + 120000, "--until-eof", "--timeout-ms", timeout_ms + 180000,
                            stdin=subprocess.PIPE)
        try:
            gen.wait_line("start_ns=", 30)
            try:
                res = kv(app.wait_line("RESULT", timeout_ms / 1000 + 120))
                res["alive"] = 1
            except RuntimeError as e:
                print("B13: %s" % e, file=sys.stderr, flush=True)
                res = {"alive": 0}
        finally:
            app_exit = app.finish(120)
            gen.p.stdin.close()
            gen.finish(60)
        res["app_exit"] = app_exit
        res.update({"gen_" + k: v for k, v in kv(" ".join(l for l in gen.lines if "=" in l)).items()})
        return res

    # B20: a crowd of peers against the program's memory budgets. With
    # reply_bytes each peer asks a rule 30 times, 0.12 s apart, for that
    # many bytes and reads 64 KB every 0.8 s; with send_bytes each sends that
    # many and stays; with neither they connect and stay (the idle program
    # with its peers). The generator holds the peers until the app is done.
    def crowd(self, count, reply_bytes=0, send_bytes=0, seconds=10):
        port = free_port()
        app_args = ["crowd-budgets", "--port", port, "--count", count, "--seconds", seconds]
        gen_args = ["tcp-crowd", port, count, "--until-eof", "--hold-ms", (seconds + 120) * 1000,
                    "--timeout-ms", (seconds + 180) * 1000]
        if reply_bytes:
            app_args += ["--reply-bytes", reply_bytes]
            gen_args += ["--asks", 30, "--ask-ms", 120, "--read-bytes", 65536, "--read-ms", 800]
        if send_bytes:
            app_args += ["--expect-bytes", count * send_bytes]
            gen_args += ["--send-bytes", send_bytes]
        app = self.app_proc(*app_args)
        app.wait_line("READY", 30)
        gen = self.gen_proc(*gen_args, stdin=subprocess.PIPE)
        try:
            gen.wait_line("start_ns=", 60)
            try:
                res = kv(app.wait_line("RESULT", seconds + 120))
                res["alive"] = 1
            except RuntimeError as e:
                print("B20: %s" % e, file=sys.stderr, flush=True)
                res = {"alive": 0}
        finally:
            app.finish(120)
            gen.p.stdin.close()
            gen.finish(60)
        return res

    # B17: the loadgen's stream written into a pseudo-terminal whose slave a
    # serial endpoint has open. The loadgen makes the pair and says the
    # slave's name; the app opens it, and once it is READY the loadgen is
    # told to write.
    def serial_stream(self, nbytes, timeout=180):
        gen = self.gen_proc("pty-send", nbytes, "--timeout-ms", int(timeout * 1000), stdin=subprocess.PIPE)
        try:
            slave = gen.wait_line("slave=", 30).split("=", 1)[1]
            app = self.app_proc("serial-recv", "--device", slave, "--bytes", nbytes, "--timeout-ms",
                                int(timeout * 1000))
            try:
                app.wait_line("READY", 30)
                go_ahead(gen)
                start = kv(gen.wait_line("start_ns=", 30))["start_ns"]
                res = kv(app.wait_line("RESULT", timeout + 10))
            finally:
                app.finish(30)
        finally:
            close_input(gen)
            gen.finish(30)
        res["gen_sent"] = kv(gen.wait_line("sent=", 5))["sent"]
        res["seconds"] = (res["end_ns"] - start) / 1e9
        res["mbps"] = nbytes / MB / res["seconds"]
        return res

    # B17's baseline: the same stream into a pseudo-terminal whose slave a
    # plain reader reads (`head -c`, started by the loadgen, which times it
    # until it exits after the last byte).
    def pty_plain_reader(self, nbytes, timeout=180):
        gen = self.gen_proc("pty-send", nbytes, "--head", "--timeout-ms", int(timeout * 1000))
        try:
            start = kv(gen.wait_line("start_ns=", 30))["start_ns"]
            res = kv(gen.wait_line("read_ns=", timeout + 10))
        finally:
            gen.finish(30)
        if res["reader_exit"] != 0 or res["read_ns"] <= 0:
            raise RuntimeError("pty plain reader: %s" % res)
        res["seconds"] = (res["read_ns"] - start) / 1e9
        res["mbps"] = nbytes / MB / res["seconds"]
        return res

    # B18: an echo device on a pseudo-terminal; the app types requests and
    # times each answer.
    def serial_echo(self, count, timeout=120):
        gen = self.gen_proc("pty-echo", "--timeout-ms", int((timeout + 60) * 1000), stdin=subprocess.PIPE)
        try:
            slave = gen.wait_line("slave=", 30).split("=", 1)[1]
            app = self.app_proc("serial-echo", "--device", slave, "--count", count, "--timeout-ms",
                                int(timeout * 1000))
            try:
                res = kv(app.wait_line("RESULT", timeout + 40))
            finally:
                app.finish(30)
        finally:
            close_input(gen)
            gen.finish(30)
        res["echoed"] = kv(gen.wait_line("echoed=", 5))["echoed"]
        return res

    # B19: the device is a symlink in a temporary folder to the slave of the
    # loadgen's current pseudo-terminal; the loadgen streams into it, closes
    # it (the adapter unplugged), makes a new one under the same name, and
    # goes on once the app's log says the device was opened again.
    def serial_unplug(self, cycles, rate, stream_ms, timeout=180):
        folder = tempfile.mkdtemp(prefix="pw-bench-b19-")
        link = os.path.join(folder, "ttyBENCH")
        gen = self.gen_proc("pty-flap", link, rate, cycles, "--stream-ms", stream_ms, "--timeout-ms",
                            int(timeout * 1000), stdin=subprocess.PIPE)
        reopens_seen = 0
        try:
            gen.wait_line("plugged=0", 30)
            app = self.app_proc("serial-unplug", "--device", link, "--reopens", cycles, "--timeout-ms",
                                int(timeout * 1000))
            try:
                app.wait_line("READY", 30)
                go_ahead(gen)
                for k in range(1, cycles + 1):
                    try:
                        # Reopening is looked for every 500 ms.
                        app.wait_line("REOPENED k=%d " % k, 10)
                    except RuntimeError:
                        break
                    reopens_seen = k
                    go_ahead(gen)
                res = kv(app.wait_line("RESULT", timeout + 10))
            finally:
                app.finish(30)
        finally:
            close_input(gen)
            gen.finish(30)
            for name in os.listdir(folder):
                os.unlink(os.path.join(folder, name))
            os.rmdir(folder)
        res["reopens_seen"] = reopens_seen
        res.update({"gen_" + k: v for k, v in kv(gen.wait_line("sent=", 5)).items()})
        return res

    # B5: timed sending.
    def timer(self, ticks, interval, load_rate=0, baseline=False):
        sink_port = free_port(socket.SOCK_DGRAM)
        sink = self.gen_proc("udp-timing", sink_port, ticks, "--timeout-ms", ticks * interval * 3 + 10000)
        sink.wait_line("READY", 30)
        load = None
        if baseline:
            sender = self.gen_proc("timer-send", sink_port, interval, ticks)
        else:
            args = ["timer-send", "--sink-port", sink_port, "--ticks", ticks, "--interval", interval,
                    "--timeout-ms", ticks * interval * 3 + 10000]
            load_port = free_port(socket.SOCK_DGRAM) if load_rate else 0
            if load_rate:
                args += ["--load-port", load_port]
            sender = self.app_proc(*args)
            sender.wait_line("READY", 30)
            if load_rate:
                seconds = ticks * interval / 1000 + 2
                load = self.gen_proc("udp-send", load_port, int(load_rate * seconds), 64, "--rate", load_rate)
        res = kv(sink.wait_line("RESULT", ticks * interval / 1000 * 3 + 20))
        sink.finish(10)
        sender.finish(30)
        if load:
            load.finish(60)
        return res

    def idle_probe(self, ms):
        app = self.app_proc("idle", "--ms", ms)
        res = kv(app.wait_line("RESULT", ms / 1000 + 30))
        app.finish(10)
        return res

    def repeat(self, fn):
        return [fn() for _ in range(self.runs)]

    # B16: the program on an X display, with an accessibility bus and a
    # listener on it (listen) or without either.
    def xcb_app(self, display, bus, folder, *args, stdin=None):
        env = dict(self.env, DISPLAY=display)
        env.pop("AT_SPI_BUS_ADDRESS", None)
        if bus:
            env.update(DBUS_SESSION_BUS_ADDRESS=bus.address, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        else:
            # No session bus to ask for an accessibility bus (and none
            # started on the display's behalf).
            env.pop("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", None)
            env["DBUS_SESSION_BUS_ADDRESS"] = NO_SESSION_BUS
        # "-platform xcb" overrides the offscreen platform benchapp sets.
        return Proc([self.app] + [str(a) for a in args] + ["-platform", "xcb"], env=env, stdin=stdin,
                    stderr_path=os.path.join(folder, "app.err"))

    def on_display(self, display, listen, app_args, load, limit_s, settle_s=None, follow=False):
        """Runs benchapp with app_args on the display; load(app, listener)
        makes the load once the app is READY (and the listener, if any,
        LISTENING) and returns the app's results. With listen: a session bus
        of its own with the accessibility bus, and the listener's counts added
        to the results. With follow: the app's standard input is a pipe, and
        the listener follows the endpoint tree (a11y_listener.py --follow-tree)."""
        folder = tempfile.mkdtemp(prefix="pw-bench-b16-")
        bus = listener = app = None
        try:
            if listen:
                bus = A11yBus(display, folder, limit_s + 120)
            app = self.xcb_app(display, bus, folder, *app_args, stdin=subprocess.PIPE if follow else None)
            app.wait_line("READY", 60)
            if listen:
                env = dict(os.environ, DISPLAY=display, DBUS_SESSION_BUS_ADDRESS=bus.address)
                env.pop("AT_SPI_BUS_ADDRESS", None)
                listener = Proc([SYSTEM_PYTHON, os.path.join(HERE, "a11y_listener.py"), "--pid", str(app.p.pid),
                                 "--seconds", str(limit_s + 60)] + (["--follow-tree"] if follow else []),
                                env=env, stdin=subprocess.PIPE, stderr_path=os.path.join(folder, "listener.err"))
                listener.wait_line("LISTENING", 120)
            # Both sides start the load from an idle window: the listener's
            # start gives the side with the bus a second or so after READY,
            # and a window still finishing its first paint and font loading
            # would make the side without it the slower one.
            time.sleep(B16_SETTLE_S if settle_s is None else settle_s)
            res = load(app, listener)
            if listener:
                listener.p.stdin.close()
                res.update(kv(listener.wait_line("HEARD", 30)))
            return res
        finally:
            if listener:
                if not listener.p.stdin.closed:
                    listener.p.stdin.close()
                listener.finish(30)
            if app:
                if app.p.stdin and not app.p.stdin.closed:
                    close_input(app)
                app.finish(30)
            if bus:
                bus.stop()
            for name in os.listdir(folder):
                os.unlink(os.path.join(folder, name))
            os.rmdir(folder)

    def a11y_stream(self, display, listen, nbytes, hex_mode, timeout=180):
        """B1's stream into one accepted peer, on the display."""
        port = free_port()
        app_args = ["tcp-recv", "--port", port, "--bytes", nbytes, "--timeout-ms", int(timeout * 1000)]
        if hex_mode:
            app_args.append("--hex")

        def load(app, _listener):
            gen = self.gen_proc("tcp-send", port, nbytes, "--delay-ms", 300, "--timeout-ms", int(timeout * 1000))
            try:
                start = kv(gen.wait_line("start_ns=", 30))["start_ns"]
                res = kv(app.wait_line("RESULT", timeout + 10))
                app.finish(30)
            finally:
                gen.finish(30)
            res["seconds"] = (res["end_ns"] - start) / 1e9
            res["mbps"] = nbytes / MB / res["seconds"]
            return res

        return self.on_display(display, listen, app_args, load, timeout)

    def a11y_stop(self, display, listen, count, timeout_ms=30000):
        """B3's burst of peers on the display, then the server stopped as a
        user does it with a screen reader following the window (benchapp's
        --stop-by-user): the first peer's node clicked, Home and Down to the
        server, its stop button pressed, while the listener, having read the
        tree's rows on screen, asks the tree for its row count every 50 ms
        until only the server is left. From the press: s until the
        listener's tree is clear (tree_s), until the peers have all seen
        their connections end (peers_s), until the app has no peer left
        (stop_s)."""
        port = free_port()
        app_args = ["tcp-accept", "--port", port, "--count", count, "--timeout-ms", timeout_ms, "--stop-by-user"]

        def load(app, listener):
            gen = self.gen_proc("tcp-connect", port, count, "--hold-ms", 120000, "--until-closed")
            try:
                start = kv(gen.wait_line("start_ns=", 30))["start_ns"]
                shown = kv(app.wait_line("SHOWN", 120 + timeout_ms / 1000))
                following = {}
                if listener:
                    go_ahead_line(listener, "follow")
                    following = kv(listener.wait_line("FOLLOWING", 60))
                go_ahead_line(app, "stop")
                stop_ns = kv(app.wait_line("STOPPED", 30))["stop_ns"]
                closed = kv(gen.wait_line("closed_by_peer_ns=", 60))
                clear = kv(listener.wait_line("CLEAR", 60)) if listener else {}
                go_ahead_line(app, "end")
                res = kv(app.wait_line("RESULT", 60))
                app.finish(60)
            finally:
                gen.finish(70)  # the server's stop closed the peers; the generator then ends
            res.update(shown)
            res["cells_read"] = following.get("cells", 0)
            res["seconds"] = (res["end_ns"] - start) / 1e9
            res["peers_s"] = (closed["closed_by_peer_ns"] - stop_ns) / 1e9 if closed["open"] == 0 else -1
            if listener:
                res["tree_s"] = (clear["clear_ns"] - stop_ns) / 1e9 if clear["clear_ns"] else -1
                res["row_polls"] = clear["polls"]
            else:
                res["tree_s"] = res["stop_s"]
            # Negative: before the first connect (the listener's walk, the
            # idle window).
            res["probe_worst_ms"] = (res["probe_worst_at_ns"] - start) / 1e6 if res["probe_worst_at_ns"] else 0
            return res

        return self.on_display(display, listen, app_args, load, 240 + timeout_ms / 1000, follow=True)


HERE = os.path.dirname(os.path.abspath(__file__))
SYSTEM_PYTHON = "/usr/bin/python3"  # the python that has pyatspi
A11Y_LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
NO_SESSION_BUS = "unix:path=/nonexistent/pw-bench-no-session-bus"
B16_SETTLE_S = 1.5


def a11y_missing():
    """What B16 needs that this machine lacks."""
    missing = [tool for tool in ("Xvfb", "dbus-run-session", "dbus-send") if shutil.which(tool) is None]
    if not os.access(A11Y_LAUNCHER, os.X_OK):
        missing.append(A11Y_LAUNCHER)
    try:
        if subprocess.run([SYSTEM_PYTHON, "-c", "import pyatspi"], capture_output=True, timeout=60).returncode:
            missing.append("python3-pyatspi")
    except (OSError, subprocess.TimeoutExpired):
        missing.append(SYSTEM_PYTHON + " with pyatspi")
    return missing


def read_line_fd(fd, timeout):
    """What a child writes to the pipe fd up to its first newline, its end,
    or the timeout."""
    data = b""
    deadline = time.monotonic() + timeout
    while b"\n" not in data and time.monotonic() < deadline:
        ready, _, _ = select.select([fd], [], [], max(0.0, deadline - time.monotonic()))
        if not ready:
            break
        piece = os.read(fd, 64)
        if not piece:
            break
        data += piece
    return data.decode(errors="replace")


def terminate(proc, timeout):
    """SIGTERM to our own child by its PID, then its exit status; killed if
    it overstays."""
    if proc.poll() is None:
        os.kill(proc.pid, signal.SIGTERM)
    return end_child(proc, timeout)


class Xvfb:
    """A private X display for one B16 run: the first free number from 170
    (the tests take 99 and 150 up), found by trying; ended by SIGTERM to its
    PID. -displayfd says when it accepts clients."""

    def __init__(self, first=170, tries=30):
        for n in range(first, first + tries):
            if os.path.exists("/tmp/.X%d-lock" % n) or os.path.exists("/tmp/.X11-unix/X%d" % n):
                continue
            r, w = os.pipe()
            try:
                p = subprocess.Popen(["Xvfb", ":%d" % n, "-displayfd", str(w), "-screen", "0", "1280x800x24",
                                      "-nolisten", "tcp"], pass_fds=(w,), stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            finally:
                os.close(w)
            said = read_line_fd(r, 15)
            os.close(r)
            if said.strip() == str(n):
                self.p, self.display = p, ":%d" % n
                return
            terminate(p, 10)  # taken meanwhile, or too slow: the next number
        raise RuntimeError("no free X display from :%d to :%d" % (first, first + tries - 1))

    def stop(self):
        terminate(self.p, 10)


class A11yBus:
    """A private session bus (dbus-run-session) holding one accessibility
    bus (a11y_session.sh). It ends once its standard input is closed, or by
    its own time limit."""

    def __init__(self, display, folder, limit_s):
        env = dict(os.environ, DISPLAY=display)
        for key in ("DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS"):
            env.pop(key, None)
        self.proc = Proc(["dbus-run-session", "--", "bash", os.path.join(HERE, "a11y_session.sh"),
                          os.path.join(folder, "a11y-bus.log"), str(int(limit_s))], env=env, stdin=subprocess.PIPE,
                         stderr_path=os.path.join(folder, "session.err"))
        try:
            self.address = self.proc.wait_line("BUS ", 30).split(" ", 1)[1]
        except RuntimeError:
            self.stop()
            raise

    def stop(self):
        if not self.proc.p.stdin.closed:
            self.proc.p.stdin.close()
        self.proc.finish(30)


def go_ahead(gen):
    """One line on the loadgen's standard input: its go-ahead."""
    try:
        gen.p.stdin.write("go\n")
        gen.p.stdin.flush()
    except BrokenPipeError:
        pass  # it has ended: what it printed says why


def go_ahead_line(proc, line):
    """One line on a child's standard input."""
    try:
        proc.p.stdin.write(line + "\n")
        proc.p.stdin.flush()
    except BrokenPipeError:
        pass  # it has ended: what it printed says why


def close_input(gen):
    """The end of the loadgen's standard input: the end of its run."""
    try:
        gen.p.stdin.close()
    except BrokenPipeError:
        pass


def loadavg():
    with open("/proc/loadavg") as f:
        return float(f.read().split()[0])


def reply_rules():
    """The twenty rules of B12 (benchapp's answerRequests) as a workspace
    keeps them: nineteen that the requests never match, one of every kind of
    match in turn, and last the regular expression that answers "req <n>"
    with "ack <n>"."""
    kinds = ["equals", "contains", "startsWith", "endsWith", "hexBytes"]
    rules = []
    for i in range(19):
        kind = kinds[i % 5]
        rules.append({"enabled": True, "match": kind,
                      "pattern": "FE %02x" % i if kind == "hexBytes" else "cmd-%d" % i,
                      "reply": "r%d" % i, "replyIsHex": False})
    rules.append({"enabled": True, "match": "regex", "pattern": r"^req (\d+)$", "reply": r"ack \1",
                  "replyIsHex": False})
    return rules


def count_answers(path):
    """A headless answering run's output: all its lines, the received and
    the reply lines, the dropped notes, and whether the received requests
    and the replies each appear in ascending order of their number."""
    res = {"lines": 0, "received_lines": 0, "reply_lines": 0, "dropped_notes": 0, "dropped_reply_notes": 0,
           "received_ascending": 1, "replies_ascending": 1}
    last = {"received": -1, "reply": -1}
    with open(path, "rb") as f:
        for line in f:
            res["lines"] += 1
            for marker, what, word in ((RECEIVED_MARKER, "received", b"req "), (REPLY_MARKER, "reply", b"ack ")):
                at = line.find(marker)
                if at < 0:
                    continue
                res[what + "_lines"] += 1
                text = line[at + len(marker):].rstrip(b"\n")
                number = int(text[len(word):]) if text.startswith(word) and text[len(word):].isdigit() else -1
                if number <= last[what]:
                    res[("received" if what == "received" else "replies") + "_ascending"] = 0
                last[what] = number
                break
            else:
                if DROPPED_NOTE.search(line):
                    res["dropped_notes"] += 1
                elif DROPPED_REPLIES.search(line):
                    res["dropped_reply_notes"] += 1
    return res


def find_portwright(bindir):
    """The portwright program of the build that made the benchmark programs:
    beside them when the benchmarks were built from the main project, in
    its own folder when bench/run.sh built them on their own."""
    for path in (os.path.join(bindir, "portwright", "portwright"), os.path.join(bindir, "..", "portwright")):
        if os.path.isfile(path) and os.access(path, os.X_OK):
            return path
    raise RuntimeError("no portwright program near %s (build the target portwright)" % bindir)


# The loadgen's stream: byte i is PERIOD[i % len(PERIOD)].
PERIOD = bytes(ord("A") + i % 26 for i in range(64 * 1024))
RECEIVED_MARKER = " 收到数据：".encode()
REPLY_MARKER = " 自动应答：".encode()
# The line writer's note, "...已丢弃 N 行输出"; not the dropped replies' note.
DROPPED_NOTE = re.compile("已丢弃 [0-9]+ 行输出".encode())
# The session's note of replies it dropped for want of room to send them.
DROPPED_REPLIES = re.compile("已丢弃 [0-9]+ 条自动应答".encode())


class StreamCheck:
    """Follows a headless run's standard output as it grows: the data of its
    received lines, in the order written, against the loadgen's stream."""

    def __init__(self, path):
        self.f = open(path, "rb")
        self.rest = b""
        self.lines = self.pieces = self.data = self.dropped_notes = 0
        self.mismatch_at = -1  # the first stream offset whose byte is wrong

    def read(self):
        """Takes in the lines written since the last call; True if any."""
        new = self.f.read()
        if not new:
            return False
        buf = self.rest + new
        end = buf.rfind(b"\n") + 1
        self.rest = buf[end:]
        view = memoryview(buf)
        start = 0
        while start < end:
            stop = buf.index(b"\n", start)
            self.lines += 1
            at = buf.find(RECEIVED_MARKER, start, stop)
            if at >= 0:
                self.pieces += 1
                self.check(view[at + len(RECEIVED_MARKER):stop])
            elif DROPPED_NOTE.search(buf, start, stop):
                self.dropped_notes += 1
            start = stop + 1
        return True

    def check(self, piece):
        pos, size = 0, len(piece)
        while pos < size and self.mismatch_at < 0:
            k = (self.data + pos) % len(PERIOD)
            n = min(size - pos, len(PERIOD) - k)
            if piece[pos:pos + n] != PERIOD[k:k + n]:
                self.mismatch_at = self.data + pos
            pos += n
        self.data += size

    def written_ns(self):
        """When the file was last written, as CLOCK_MONOTONIC: its
        modification time less the wall clock's lead on the monotonic one."""
        lead = time.time_ns() - time.monotonic_ns()
        return os.fstat(self.f.fileno()).st_mtime_ns - lead

    def close(self):
        self.f.close()


class Headless:
    """`portwright --headless` on a workspace written to a temporary folder,
    its standard output to a file there. Ends by its own --duration at the
    latest, or earlier by SIGTERM to its PID."""

    def __init__(self, exe, workspace, env, duration_s):
        self.folder = tempfile.mkdtemp(prefix="pw-bench-headless-")
        self.out_path = os.path.join(self.folder, "out.txt")
        self.err_path = os.path.join(self.folder, "err.txt")
        ws_path = os.path.join(self.folder, "bench.portwright")
        with open(ws_path, "w", encoding="utf-8") as f:
            json.dump(workspace, f, ensure_ascii=False)
        with open(self.out_path, "wb") as out, open(self.err_path, "wb") as err:
            self.p = subprocess.Popen([exe, "--headless", ws_path, "--duration", str(duration_s)],
                                      stdin=subprocess.DEVNULL, stdout=out, stderr=err, env=env)

    def peak_rss_kb(self):
        with open("/proc/%d/status" % self.p.pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
        return 0

    def stop(self, timeout):
        """SIGTERM, then the exit status (the run writes what is queued
        first); a run that overstays is killed."""
        if self.p.poll() is None:
            os.kill(self.p.pid, signal.SIGTERM)  # only our own child, by its PID
        return end_child(self.p, timeout)

    def stderr_tail(self):
        with open(self.err_path, "rb") as f:
            return f.read()[-2000:].decode(errors="replace")

    def tell_failure(self, bench):
        if self.p.returncode != 0:
            print("%s: the headless run ended with %s: %s" % (bench, self.p.returncode, self.stderr_tail()),
                  file=sys.stderr, flush=True)

    def remove(self):
        for name in os.listdir(self.folder):
            os.unlink(os.path.join(self.folder, name))
        os.rmdir(self.folder)


def wait_listening(port, timeout):
    """Waits until something listens on 127.0.0.1:port, read from /proc/net/tcp:
    a trial connect would use up the sink's only connection."""
    want = ":%04X" % port
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        with open("/proc/net/tcp") as f:
            for line in f.readlines()[1:]:
                fields = line.split()
                if fields[1].endswith(want) and fields[3] == "0A":
                    return
        time.sleep(0.01)
    raise RuntimeError("nothing listens on port %d" % port)


def wait_udp_bound(port, timeout):
    """Waits until a datagram socket is bound to port, read from /proc/net/udp."""
    want = ":%04X" % port
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        with open("/proc/net/udp") as f:
            if any(line.split()[1].endswith(want) for line in f.readlines()[1:]):
                return
        time.sleep(0.01)
    raise RuntimeError("nothing is bound to UDP port %d" % port)


def end_child(proc, timeout):
    try:
        return proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        os.kill(proc.pid, signal.SIGKILL)  # only our own child, by its PID
        return proc.wait()


def make_file(folder, nbytes):
    """A file of nbytes pseudo-random bytes, written out in 1 MiB pieces (not
    sparse: every block is on disk)."""
    path = os.path.join(folder, "b10-%d.bin" % nbytes)
    with open(path, "wb") as f:
        left = nbytes
        while left > 0:
            piece = os.urandom(min(MB, left))
            f.write(piece)
            left -= len(piece)
    return path


def count_record(path):
    """Lines of a recorded log, those that are one received piece each, and
    the bytes of data they show (the text after the marker)."""
    marker = " 收到数据：".encode()
    lines = pieces = data = 0
    with open(path, "rb") as f:
        for line in f:
            lines += 1
            at = line.find(marker)
            if at >= 0:
                pieces += 1
                data += len(line) - at - len(marker) - (1 if line.endswith(b"\n") else 0)
    return {"lines": lines, "pieces": pieces, "data_bytes": data}


def rss_drift(res, seconds):
    """RSS sampled every second: the reference at min(60 s, half the run) and
    the largest deviation from it after that."""
    samples = [tuple(int(x) for x in s.split(":")) for s in str(res["rss"]).strip(",").split(",") if ":" in s]
    ref_ms = min(60000, seconds * 1000 // 2)
    ref = next((kb for t, kb in samples if t >= ref_ms), samples[-1][1] if samples else 0)
    later = [kb for t, kb in samples if t >= ref_ms] or [ref]
    dev = max(abs(kb - ref) for kb in later) / ref if ref else 1
    return ref_ms, ref, later, dev


def med(results, key):
    return statistics.median(r[key] for r in results)


def b16(b, args, row, raw):
    """B1's stream and B3's burst then stop, each on a private X display with
    the accessibility bus and a listener, and without, interleaved in each
    run (which goes first alternates from run to run)."""
    nbytes, peers = args.b16_mb * 1000 * 1000, args.b16_peers
    modes = ("text", "hex") if nbytes > 0 else ()  # --b16-mb 0: the stop alone
    streams = {(mode, listen): [] for mode in modes for listen in (False, True)}
    stops = {False: [], True: []}
    load = [loadavg()]
    for i in range(b.runs):
        order = (False, True) if i % 2 == 0 else (True, False)
        x = Xvfb()
        try:
            for mode in modes:
                for listen in order:
                    streams[(mode, listen)].append(b.a11y_stream(x.display, listen, nbytes, mode == "hex"))
            for listen in order:
                stops[listen].append(b.a11y_stop(x.display, listen, peers))
        finally:
            x.stop()
        load.append(loadavg())
    for (mode, listen), res in streams.items():
        raw["B16_%s_%s" % (mode, "bus" if listen else "nobus")] = res
    raw["B16_stop_bus"], raw["B16_stop_nobus"], raw["B16_loadavg"] = stops[True], stops[False], load

    def as_meant(runs, listen):
        """Every run painted its window, and had the bus (and was heard) or
        had none, as meant."""
        return all(r["exposed"] == 1 and r["a11y_active"] == (1 if listen else 0)
                   and (not listen or r["found"] == 1) for r in runs)

    for mode in modes:
        bus, nobus = streams[(mode, True)], streams[(mode, False)]
        ratio = med(bus, "mbps") / med(nobus, "mbps")
        ok = (as_meant(bus, True) and as_meant(nobus, False)
              and all(r["received"] == nbytes and r["peer_shown"] == 1 for r in bus + nobus)
              and all(r["text_changed"] > 0 for r in bus))
        row("B16", "%d MB TCP, %s mode, accessibility bus + listener: MB/s" % (args.b16_mb, mode),
            "%.1f" % med(bus, "mbps"), "%.1f (no bus, same display)" % med(nobus, "mbps"), "%.3f" % ratio,
            ">= 0.9x, counter exact, changes heard", "yes" if ratio >= 0.9 and ok else "NO")
    bus, nobus = stops[True], stops[False]
    ok = (as_meant(bus, True) and as_meant(nobus, False)
          and all(r["peers"] == peers and r["peers_left"] == 0 and r["server_front"] == 1
                  and r["tree_s"] >= 0 and r["peers_s"] >= 0 for r in bus + nobus)
          and all(r["cells_read"] > 0 for r in bus))
    for key, what in (("tree_s", "s until the listener's tree is back to the server alone"),
                      ("peers_s", "s until every peer saw its connection end")):
        value = med(bus, key)
        row("B16", "%d peers, server's stop button pressed, bus + listener polling rows: %s" % (peers, what),
            "%.3f" % value, "%.3f (no bus)" % med(nobus, key), "%.1f" % (value / max(med(nobus, key), 1e-6)),
            "<= 1 s, none left", "yes" if value <= 1 and ok else "NO")
    row("B16", "%d peers, server's stop button pressed: s until no peer node is left in the app" % peers,
        "%.3f" % med(bus, "stop_s"), "%.3f (no bus)" % med(nobus, "stop_s"), "-", "-", "-")
    row("B16", "%d concurrent connects, bus + listener: s to all peer nodes+windows" % peers,
        "%.3f" % med(bus, "seconds"), "%.3f (no bus)" % med(nobus, "seconds"),
        "%.1f" % (med(bus, "seconds") / med(nobus, "seconds")), "-", "-")
    p99 = max(r["probe_p99_ms"] for r in bus)
    row("B16", "loop latency p99 ms from READY to all connected, bus + listener (worst run; per run: "
        "ms after the first connect that the worst slot was served)", "%.1f (%s)" % (
            p99, ", ".join("%.0f" % r["probe_worst_ms"] for r in bus)),
        "%.1f (no bus)" % max(r["probe_p99_ms"] for r in nobus), "-", "<= 50", "yes" if p99 <= 50 else "NO")
    every = [streams[(mode, True)] for mode in modes] + [bus]
    row("B16", "listener: nodes walked at start; text / children changes heard (%s; per run)"
        % ", ".join(modes + ("peers",)),
        "%d" % med(bus, "nodes"),
        ", ".join(" ".join("%d/%d" % (r["text_changed"], r["children_changed"]) for r in runs) for runs in every),
        "-", "-", "-")
    row("B16", "machine load (1-min loadavg) before and after each run", " ".join("%.2f" % v for v in load),
        "-", "-", "-", "-")


def main():
    ap = argparse.ArgumentParser(prog="bash bench/run.sh", description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    # bench/run.sh gives the folder of the programs it built.
    ap.add_argument("--bindir", required=True, help=argparse.SUPPRESS)
    ap.add_argument("--runs", type=int, default=3, help="runs of each benchmark; the figures are their medians")
    ap.add_argument("--only", default="B1,B2,B3,B4,B5,B6,B7,B8,B9,B10,B11,B12,B13,B14,B15,B16,B17,B18,B19,B20",
                    help="the benchmarks to run, separated by commas (default: all)")
    ap.add_argument("--b1-mb", type=int, default=50, help="MB (10^6 bytes) streamed into one peer")
    ap.add_argument("--b5-ticks", type=int, default=1000, help="ticks of the 10 ms timer")
    ap.add_argument("--b7-seconds", type=int, default=60, help="length of the flood (the full one: 600)")
    ap.add_argument("--b10-mb", type=int, default=1024, help="size of the file sent, in MiB")
    ap.add_argument("--b11-seconds", type=int, default=60, help="length of the recorded flood (the full one: 600)")
    ap.add_argument("--b12-seconds", type=int, default=10, help="length of the request stream at 20k/s")
    ap.add_argument("--b13-peers", type=int, default=2000, help="peers that never read")
    ap.add_argument("--b13-reply-kb", type=int, default=256, help="size of the reply each peer is given, in KiB")
    ap.add_argument("--b14-mb", type=int, default=50, help="MB (10^6 bytes) into the headless TCP Server")
    ap.add_argument("--b15-seconds", type=int, default=10, help="length of the request stream to the headless run")
    ap.add_argument("--b15-rate", type=int, default=100000, help="requests per second to the headless run")
    ap.add_argument("--b16-mb", type=int, default=50,
                    help="MB (10^6 bytes) into the peer on the X display (0: no stream, the stop alone)")
    ap.add_argument("--b16-peers", type=int, default=1000, help="peers whose server is stopped on the X display")
    ap.add_argument("--b17-mb", type=int, default=50, help="MB (10^6 bytes) into the serial endpoint")
    ap.add_argument("--b18-count", type=int, default=1000, help="request/answer round trips with the echo device")
    ap.add_argument("--b19-cycles", type=int, default=10, help="times the device is unplugged and plugged back")
    ap.add_argument("--b19-rate", type=float, default=1, help="MB/s (10^6 bytes) streamed while it is plugged")
    ap.add_argument("--b19-stream-ms", type=int, default=1000, help="ms of stream between two unplugs")
    ap.add_argument("--b20-peers", type=int, default=1000, help="peers of the memory budget crowd")
    ap.add_argument("--b20-reply-bytes", type=int, default=1000000, help="reply each ask of the crowd is given")
    ap.add_argument("--b20-send-mb", type=int, default=1, help="MiB each peer of the crowd sends")
    ap.add_argument("--b20-seconds", type=int, default=10, help="length of the asking crowd's run")
    ap.add_argument("--b20-base-bindir", default="", help="an earlier build run side by side for B20")
    ap.add_argument("--b20-base-peers", type=int, default=40,
                    help="peers for the earlier build (it holds 16 MB of replies per peer)")
    ap.add_argument("--json", default="", help="file for the raw figures of every run (default: results.json in the build tree)")
    args = ap.parse_args()
    only = set(args.only.split(","))
    b = Bench(args.bindir, max(1, args.runs))
    rows = []  # (bench, workload, portwright, baseline, ratio, target, met)
    raw = {}
    probes = {}

    def row(*cells):
        rows.append(cells)
        print(" | ".join(str(c) for c in cells), flush=True)

    if "B1" in only or "B6" in only:
        nbytes = args.b1_mb * 1000 * 1000
        base = b.repeat(lambda: b.socat_stream(nbytes))
        raw["B1_socat"] = base
        base_mbps = med(base, "mbps")
        for mode, need in (("text", 0.8), ("hex", 0.5)):
            pw = b.repeat(lambda: b.tcp_stream(nbytes, hex_mode=(mode == "hex")))
            raw["B1_" + mode] = pw
            probes["B1 " + mode] = pw
            exact = all(r["received"] == nbytes for r in pw)
            ratio = med(pw, "mbps") / base_mbps
            row("B1", "%d MB TCP, %s mode: MB/s" % (args.b1_mb, mode), "%.1f" % med(pw, "mbps"),
                "%.1f (socat)" % base_mbps, "%.3f" % ratio, ">= %.2fx, counter exact" % need,
                "yes" if ratio >= need and exact else "NO")
            hwm = max(r["hwm_kb"] for r in pw) / 1024
            cap = LOG_CAP_BYTES / MB
            row("B1", "%s mode: peak RSS MiB" % mode, "%.0f" % hwm, "log cap %.0f" % cap, "%.2f" % (hwm / cap),
                "<= 2x log cap", "yes" if hwm <= 2 * cap else "NO")

    if "B2" in only or "B6" in only:
        count = 100000
        base = b.repeat(lambda: b.udp_burst(count, 64, baseline=True))
        pw = b.repeat(lambda: b.udp_burst(count, 64))
        raw["B2_base"], raw["B2_unpaced"] = base, pw
        probes["B2 unpaced"] = pw
        ratio = med(pw, "share") / med(base, "share")
        row("B2", "100k x 64 B UDP unpaced: share received", "%.3f" % med(pw, "share"),
            "%.3f (recvfrom loop)" % med(base, "share"), "%.3f" % ratio, ">= 0.5x", "yes" if ratio >= 0.5 else "NO")
        paced = b.repeat(lambda: b.udp_burst(count, 64, rate=20000))
        raw["B2_paced"] = paced
        probes["B2 paced"] = paced
        all_in = all(r["datagrams"] == count and r["log_lines"] == count for r in paced)
        row("B2", "100k x 64 B UDP at 20k/s: counted / logged", "%d / %d" % (med(paced, "datagrams"),
            med(paced, "log_lines")), "%d sent" % count, "%.3f" % (med(paced, "datagrams") / count),
            "all counted and logged", "yes" if all_in else "NO")

    if only & {"B3", "B4", "B6"}:
        count = 1000
        base = b.repeat(lambda: b.accepts(count, baseline=True))
        pw = b.repeat(lambda: b.accepts(count))
        raw["B3_base"], raw["B3"] = base, pw
        probes["B3"] = pw
        t = med(pw, "seconds")
        ok = all(r["peers"] == count for r in pw)
        row("B3", "1000 concurrent connects: s to all peer nodes+windows", "%.3f" % t,
            "%.3f (accept loop)" % med(base, "seconds"), "%.1f" % (t / med(base, "seconds")),
            "all 1000 within 0.5 s", "yes" if ok and t <= 0.5 else "NO")
        per_peer = statistics.median((r["rss_after_kb"] - r["rss_before_kb"]) / count for r in pw)
        cpu = med(pw, "idle_cpu_pct")
        row("B4", "1000 idle peers: KB per peer endpoint", "%.1f" % per_peer,
            "RSS before: %.0f MiB" % (med(pw, "rss_before_kb") / 1024), "-", "<= 25 KB",
            "yes" if per_peer <= 25 else "NO")
        row("B4", "1000 idle peers: CPU % while idle", "%.2f" % cpu, "-", "-", "~0 (< 1 %)",
            "yes" if cpu < 1 else "NO")

    if "B8" in only:
        big = 10000
        # t(1000) from this same run, for the ratio.
        small = b.repeat(lambda: b.accepts(1000))
        base = b.repeat(lambda: b.accepts(big, baseline=True))
        pw = b.repeat(lambda: b.accepts(big, app_extra=["--stop"], timeout_ms=60000))
        raw["B8_1000"], raw["B8_base"], raw["B8"] = small, base, pw
        t, t1 = med(pw, "seconds"), med(small, "seconds")
        ok = all(r["peers"] == big for r in pw)
        row("B8", "10000 concurrent connects: s to all peer nodes+records", "%.3f" % t,
            "%.3f (accept loop)" % med(base, "seconds"), "%.1f" % (t / med(base, "seconds")),
            "all within 5 s", "yes" if ok and t <= 5 else "NO")
        row("B8", "time(10000) / time(1000)", "%.1f" % (t / t1), "%.3f s for 1000" % t1, "-", "<= 12",
            "yes" if t / t1 <= 12 else "NO")
        per_peer = statistics.median((r["rss_after_kb"] - r["rss_before_kb"]) / big for r in pw)
        row("B8", "10000 idle peers: KB per peer endpoint", "%.1f" % per_peer, "-", "-", "<= 25 KB",
            "yes" if per_peer <= 25 else "NO")
        row("B8", "10000 idle peers: CPU % while idle", "%.2f" % med(pw, "idle_cpu_pct"), "-", "-",
            "~0 (< 1 %)", "yes" if med(pw, "idle_cpu_pct") < 1 else "NO")
        p99 = max(r["probe_p99_ms"] for r in pw)
        row("B8", "loop latency p99 ms during the burst (worst run)", "%.1f" % p99, "-", "-", "<= 50",
            "yes" if p99 <= 50 else "NO")
        row("B8", "windows built by the burst (median)", "%d" % med(pw, "windows_built"), "-", "-",
            "a few, not 10000", "yes" if med(pw, "windows_built") <= 100 else "NO")
        stop = med(pw, "stop_s")
        row("B8", "stop the server: s until every peer is removed", "%.3f" % stop, "-", "-", "<= 2 s, none left",
            "yes" if stop <= 2 and all(r["peers_left"] == 0 for r in pw) else "NO")

        hard = resource.getrlimit(resource.RLIMIT_NOFILE)[1]
        soft = b.repeat(lambda: b.accepts(big, nofile=(1024, hard), timeout_ms=60000))
        raw["B8_soft1024"] = soft
        ok = all(r["peers"] == big for r in soft)
        row("B8", "same, started with soft limit 1024 (hard %d): s to all" % hard, "%.3f" % med(soft, "seconds"),
            "-", "-", "all within 5 s", "yes" if ok and med(soft, "seconds") <= 5 else "NO")

        # Hard limit 1024: peers stop short of the descriptor reserve (896 of
        # 1024), the other 704 of 1600 wait; after 3 s 800 leave, and the
        # waiting ones must come in as their descriptors free up.
        capped = b.repeat(lambda: b.accepts(1600, nofile=(1024, 1024), app_extra=["--distinct"],
                                            gen_extra=["--close-first", 800, "--close-after-ms", 3000],
                                            timeout_ms=30000))
        raw["B8_hard1024"] = capped
        ok = all(r["peers"] == 1600 for r in capped)
        lines = [r["exhaustion_lines"] for r in capped]
        row("B8", "hard limit 1024, 1600 peers, 800 leave after 3 s: peers accepted / log lines per run",
            "%d / %s" % (med(capped, "peers"), ",".join(str(n) for n in lines)), "-", "-",
            "all 1600, one line", "yes" if ok and all(n == 1 for n in lines) else "NO")

    if "B9" in only:
        big = 10000
        pw = b.repeat(lambda: b.accepts(big, app_extra=["--click", 100], gen_extra=["--say-port"],
                                        timeout_ms=60000))
        raw["B9"] = pw
        right = min(r["click_logs_right"] for r in pw)
        row("B9", "10000 peers, 100 nodes clicked: ms to window in front (median)",
            "%.1f" % med(pw, "click_median_ms"), "max %.1f" % max(r["click_max_ms"] for r in pw), "-",
            "<= 50 ms, log right", "yes" if med(pw, "click_median_ms") <= 50 and right == 100 else "NO")

    if "B5" in only:
        ticks, interval = args.b5_ticks, 10
        base = b.repeat(lambda: b.timer(ticks, interval, baseline=True))
        idle = b.repeat(lambda: b.timer(ticks, interval))
        loaded = b.repeat(lambda: b.timer(ticks, interval, load_rate=5000))
        raw["B5_base"], raw["B5_idle"], raw["B5_loaded"] = base, idle, loaded
        for name, res in (("idle", idle), ("receiving 5000 dgram/s", loaded)):
            mean, p99 = med(res, "mean_ms"), med(res, "p99_ms")
            ok = abs(mean - interval) <= interval * 0.01 and p99 <= 12 and all(r["ticks"] == ticks for r in res)
            row("B5", "10 ms timer, %s: mean / p99 ms" % name, "%.3f / %.2f" % (mean, p99),
                "%.3f / %.2f (abs. schedule)" % (med(base, "mean_ms"), med(base, "p99_ms")),
                "%.3f" % (mean / med(base, "mean_ms")), "mean 10 +-1 %, p99 <= 12", "yes" if ok else "NO")

    if "B6" in only:
        idle = b.repeat(lambda: b.idle_probe(3000))
        raw["B6_idle"] = idle
        idle_p99 = med(idle, "probe_p99_ms")
        for name, res in probes.items():
            p99 = max(r["probe_p99_ms"] for r in res)
            row("B6", "loop latency p99 ms during %s (worst run)" % name, "%.1f" % p99, "%.1f idle" % idle_p99,
                "-", "<= 50 ms", "yes" if p99 <= 50 else "NO")

    if "B7" in only:
        seconds = args.b7_seconds
        rate = 10  # MB/s, decimal
        nbytes = rate * 1000 * 1000 * seconds
        res = b.tcp_stream(nbytes, rate=rate, rss_every_ms=1000, timeout=seconds * 6 + 60)
        raw["B7"] = res
        ref_ms, ref, later, dev = rss_drift(res, seconds)
        exact = res["received"] == nbytes
        row("B7", "%d s flood at 10 MB/s: RSS drift after %d s" % (seconds, ref_ms // 1000),
            "%+.1f %% (max %.0f MiB)" % (dev * 100, max(later) / 1024), "%.0f MiB at %d s" % (ref / 1024, ref_ms // 1000),
            "-", "within +-10 %, counter exact", "yes" if dev <= 0.10 and exact else "NO")
        row("B7", "counter after flood", res["received"], "%d sent" % nbytes, "-", "exact",
            "yes" if exact else "NO")

    if "B10" in only:
        nbytes = args.b10_mb * MB
        folder = tempfile.mkdtemp(prefix="pw-bench-b10-")
        try:
            path = make_file(folder, nbytes)
            base, pw = [], []
            for _ in range(b.runs):  # alternated, so both see the same page cache
                base.append(b.socat_file_send(path, nbytes))
                pw.append(b.file_send(path, nbytes))
        finally:
            for name in os.listdir(folder):
                os.unlink(os.path.join(folder, name))
            os.rmdir(folder)
        raw["B10_socat"], raw["B10"] = base, pw
        done = all(r["completed"] == 1 and r["sent"] == nbytes for r in pw)
        ratio = med(pw, "mbps") / med(base, "mbps")
        row("B10", "%d MiB file to a TCP sink: MB/s (s)" % args.b10_mb,
            "%.1f (%.2f s)" % (med(pw, "mbps"), med(pw, "seconds")),
            "%.1f (%.2f s, socat)" % (med(base, "mbps"), med(base, "seconds")), "%.3f" % ratio,
            ">= 0.5x, sent whole", "yes" if ratio >= 0.5 and done else "NO")
        p99 = max(r["probe_p99_ms"] for r in pw)
        row("B10", "loop latency p99 ms while sending (worst run)", "%.1f" % p99, "-", "-", "<= 50",
            "yes" if p99 <= 50 else "NO")
        growth = max(r["rss_growth_kb"] for r in pw) / 1024
        row("B10", "peak RSS over the idle window's, MiB (worst run)", "%+.1f" % growth,
            "idle %.0f MiB" % (med(pw, "idle_rss_kb") / 1024), "-", "<= 20 MB",
            "yes" if growth <= 20 * 1000 * 1000 / MB and all(r["peak_reset"] == 1 for r in pw) else "NO")

    if "B11" in only:
        seconds = args.b11_seconds
        rate = 10  # MB/s, decimal
        nbytes = rate * 1000 * 1000 * seconds
        folder = tempfile.mkdtemp(prefix="pw-bench-b11-")
        record = os.path.join(folder, "peer.log")
        try:
            res = b.tcp_stream(nbytes, rate=rate, rss_every_ms=1000, timeout=seconds * 6 + 60, record=record)
            res.update(count_record(record) if os.path.exists(record) else {"lines": -1, "pieces": -1,
                                                                            "data_bytes": -1})
        finally:
            if os.path.exists(record):
                os.unlink(record)
            os.rmdir(folder)
        raw["B11"] = res
        # Recording started before the first byte, so the file holds all of it.
        whole = res.get("recorded") == 1 and res.get("received_when_recording") == 0
        lines_ok = whole and res["lines"] == res["pieces"] > 0
        bytes_ok = whole and res["data_bytes"] == res["received"] == nbytes
        row("B11", "%d s flood at 10 MB/s, log recorded: file lines / received pieces" % seconds,
            "%d / %d" % (res["lines"], res["pieces"]), "-", "-", "one line per piece",
            "yes" if lines_ok else "NO")
        row("B11", "bytes of data in the file / received", "%d / %d" % (res["data_bytes"], res["received"]),
            "%d sent" % nbytes, "-", "equal", "yes" if bytes_ok else "NO")
        ref_ms, ref, later, dev = rss_drift(res, seconds)
        row("B11", "RSS drift after %d s" % (ref_ms // 1000),
            "%+.1f %% (max %.0f MiB)" % (dev * 100, max(later) / 1024), "%.0f MiB at %d s" % (ref / 1024, ref_ms // 1000),
            "-", "within +-10 %", "yes" if dev <= 0.10 else "NO")
        row("B11", "loop latency p99 ms while recording", "%.1f" % res["probe_p99_ms"], "-", "-", "<= 50",
            "yes" if res["probe_p99_ms"] <= 50 else "NO")

    if "B12" in only:
        count, rate = args.b12_seconds * 20000, 20000
        res = b.repeat(lambda: b.udp_answers(count, rate))
        raw["B12"] = res
        ok = all(r["replies"] == count and r["in_order"] == count for r in res)
        row("B12", "20 reply rules (1 regex), %d UDP requests at 20k/s: answered / in order" % count,
            "%d / %d" % (med(res, "replies"), med(res, "in_order")), "%d sent" % count,
            "%.3f" % (med(res, "replies") / count), "every one, in order", "yes" if ok else "NO")
        p99 = max(r["app_probe_p99_ms"] for r in res)
        row("B12", "loop latency p99 ms while answering (worst run)", "%.1f" % p99, "-", "-", "<= 50",
            "yes" if p99 <= 50 else "NO")

    if "B13" in only:
        peers, reply = args.b13_peers, args.b13_reply_kb * 1024
        idle = b.repeat(lambda: b.idle_probe(3000))
        res = b.repeat(lambda: b.stalled_replies(peers, reply))
        raw["B13_idle"], raw["B13"] = idle, res
        idle_p99 = med(idle, "probe_p99_ms")
        alive = [r for r in res if r["alive"] == 1]
        all_alive = len(alive) == len(res)
        row("B13", "%d peers never read, each answered %d KiB: runs alive (printed a result)"
            % (peers, args.b13_reply_kb), "%d of %d" % (len(alive), len(res)), "-", "-", "alive",
            "yes" if all_alive else "NO")
        if alive:
            every = all_alive and all(r["peers"] == peers and r["given_up"] == peers for r in res)
            row("B13", "peers accepted / given up (per run)",
                ", ".join("%d / %d" % (r["peers"], r["given_up"]) for r in alive),
                "%d connected" % min(r.get("gen_connected", 0) for r in res), "-",
                "every peer accepted and given up", "yes" if every else "NO")
            p99s = [r["probe_p99_ms"] for r in alive]
            worst = max(p99s) if all_alive else float("inf")
            row("B13", "loop latency p99 ms until all given up, median (worst run)",
                "%.1f (%.1f)" % (statistics.median(p99s), max(p99s)), "%.1f idle" % idle_p99, "-", "<= 50 ms",
                "yes" if worst <= 50 else "NO")
            row("B13", "loop latency max ms, median (at ms after READY, per run)",
                "%.1f (%s)" % (med(alive, "probe_max_ms"), ", ".join(str(r["probe_max_at_ms"]) for r in alive)),
                "%.1f idle" % med(idle, "probe_max_ms"), "-", "-", "-")
            row("B13", "s from READY until every peer was given up (median)", "%.2f" % med(alive, "seconds"),
                "-", "-", "-", "-")
            row("B13", "peak RSS (VmHWM) MiB, median", "%.0f" % (med(alive, "hwm_kb") / 1024),
                "%.0f before the peers" % (med(alive, "rss_before_kb") / 1024), "-", "-", "-")
            row("B13", "RSS at the end MiB, median", "%.0f" % (med(alive, "rss_kb") / 1024),
                "%.0f before the peers" % (med(alive, "rss_before_kb") / 1024), "-", "-", "-")

    if "B20" in only:
        sides = [("this build", b, args.b20_peers)]
        if args.b20_base_bindir:
            sides.append(("earlier build", Bench(args.b20_base_bindir, b.runs), args.b20_base_peers))
        send = args.b20_send_mb * 1024 * 1024
        for name, side, peers in sides:
            for work, kw in (("idle", {}), ("asking", {"reply_bytes": args.b20_reply_bytes}),
                             ("sending", {"send_bytes": send})):
                res = side.repeat(lambda: side.crowd(peers, seconds=args.b20_seconds if work == "asking" else 6
                                                     if work == "idle" else 120, **kw))
                raw["B20_%s_%s_%d" % (name.replace(" ", "_"), work, peers)] = res
                alive = [r for r in res if r["alive"] == 1]
                if not alive:
                    row("B20", "%s, %d peers %s: runs alive" % (name, peers, work), "0 of %d" % len(res),
                        "-", "-", "alive", "NO")
                    continue
                row("B20", "%s, %d peers %s: alive / peers / received MiB / peers refusing at their own bound / at the total / output refusals"
                    % (name, peers, work), "%d of %d / %d / %.0f / %d / %d / %d" % (
                        len(alive), len(res), med(alive, "peers"), med(alive, "received") / 1048576,
                        med(alive, "refusing_peers"),
                        statistics.median(r.get("refusing_total_peers", -1) for r in alive),
                        med(alive, "output_refusals")), "-", "-", "-", "-")
                row("B20", "%s, %d peers %s: peak RSS (VmHWM) MiB, median (max)" % (name, peers, work),
                    "%.0f (%.0f)" % (med(alive, "hwm_kb") / 1024, max(r["hwm_kb"] for r in alive) / 1024),
                    "%.0f before the peers" % (med(alive, "rss_before_kb") / 1024), "-",
                    "<= idle with its peers + 512", "-")
                row("B20", "%s, %d peers %s: loop latency p99 ms, median (worst)" % (name, peers, work),
                    "%.1f (%.1f)" % (med(alive, "probe_p99_ms"), max(r["probe_p99_ms"] for r in alive)),
                    "-", "-", "<= 50 ms", "yes" if max(r["probe_p99_ms"] for r in alive) <= 50 else "NO")

    if "B14" in only:
        nbytes = args.b14_mb * 1000 * 1000
        base, pw = [], []
        for _ in range(b.runs):  # alternated, so both see the same load
            base.append(b.socat_stream(nbytes))
            pw.append(b.headless_stream(nbytes))
        raw["B14_socat"], raw["B14"] = base, pw
        ratio = med(pw, "mbps") / med(base, "mbps")
        whole = all(r["complete"] == 1 and r["data_bytes"] == nbytes and r["mismatch_at"] < 0 for r in pw)
        row("B14", "%d MB TCP into a headless TCP Server, stdout to a file: MB/s" % args.b14_mb,
            "%.1f" % med(pw, "mbps"), "%.1f (socat)" % med(base, "mbps"), "%.3f" % ratio, ">= 0.8x",
            "yes" if ratio >= 0.8 else "NO")
        row("B14", "bytes of data in the file / sent, in order (per run)",
            ", ".join("%d%s" % (r["data_bytes"], "" if r["mismatch_at"] < 0 else " (wrong from %d)"
                                % r["mismatch_at"]) for r in pw),
            "%d sent" % nbytes, "-", "every byte, in order", "yes" if whole else "NO")
        row("B14", "peak RSS (VmHWM) MiB of the headless run (worst run)",
            "%.0f" % (max(r["peak_rss_kb"] for r in pw) / 1024), "-", "-", "-", "-")

    if "B15" in only:
        count, rate = args.b15_seconds * args.b15_rate, args.b15_rate
        res = b.repeat(lambda: b.headless_answers(count, rate))
        raw["B15"] = res
        answered = all(r["replies"] == count and r["in_order"] == count for r in res)
        row("B15", "20 reply rules (1 regex), %d UDP requests at %d/s to a headless run: answered / in order"
            % (count, rate), "%d / %d" % (med(res, "replies"), med(res, "in_order")),
            "%d sent" % med(res, "sent"), "%.3f" % (med(res, "replies") / count), "every one, in order",
            "yes" if answered else "NO")
        row("B15", "answers in ascending order despite gaps (median)", "%d" % med(res, "ascending"),
            "%d answers" % med(res, "replies"), "-", "-", "-")
        # One line per request received and one per reply.
        lines_ok = all(r["received_lines"] == r["reply_lines"] == count and r["dropped_notes"] == 0
                       and r["received_ascending"] == r["replies_ascending"] == 1 for r in res)
        row("B15", "output lines: received / replies / dropped notes (median)",
            "%d / %d / %d" % (med(res, "received_lines"), med(res, "reply_lines"), med(res, "dropped_notes")),
            "%d each" % count, "%.3f" % (med(res, "reply_lines") / count), "one per request and reply, in order",
            "yes" if lines_ok else "NO")
        row("B15", "peak RSS (VmHWM) MiB of the headless run (worst run)",
            "%.0f" % (max(r["peak_rss_kb"] for r in res) / 1024), "-", "-", "-", "-")

    if "B16" in only:
        missing = a11y_missing()
        if missing:
            row("B16", "not run: missing %s" % ", ".join(missing), "-", "-", "-", "-", "NO")
        else:
            b16(b, args, row, raw)

    if "B17" in only:
        nbytes = args.b17_mb * 1000 * 1000
        base, pw = [], []
        load = [loadavg()]
        for _ in range(b.runs):  # alternated, so both see the same load
            base.append(b.pty_plain_reader(nbytes))
            pw.append(b.serial_stream(nbytes))
            load.append(loadavg())
        raw["B17_head"], raw["B17"], raw["B17_loadavg"] = base, pw, load
        ratio = med(pw, "mbps") / med(base, "mbps")
        exact = all(r["received"] == r["gen_sent"] == nbytes for r in pw)
        logged = all(r["logged_bytes"] == nbytes and r["log_tail_ok"] == 1 and r["peer_shown"] == 1 for r in pw)
        row("B17", "%d MB into a serial endpoint on a pty, text mode: MB/s" % args.b17_mb,
            "%.1f" % med(pw, "mbps"), "%.1f (head -c of the slave)" % med(base, "mbps"), "%.3f" % ratio,
            ">= 0.5x, counter exact, all logged", "yes" if ratio >= 0.5 and exact and logged else "NO")
        row("B17", "logged bytes / log entries kept / bytes kept (median), newest line the stream's end",
            "%d / %d / %d" % (med(pw, "logged_bytes"), med(pw, "log_entries"), med(pw, "log_kept_bytes")),
            "%d sent" % nbytes, "-", "every byte logged", "yes" if logged else "NO")
        hwm = max(r["hwm_kb"] for r in pw) / 1024
        cap = LOG_CAP_BYTES / MB
        row("B17", "text mode: peak RSS MiB", "%.0f" % hwm, "log cap %.0f; %.0f before the stream"
            % (cap, med(pw, "rss_before_kb") / 1024), "%.2f" % (hwm / cap),
            "<= 2x log cap", "yes" if hwm <= 2 * cap else "NO")
        p99 = max(r["probe_p99_ms"] for r in pw)
        row("B17", "loop latency p99 ms while receiving (worst run)", "%.1f" % p99, "-", "-", "-", "-")
        # Idle processors make the pseudo-terminal's reads slower (README).
        row("B17", "machine load (1-min loadavg) before and after each run", " ".join("%.2f" % v for v in load),
            "-", "-", "-", "-")

    if "B18" in only:
        count = args.b18_count
        res = b.repeat(lambda: b.serial_echo(count))
        raw["B18"] = res
        every = all(r["answered"] == count and r["echoed"] == count for r in res)
        p99 = med(res, "rtt_p99_ms")
        row("B18", "%d typed requests to an echo device on a pty, delimiter LF: p50 / p99 / max ms (median)"
            % count, "%.2f / %.2f / %.2f" % (med(res, "rtt_p50_ms"), p99, med(res, "rtt_max_ms")), "-", "-",
            "p99 <= 5 ms, every one answered", "yes" if p99 <= 5 and every else "NO")
        row("B18", "answered / echoed by the device (per run)",
            ", ".join("%d / %d" % (r["answered"], r["echoed"]) for r in res), "%d asked" % count, "-", "-", "-")

    if "B19" in only:
        cycles = args.b19_cycles
        res = b.repeat(lambda: b.serial_unplug(cycles, args.b19_rate, args.b19_stream_ms))
        raw["B19"] = res
        all_back = all(r["reopened"] == cycles and r["lost"] == cycles and r["open"] == 1 for r in res)
        row("B19", "%d unplugs under %g MB/s: reopenings logged / disconnections logged (per run)"
            % (cycles, args.b19_rate), ", ".join("%d / %d" % (r["reopened"], r["lost"]) for r in res),
            "%d unplugged" % cycles, "-", "%d/%d reopened" % (cycles, cycles), "yes" if all_back else "NO")
        p99 = max(r["probe_p99_ms"] for r in res)
        row("B19", "loop latency p99 ms over the run (worst run)", "%.1f" % p99,
            "max %.1f" % max(r["probe_max_ms"] for r in res), "-", "<= 50", "yes" if p99 <= 50 else "NO")
        row("B19", "bytes received / written (median; unread bytes go with each unplug)",
            "%d / %d" % (med(res, "received"), med(res, "gen_sent")), "-",
            "%.3f" % (med(res, "received") / max(1, med(res, "gen_sent"))), "-", "-")

    print()
    print("| # | Workload | Portwright | Baseline | Ratio | Target | Met |")
    print("|---|---|---|---|---|---|---|")
    for r in rows:
        print("| " + " | ".join(str(c) for c in r) + " |")
    if args.json:
        with open(args.json, "w") as f:
            json.dump(raw, f, indent=1)


if __name__ == "__main__":
    main()
