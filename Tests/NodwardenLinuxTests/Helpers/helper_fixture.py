"""Private D-Bus buses, the real systemd-logind or mocked services on them, and helper programs
run against them.

Every test class starts its own system (and, with mocks, session) dbus-daemon; the helpers find them
through DBUS_SYSTEM_BUS_ADDRESS and DBUS_SESSION_BUS_ADDRESS. Nothing on the machine's own buses is
touched. The real logind runs in a mount namespace of its own with a fresh /run/systemd, so neither
the machine's logind state nor another test's logind can be seen or changed.
"""

import contextlib
import os
import shutil
import signal
import subprocess
import tempfile
import threading
import time
import unittest

import dbus
import dbus.bus
import dbusmock

INHIBIT = os.environ["STAYLOOM_INHIBIT"]
SLEEP_SWITCH = os.environ["STAYLOOM_SLEEP_SWITCH"]

# Generous: sanitizer builds start slowly. Waits end as soon as the condition holds.
PATIENCE = 15.0

SLEEP_UNITS = [
    "sleep.target",
    "suspend.target",
    "hibernate.target",
    "hybrid-sleep.target",
    "suspend-then-hibernate.target",
]

LOGIND = ("org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager")
UNREACHABLE_BUS = "unix:path=/nonexistent/stayloom-test-bus"
LOGIND_PROGRAM = "/lib/systemd/systemd-logind"
# An unprivileged user: logind asks polkit about its locks, and with no polkit on the bus refuses.
NOBODY = ["/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]

SYSTEM_BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path={socket}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_type="method_return"/>
    <allow send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="signal"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
  </policy>
</busconfig>
"""


def eventually(predicate, timeout=PATIENCE, interval=0.05):
    """Polls `predicate` until it is true or the time is up; returns its last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)



def end_process(process):
    """Asks a child to end, and kills it when it has not within PATIENCE."""
    if process.poll() is not None:
        return
    process.terminate()
    try:
        process.wait(timeout=PATIENCE)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait(timeout=PATIENCE)

class HelperProcess:
    """A helper program whose output is collected line by line while it runs. The two streams
    are read independently: a line on one says nothing about what the other has delivered yet,
    so a test reads stderr in full only once the program has ended."""

    def __init__(self, argv, env, pass_fds=()):
        self.process = subprocess.Popen(
            argv,
            env=env,
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            text=True,
            pass_fds=pass_fds,
        )
        self.stdout = []
        self.stderr = []
        self._changed = threading.Condition()
        self._readers = [
            threading.Thread(target=self._collect, args=(self.process.stdout, self.stdout)),
            threading.Thread(target=self._collect, args=(self.process.stderr, self.stderr)),
        ]
        for reader in self._readers:
            reader.daemon = True
            reader.start()

    def _collect(self, stream, lines):
        for line in stream:
            with self._changed:
                lines.append(line.rstrip("\n"))
                self._changed.notify_all()

    def wait_for_stdout(self, text, timeout=PATIENCE):
        """True once a stdout line contains `text`; false if the program ends or time runs out."""
        deadline = time.monotonic() + timeout
        with self._changed:
            while not any(text in line for line in self.stdout):
                if self.process.poll() is not None:
                    self._changed.wait(0.2)  # let the readers drain what is left
                    return any(text in line for line in self.stdout)
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    return False
                self._changed.wait(min(remaining, 0.2))
            return True

    def stop(self, signum=signal.SIGTERM):
        """Sends `signum` and returns the exit status."""
        self.process.send_signal(signum)
        return self.finish()

    def finish(self):
        self.process.wait(timeout=PATIENCE)
        for reader in self._readers:
            reader.join(timeout=PATIENCE)
        self.process.stdout.close()
        self.process.stderr.close()
        return self.process.returncode

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
        self.finish()


def has_ended(pid):
    """True once `pid` is gone or a zombie: the daemons fork away, and whoever adopts them may
    never reap them."""
    try:
        with open(f"/proc/{pid}/stat", encoding="utf-8") as file:
            return file.read().rsplit(")", 1)[1].split()[0] in ("Z", "X")
    except FileNotFoundError:
        return True


def _stop_daemon(pid):
    try:
        os.kill(pid, signal.SIGTERM)
        if not eventually(lambda: has_ended(pid)):
            os.kill(pid, signal.SIGKILL)
    except ProcessLookupError:
        pass


