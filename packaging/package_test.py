#!/usr/bin/env python3
"""The Debian packages as a user meets them: built by scripts/package.sh (or taken from
ZYMB_PACKAGE_DIR), checked with lintian and dpkg-deb, unpacked into a fresh root folder
(never the machine's own /), and the installed programs run from there: the download
program lists and downloads against the installed development server on its installed
sample data, ZYMBBatch finds its window module, each man page renders without warnings,
and the MIME database built from the root sends .cvbatch files to ZYMBBatch. zymb-batch
alone runs a definition in a root that holds nothing but it and the libraries it needs
(no window toolkit), and the server's maintainer scripts reload, stop and restart it.

Man pages and --help missing from the tree are skipped with a message, and fail under
CI=true.
"""
import glob
import gzip
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

SOURCE = os.environ.get("ZYMB_SOURCE_DIR") or os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
IN_CI = os.environ.get("CI") == "true"
PACKAGES = ("zymb-download", "zymb-batch", "zymb-batch-window", "zymb-devserver")
MAN_PAGES = ("man1/ZYMB10DownloadFile.1.gz", "man1/ZYMBBatch.1.gz", "man8/zymb-devserver.8.gz")
SAMPLES = "usr/share/zymb-devserver/samples"


def run(command, **options):
    options.setdefault("stdout", subprocess.PIPE)
    options.setdefault("stderr", subprocess.PIPE)
    options.setdefault("timeout", 120)
    return subprocess.run(command, text=True, **options)


def free_loopback_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def missing_in_tree(test, what):
    """A part that lands with the man pages and --help: fails in CI, skipped elsewhere."""
    if IN_CI:
        test.fail(f"{what} is missing (CI=true)")
    test.skipTest(f"{what} is not in this tree yet")