class RealSystemService:
    """A real system service on a private system bus of its own, started as root in a mount
    namespace where `mounts` (shell commands) first give it a private view of its state."""

    program = None
    options = ""
    name = None
    mounts = ""

    def __init__(self):
        self.folder = tempfile.mkdtemp(prefix="stayloom-system-bus-")
        os.chmod(self.folder, 0o755)  # the unprivileged user must reach the socket too
        socket = os.path.join(self.folder, "system_bus_socket")
        self.address = f"unix:path={socket}"
        config = os.path.join(self.folder, "system.conf")
        with open(config, "w", encoding="utf-8") as file:
            file.write(SYSTEM_BUS_CONFIG.format(socket=socket))
        self.daemon = subprocess.Popen(
            ["dbus-daemon", "--nofork", f"--config-file={config}"],
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )
        self.service = None
        self.bus = None
        if not eventually(lambda: os.path.exists(socket)):
            self.stop()
            raise OSError("the private system bus did not come up")
        self.prepare()
        self.service = subprocess.Popen(
            ["unshare", "--mount", "--propagation", "private", "sh", "-c",
             f"{self.mounts} && exec {self.program} {self.options}"],
            env=self.environment(),
            stdout=subprocess.DEVNULL,
            stderr=subprocess.PIPE,
            text=True,
        )
        self.bus = dbus.bus.BusConnection(self.address)
        if not eventually(
            lambda: self.service.poll() is not None or self.bus.name_has_owner(self.name)
        ):
            self.stop()
            raise OSError(f"{self.program} did not take its name")
        if self.service.poll() is not None:
            error = self.service.stderr.read().strip()
            self.stop()
            raise OSError(f"{self.program} ended at once: {error}")

    def prepare(self):
        """Runs before the service starts."""

    def environment(self, **overrides):
        return dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=self.address, **overrides)

    @classmethod
    def start_or_skip(cls):
        if os.geteuid() != 0 or not os.path.exists(cls.program) or not shutil.which("unshare"):
            print(f"LOGIND UNAVAILABLE: needs root, unshare and {cls.program}", flush=True)
            raise unittest.SkipTest("LOGIND UNAVAILABLE")
        try:
            return cls()
        except OSError as error:
            print(f"LOGIND UNAVAILABLE: {error}", flush=True)
            raise unittest.SkipTest(f"LOGIND UNAVAILABLE: {error}")

    def stop(self):
        if self.bus is not None:
            self.bus.close()
            self.bus = None
        for process in (self.service, self.daemon):
            if process is not None:
                end_process(process)
        if self.service is not None:
            self.service.stderr.close()
        shutil.rmtree(self.folder, ignore_errors=True)


class RealLogind(RealSystemService):
    """systemd-logind itself, with a fresh /run/systemd. It cannot suspend without systemd as
    PID 1, and nothing here ever asks it to."""

    program = LOGIND_PROGRAM
    name = LOGIND[0]
    mounts = "mount -t tmpfs stayloom-logind /run/systemd"

    def __init__(self):
        super().__init__()
        self.manager = dbus.Interface(self.bus.get_object(LOGIND[0], LOGIND[1]), LOGIND[2])

    def inhibitors(self):
        """(what, who, why, mode, uid, pid) of every lock logind holds."""
        return sorted(
            (str(i[0]), str(i[1]), str(i[2]), str(i[3]), int(i[4]), int(i[5]))
            for i in self.manager.ListInhibitors()
        )

    def listing(self):
        """What `systemd-inhibit --list` prints for this logind."""
        return subprocess.run(
            ["systemd-inhibit", "--list", "--no-pager"],
            env=self.environment(),
            capture_output=True,
            text=True,
            timeout=PATIENCE,
            check=True,
        ).stdout


class RealPolkit(RealSystemService):
    """polkitd itself, seeing only the action files in `actions`, a folder bound over its own."""

    program = "/usr/lib/polkit-1/polkitd"
    options = "--no-debug"
    name = "org.freedesktop.PolicyKit1"
    actions = None

    def prepare(self):
        self.mounts = f"mount --bind '{self.actions}' /usr/share/polkit-1/actions"


class PrivateBusTestCase(dbusmock.DBusTestCase):
    @classmethod
    def tearDownClass(cls):
        # dbusmock's own teardown waits for the daemon's pid to vanish, which an unreaped zombie
        # never does, and leaves its data folder behind.
        base = dbusmock.DBusTestCase
        for bus_type in ("system", "session"):
            pid = getattr(base, f"{bus_type}_bus_pid", None)
            if pid:
                os.environ.pop(f"DBUS_{bus_type.upper()}_BUS_ADDRESS", None)
                _stop_daemon(pid)
                setattr(base, f"{bus_type}_bus_pid", None)
        if base._DBusTestCase__datadir:
            shutil.rmtree(base._DBusTestCase__datadir, ignore_errors=True)
            base._DBusTestCase__datadir = None

    @classmethod
    def setUpClass(cls):
        try:
            cls.start_system_bus()
            cls.start_session_bus()
        except (OSError, subprocess.CalledProcessError, AssertionError) as error:
            print(f"BUS UNAVAILABLE: cannot start a private dbus-daemon: {error}", flush=True)
            cls.tearDownClass()  # not called when setUpClass fails; stops a bus that did start
            raise unittest.SkipTest(f"BUS UNAVAILABLE: {error}")
        cls.system_bus = cls.get_dbus(system_bus=True)
        cls.session_bus = cls.get_dbus(system_bus=False)

    def setUp(self):
        self._mocks = []
        self._helpers = []

    def tearDown(self):
        self.stop_services()

    def stop_services(self):
        """Kills every helper and mock started so far, so the next case starts from nothing."""
        for helper in self._helpers:
            helper.kill()
        for mock, name, bus in self._mocks:
            mock.terminate()
            mock.wait(timeout=PATIENCE)
            # The next mock may claim the same name only once the bus has let go of it.
            eventually(lambda: not bus.name_has_owner(name))
        self._helpers = []
        self._mocks = []

    @contextlib.contextmanager
    def fresh_services(self):
        """One case of a table: whatever it starts is gone when it ends."""
        try:
            yield
        finally:
            self.stop_services()

    def environment(self, **overrides):
        env = dict(os.environ)
        env.update(overrides)
        return env

    def start_helper(self, argv, **overrides):
        helper = HelperProcess(argv, self.environment(**overrides))
        self._helpers.append(helper)
        return helper

    def run_helper(self, argv, **overrides):
        """Runs a helper to its end; returns the completed process with text output."""
        return subprocess.run(
            argv,
            env=self.environment(**overrides),
            capture_output=True,
            text=True,
            timeout=PATIENCE,
        )

    def start_logind(self):
        """logind from python3-dbusmock's template, with working Inhibit and ListInhibitors."""
        process, manager = self.spawn_server_template(
            "logind", {}, stdout=subprocess.DEVNULL, system_bus=True
        )
        self._mocks.append((process, LOGIND[0], self.system_bus))
        return dbus.Interface(manager, LOGIND[2]), dbus.Interface(manager, dbusmock.MOCK_IFACE)

    def start_mock(self, name, path, interface, methods, system_bus):
        """A bare mock object offering `methods` (dbusmock's (name, in, out, code) tuples)."""
        process = self.spawn_server(
            name, path, interface, system_bus=system_bus, stdout=subprocess.DEVNULL
        )
        bus = self.system_bus if system_bus else self.session_bus
        self._mocks.append((process, name, bus))
        mock = dbus.Interface(bus.get_object(name, path), dbusmock.MOCK_IFACE)
        mock.AddMethods(interface, methods)
        return mock

    def refusing_logind(self, method, in_signature, out_signature):
        """A logind whose `method` fails the way polkit refusals do."""
        code = (
            'raise dbus.exceptions.DBusException("Permission denied", '
            'name="org.freedesktop.DBus.Error.AccessDenied")'
        )
        return self.start_mock(*LOGIND, [(method, in_signature, out_signature, code)], True)


def inhibitors(logind):
    """(what, who, mode) of every inhibitor the mocked logind holds."""
    return sorted((str(i[0]), str(i[1]), str(i[3])) for i in logind.ListInhibitors())


def calls(mock, method):
    """The argument lists of every logged call of `method`."""
    return [list(args) for _, args in mock.GetMethodCalls(method)]