class InstalledPackages(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="zymb-package-test-")
        debs = os.environ.get("ZYMB_PACKAGE_DIR")
        if not debs:
            debs = os.path.join(cls.work, "debs")
            built = run([os.path.join(SOURCE, "scripts", "package.sh"), debs], timeout=3600,
                        stdout=None, stderr=None)
            if built.returncode != 0:
                raise RuntimeError(f"scripts/package.sh failed with status {built.returncode}")
        cls.debs = {}
        for package in PACKAGES:
            found = glob.glob(os.path.join(debs, f"{package}_*.deb"))
            if len(found) != 1:
                raise RuntimeError(f"expected one {package}_*.deb in {debs}, found {found}")
            cls.debs[package] = found[0]
        cls.root = os.path.join(cls.work, "root")
        os.mkdir(cls.root)
        for deb in cls.debs.values():
            subprocess.run(["dpkg-deb", "-x", deb, cls.root], check=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def path(self, relative):
        return os.path.join(self.root, relative)

    def control(self, package):
        fields = {}
        info = run(["dpkg-deb", "-f", self.debs[package]])
        self.assertEqual(info.returncode, 0, info.stderr)
        for match in re.finditer(r"^([A-Za-z-]+): (.*)$", info.stdout, re.M):
            fields[match.group(1)] = match.group(2)
        return fields

    def test_lintian_finds_no_errors_or_warnings(self):
        result = run(["lintian", "--fail-on", "error,warning", *self.debs.values()], timeout=600)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def test_control_fields_and_dependencies(self):
        # Dependencies come from the shared libraries each program loads.
        expected = {
            "zymb-download": ("libc6", "libcurl4", "libssl3", "libconfig9", "libgssapi-krb5-2"),
            "zymb-batch": ("libc6", "libconfig9"),
            "zymb-batch-window": ("libc6", "libwxgtk3.2"),
            "zymb-devserver": ("libc6", "libgssapi-krb5-2"),
        }
        for package, libraries in expected.items():
            with self.subTest(package=package):
                fields = self.control(package)
                self.assertEqual(fields.get("Package"), package)
                self.assertRegex(fields.get("Version", ""), r"^\d+\.\d+\.\d+-\d+$")
                self.assertTrue(fields.get("Section"), fields)
                self.assertIn("@", fields.get("Maintainer", ""))
                depends = fields.get("Depends", "")
                for library in libraries:
                    self.assertRegex(depends, rf"(^|, ){re.escape(library)}[a-z0-9.-]*( \(|,|$)",
                                     f"{package} Depends: {depends}")
                if package == "zymb-batch-window":
                    # The module is loaded by the program of the same build.
                    version = fields.get("Version")
                    self.assertIn(f"zymb-batch (= {version})", depends)
                else:
                    self.assertNotIn("zymb-", depends, "the programs need none of the others")
                if package == "zymb-batch":
                    # A server without a desktop installs it without any window toolkit.
                    for gui in ("libwx", "libgtk", "libgdk", "libx11", "libcairo", "libpango"):
                        self.assertNotIn(gui, depends.lower())

    def test_files_belong_to_root_and_nothing_starts_the_server(self):
        for package, deb in self.debs.items():
            with self.subTest(package=package):
                listing = run(["dpkg-deb", "-c", deb]).stdout.splitlines()
                self.assertTrue(listing)
                for line in listing:
                    self.assertEqual(line.split()[1], "root/root", line)
                scripts = run(["dpkg-deb", "-I", deb]).stdout
                for script in ("preinst", "postinst", "prerm", "postrm"):
                    if package == "zymb-devserver" and script != "preinst":
                        self.assertRegex(scripts, rf"\b{script}\b")
                    else:
                        self.assertNotRegex(scripts, rf"\b{script}\b")
        unit = self.path("usr/lib/systemd/system/zymb-devserver.service")
        with open(unit) as text:
            content = text.read()
        self.assertIn(f"ExecStart=/usr/sbin/zymb-devserver --data /{SAMPLES}/data", content)
        self.assertIn("DynamicUser=yes", content)

    def test_server_maintainer_scripts_reload_stop_and_restart(self):
        # The scripts run with a stand-in for systemd's folder and commands that note what
        # they were asked; a first installation starts nothing.
        scripts = os.path.join(self.work, "maintainer")
        os.makedirs(os.path.join(scripts, "run/systemd/system"), exist_ok=True)
        subprocess.run(["dpkg-deb", "-e", self.debs["zymb-devserver"], os.path.join(scripts, "control")],
                       check=True)
        calls = os.path.join(scripts, "calls")
        for command in ("systemctl", "deb-systemd-invoke", "deb-systemd-helper"):
            stub = os.path.join(scripts, command)
            with open(stub, "w") as text:
                text.write(f'#!/bin/sh\necho "{command} $*" >> "{calls}"\n')
            os.chmod(stub, 0o755)
        cases = (
            (("postinst", "configure"), ["systemctl --system daemon-reload"]),
            (("postinst", "configure", "1.0.0-1"),
             ["systemctl --system daemon-reload", "deb-systemd-invoke try-restart zymb-devserver.service"]),
            (("prerm", "upgrade", "1.0.1-1"), []),
            (("prerm", "remove"), ["deb-systemd-invoke stop zymb-devserver.service"]),
            (("postrm", "remove"), ["systemctl --system daemon-reload"]),
            (("postrm", "purge"), ["deb-systemd-helper purge zymb-devserver.service",
                                   "deb-systemd-helper unmask zymb-devserver.service",
                                   "systemctl --system daemon-reload"]),
        )
        for (script, *arguments), expected in cases:
            with self.subTest(script=script, arguments=arguments):
                with open(os.path.join(scripts, "control", script)) as text:
                    body = text.read().replace("/run/systemd/system", os.path.join(scripts, "run/systemd/system"))
                if os.path.exists(calls):
                    os.remove(calls)
                result = run(["sh", "-c", body, script, *arguments],
                             env=dict(os.environ, PATH=scripts + os.pathsep + os.environ["PATH"]))
                self.assertEqual(result.returncode, 0, result.stderr)
                called = []
                if os.path.exists(calls):
                    with open(calls) as text:
                        called = text.read().splitlines()
                self.assertEqual(called, expected)

    def test_server_ships_only_sample_customers(self):
        customers = sorted(os.listdir(self.path(f"{SAMPLES}/data")))
        self.assertEqual(customers, ["ACME", "BETA"])

    def test_batch_runs_without_a_window_toolkit(self):
        # A root with zymb-batch alone and the libraries its program loads: no GTK, no wx.
        root = os.path.join(self.work, "server-root")
        os.mkdir(root)
        subprocess.run(["dpkg-deb", "-x", self.debs["zymb-batch"], root], check=True)
        program = os.path.join(root, "usr/bin/ZYMBBatch")
        self.assertEqual(glob.glob(os.path.join(root, "usr/lib/*/zymb/*")), [],
                         "the window module is in zymb-batch-window")
        libraries = set()
        for binary in (program, "/bin/echo"):
            listed = run(["ldd", binary])
            self.assertEqual(listed.returncode, 0, listed.stderr)
            for path in re.findall(r"(/\S+) \(0x", listed.stdout):
                libraries.add(path)
        for library in libraries:
            self.assertNotRegex(os.path.basename(library), r"gtk|gdk|wx_|X11|cairo|pango")
            target = os.path.join(root, library.lstrip("/"))
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copy(library, target)
        os.makedirs(os.path.join(root, "bin"), exist_ok=True)
        shutil.copy("/bin/echo", os.path.join(root, "bin/echo"))
        for folder in ("tmp", "jobs", "state"):
            os.makedirs(os.path.join(root, folder), exist_ok=True)
        with open(os.path.join(root, "jobs/greet.cvbatch"), "w") as definition:
            definition.write('options : { program = "echo"; arguments = "night run"; '
                             'working_directory = "/jobs"; environment = ""; stdin = ""; };\n')
        chroot = shutil.which("chroot") or shutil.which("/usr/sbin/chroot")
        if os.geteuid() != 0 or chroot is None:
            if IN_CI:
                self.fail("the root without a window toolkit needs chroot as root (CI=true)")
            self.skipTest("chroot as root is not available")
        environment = {"PATH": "/usr/bin:/bin", "TMPDIR": "/tmp", "HOME": "/jobs",
                       "XDG_STATE_HOME": "/state"}
        ran = run([chroot, root, "/usr/bin/ZYMBBatch", "--run", "/jobs/greet.cvbatch"],
                  env=environment)
        self.assertEqual(ran.returncode, 0, ran.stderr)
        self.assertIn("night run", ran.stdout)
        history = run([chroot, root, "/usr/bin/ZYMBBatch", "--history"], env=environment)
        self.assertEqual(history.returncode, 0, history.stderr)
        # Asked for the window, it says which package brings it.
        window = run([chroot, root, "/usr/bin/ZYMBBatch"], env=environment)
        self.assertEqual(window.returncode, 2)
        self.assertIn("apt install zymb-batch-window", window.stderr)

    def test_download_program_lists_and_downloads_from_the_installed_server(self):
        server_log = os.path.join(self.work, "server.log")
        server = None
        for attempt in range(5):
            port = free_loopback_port()
            with open(server_log, "w") as log:
                server = subprocess.Popen(
                    [self.path("usr/sbin/zymb-devserver"), "--data", self.path(f"{SAMPLES}/data"),
                     "--users", self.path(f"{SAMPLES}/users"), "--port", str(port)],
                    stdout=log, stderr=subprocess.STDOUT)
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline and server.poll() is None:
                with open(server_log) as log:
                    if "listening" in log.read():
                        break
                time.sleep(0.05)
            if server.poll() is None:
                break
        if server.poll() is not None:
            with open(server_log) as log:
                self.fail(f"the installed server did not start: {log.read()}")
        try:
            logon = f"batch:{self.path(SAMPLES)}/pw/batch@127.0.0.1:{port}"
            program = self.path("usr/bin/ZYMB10DownloadFile")
            listed = run([program, "-C", "ACME", "-f", "*", "-l", "-S", logon], cwd=self.work)
            self.assertEqual(listed.returncode, 0, listed.stderr)
            for name in ("ledger.txt", "exact.bin", "Quarter four sales"):
                self.assertIn(name, listed.stdout)

            downloads = os.path.join(self.work, "downloads")
            os.mkdir(downloads)
            fetched = run([program, "-C", "ACME", "-f", "ledger*", "-i", "1", "-S", logon],
                          cwd=downloads)
            self.assertEqual(fetched.returncode, 0, fetched.stderr)
            with gzip.open(self.path(f"{SAMPLES}/data/ACME/ledger.txt;2")) as stored, \
                    open(os.path.join(downloads, "ledger.txt"), "rb") as received:
                self.assertTrue(stored.read() == received.read(), "the ledger arrived changed")
        finally:
            server.terminate()
            server.wait(timeout=30)

    def test_help_exits_zero(self):
        # Each program's usage on standard output names one of its options.
        programs = {"usr/bin/ZYMB10DownloadFile": "-C", "usr/bin/ZYMBBatch": "--run",
                    "usr/sbin/zymb-devserver": "--data"}
        missing = []
        for program, option in programs.items():
            result = run([self.path(program), "--help"], cwd=self.work)
            if result.returncode != 0:
                missing.append(program)
                continue
            with self.subTest(program=program):
                self.assertIn(option, result.stdout)
        if missing:
            missing_in_tree(self, "--help of " + ", ".join(missing))

    def test_batch_window_module_is_found_where_installed(self):
        modules = glob.glob(self.path("usr/lib/*/zymb/zymb-batch-window.so"))
        self.assertEqual(len(modules), 1, "the window module under the library folder")
        xvfb = shutil.which("Xvfb")
        if xvfb is None:
            if IN_CI:
                self.fail("Xvfb is missing (CI=true)")
            self.skipTest("Xvfb is not installed")
        display_pipe = os.pipe()
        screen = subprocess.Popen([xvfb, "-displayfd", str(display_pipe[1]), "-nolisten", "tcp",
                                   "-screen", "0", "1024x768x24"],
                                  pass_fds=(display_pipe[1],), stderr=subprocess.DEVNULL)
        os.close(display_pipe[1])
        try:
            with os.fdopen(display_pipe[0]) as numbers:
                display = numbers.readline().strip()
            self.assertTrue(display, "Xvfb gave no display number")
            home = os.path.join(self.work, "home")
            os.makedirs(home, exist_ok=True)
            environment = dict(os.environ, DISPLAY=f":{display}", HOME=home,
                               XDG_CONFIG_HOME=os.path.join(home, ".config"))
            environment.pop("WAYLAND_DISPLAY", None)
            window = subprocess.Popen([self.path("usr/bin/ZYMBBatch")], env=environment,
                                      stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            try:
                output = window.communicate(timeout=3)
                self.fail(f"ZYMBBatch ended with status {window.returncode}: {output[1]}")
            except subprocess.TimeoutExpired:
                pass  # the window is up and waits for the user
            window.terminate()
            _, errors = window.communicate(timeout=30)
            self.assertNotIn("cannot be shown", errors)
        finally:
            screen.terminate()
            screen.wait(timeout=30)

    def test_man_pages_render_without_warnings(self):
        missing = []
        for page in MAN_PAGES:
            path = self.path(f"usr/share/man/{page}")
            if not os.path.exists(path):
                missing.append(page)
                continue
            with self.subTest(page=page):
                shown = run(["man", "--warnings", "-l", path],
                            env=dict(os.environ, MANWIDTH="80", MANPAGER="cat", PAGER="cat"))
                self.assertEqual(shown.returncode, 0, shown.stderr)
                self.assertEqual(shown.stderr, "", f"{page} renders with warnings")
                self.assertIn("NAME", shown.stdout)
        if missing:
            missing_in_tree(self, "the man pages " + ", ".join(missing))

    def test_cvbatch_files_open_in_the_batch_utility(self):
        share = self.path("usr/share")
        desktop = os.path.join(share, "applications", "zymb-batch.desktop")
        validated = run(["desktop-file-validate", desktop])
        self.assertEqual(validated.returncode, 0, validated.stdout + validated.stderr)
        for icon in ("scalable/apps/zymb-batch.svg", "48x48/apps/zymb-batch.png"):
            self.assertTrue(os.path.exists(os.path.join(share, "icons/hicolor", icon)), icon)
        for command in (["update-mime-database", os.path.join(share, "mime")],
                        ["update-desktop-database", os.path.join(share, "applications")]):
            updated = run(command)
            self.assertEqual(updated.returncode, 0, updated.stderr)

        # Only the root's data: an empty home, no configuration of the machine's.
        home = os.path.join(self.work, "mime-home")
        for folder in ("data", "config"):
            os.makedirs(os.path.join(home, folder), exist_ok=True)
        environment = dict(os.environ, HOME=home, XDG_DATA_DIRS=share,
                           # the desktop entry's TryExec must find the installed program
                           PATH=self.path("usr/bin") + os.pathsep + os.environ["PATH"],
                           XDG_DATA_HOME=os.path.join(home, "data"),
                           XDG_CONFIG_HOME=os.path.join(home, "config"),
                           XDG_CONFIG_DIRS=os.path.join(home, "config"),
                           # xdg-mime asks gio (the shared-mime-info database) on this desktop;
                           # with no desktop named it guesses types from content.
                           XDG_CURRENT_DESKTOP="GNOME")
        sample = os.path.join(self.work, "x.cvbatch")
        shutil.copy(os.path.join(SOURCE, "samples/batch/sort-names.cvbatch"), sample)
        filetype = run(["xdg-mime", "query", "filetype", sample], env=environment)
        self.assertEqual(filetype.stdout.strip(), "application/x-cvbatch", filetype.stderr)
        default = run(["xdg-mime", "query", "default", "application/x-cvbatch"], env=environment)
        self.assertEqual(default.stdout.strip(), "zymb-batch.desktop", default.stderr)
        # What GIO-based file managers ask: the default application and the type by name.
        opener = run(["gio", "mime", "application/x-cvbatch"], env=environment)
        self.assertIn("Default application for \u201capplication/x-cvbatch\u201d: zymb-batch.desktop",
                      opener.stdout, opener.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
