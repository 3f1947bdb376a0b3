#!/usr/bin/env python3
"""Checks the Tarn server stand-in against its real engine.

Must run inside a private network namespace with only loopback up; the CTest
entry (CMakeLists.txt beside this file) arranges that with `unshare -n`.
"""

import json
import os
import re
import shutil
import signal
import ssl
import subprocess
import sys
import tempfile
import time
import unittest
import xml.etree.ElementTree as ET
import urllib.parse
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER = os.path.join(HERE, "tarn-dev-server")
PORT = 18443
ENGINE_PORT = 28384
DEVICE_ID_RE = re.compile(r"^[A-Z2-7]{7}(-[A-Z2-7]{7}){7}$")
USER = "a&b user"  # needs form encoding to arrive intact
PASSWORD = "p@ss=word"


def engine_processes(state_dir):
    """Pids of engines whose command line names `state_dir`."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                args = f.read().split(b"\0")
            with open("/proc/%s/comm" % entry) as f:
                comm = f.read().strip()
        except OSError:
            continue
        if comm == "syncthing" and any(state_dir.encode() in a for a in args):
            found.append(int(entry))
    return found


def wait_until(predicate, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.1)
    return predicate()


def make_device_id(home):
    out = subprocess.run(["syncthing", "generate", "--home=" + home, "--no-default-folder", "--skip-port-probing"],
                         check=True, capture_output=True, text=True, env=dict(os.environ, HOME=home))
    return re.search(r"Device ID: (\S+)", out.stdout + out.stderr).group(1)


def post(path, fields):
    body = urllib.parse.urlencode(fields, quote_via=urllib.parse.quote).encode("utf-8")
    req = urllib.request.Request("https://127.0.0.1:%d%s" % (PORT, path), data=body, method="POST")
    req.add_header("Content-Type", "application/x-www-form-urlencoded; charset=UTF-8")
    context = ssl.create_default_context()
    context.check_hostname = False
    context.verify_mode = ssl.CERT_NONE  # the server's certificate is self-signed
    with urllib.request.urlopen(req, context=context, timeout=30) as answer:
        return answer.status, answer.read().decode("utf-8")


class TarnDevServerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="tarn-dev-server-test-")
        cls.state = os.path.join(cls.tmp, "state")
        cls.client_id = make_device_id(os.path.join(cls.tmp, "client"))
        cls.server = subprocess.Popen(
            [sys.executable, SERVER, "--state", cls.state, "--port", str(PORT),
             "--engine-gui-port", str(ENGINE_PORT), "--user", USER + ":" + PASSWORD, "--user", "other:x"],
            stdout=subprocess.PIPE, text=True)
        cls.ready = cls.server.stdout.readline().strip()
        cls.server_id = cls.ready.partition(" ")[2]

    @classmethod
    def tearDownClass(cls):
        if cls.server.poll() is None:
            cls.server.kill()
            cls.server.wait()
        cls.server.stdout.close()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def engine_get(self, path):
        with open(os.path.join(self.state, "engine", "config.xml")) as f:
            key = re.search(r"<apikey>([^<]*)</apikey>", f.read()).group(1)
        req = urllib.request.Request("http://127.0.0.1:%d%s" % (ENGINE_PORT, path))
        req.add_header("X-API-Key", key)
        with urllib.request.urlopen(req, timeout=10) as answer:
            return json.load(answer)

    def folder(self):
        return self.engine_get("/rest/config/folders/" + urllib.parse.quote(USER + self.server_id, safe=""))

    def register(self, password=PASSWORD, device_id=None):
        return post("/apps/orlin/register.php?", {
            "username": USER, "password": password, "deviceid": device_id or self.client_id,
            "os": "Debian GNU/Linux 12 (bookworm)", "devicename": "desk-1"})

    def test_01_ready_line_names_the_engine(self):
        self.assertTrue(self.ready.startswith("ready "), self.ready)
        self.assertRegex(self.server_id, DEVICE_ID_RE)
        self.assertEqual(self.engine_get("/rest/system/status")["myID"], self.server_id)
        options = self.engine_get("/rest/config/options")
        self.assertFalse(options["globalAnnounceEnabled"])
        self.assertFalse(options["localAnnounceEnabled"])
        self.assertFalse(options["relaysEnabled"])
        self.assertFalse(options["natEnabled"])
        self.assertFalse(options["crashReportingEnabled"])

    def test_02_refusals_start_with_failed_and_change_nothing(self):
        status, text = self.register(password="wrong")
        self.assertEqual(status, 200)
        self.assertTrue(text.startswith("Failed"), text)
        # Right shape, wrong check character.
        bad = self.client_id[:-1] + ("A" if self.client_id[-1] != "A" else "B")
        status, text = self.register(device_id=bad)
        self.assertTrue(text.startswith("Failed"), text)
        status, text = self.register(device_id="not a device")
        self.assertTrue(text.startswith("Failed"), text)
        ids = [d["deviceID"] for d in self.engine_get("/rest/config/devices")]
        self.assertNotIn(self.client_id, ids)
        self.assertEqual(self.engine_get("/rest/config/folders"), [])

    def test_03_login_shares_the_users_folder_with_the_device(self):
        status, text = self.register()
        self.assertEqual(status, 200)
        self.assertEqual(text.strip(), self.server_id)

        devices = {d["deviceID"]: d for d in self.engine_get("/rest/config/devices")}
        self.assertIn(self.client_id, devices)
        self.assertEqual(devices[self.client_id]["addresses"], ["tcp://127.0.0.1:22000", "dynamic"])
        self.assertEqual(devices[self.client_id]["name"], "desk-1")

        folder = self.folder()
        self.assertEqual(folder["label"], USER)
        self.assertTrue(os.path.isdir(folder["path"]))
        self.assertTrue(folder["path"].startswith(self.state))
        shared = [d["deviceID"] for d in folder["devices"]]
        self.assertIn(self.client_id, shared)
        self.assertIn(self.server_id, shared)

        # Logging in again adds nothing twice.
        self.assertEqual(self.register()[1].strip(), self.server_id)
        shared = [d["deviceID"] for d in self.folder()["devices"]]
        self.assertEqual(shared.count(self.client_id), 1)
        ids = [d["deviceID"] for d in self.engine_get("/rest/config/devices")]
        self.assertEqual(ids.count(self.client_id), 1)

    def test_04_settings_set_the_kept_versions(self):
        fields = {"username": USER, "password": PASSWORD, "versions": "3", "folderid": USER + self.server_id}
        self.assertEqual(post("/apps/orlin/settings.php?", fields), (200, "Success"))
        versioning = self.folder()["versioning"]
        self.assertEqual((versioning["type"], versioning["params"]), ("simple", {"keep": "3"}))

        self.assertEqual(post("/apps/orlin/settings.php?", dict(fields, versions="0")), (200, "Success"))
        self.assertEqual(self.folder()["versioning"]["type"], "")

        for wrong in (dict(fields, password="nope"), dict(fields, folderid="someone-else"),
                      dict(fields, versions="many")):
            status, text = post("/apps/orlin/settings.php?", wrong)
            self.assertNotEqual(text, "Success", wrong)
        self.assertEqual(self.folder()["versioning"]["type"], "")

    def test_05_a_registered_client_engine_syncs_with_the_nas(self):
        # The client side as the login leaves it: the folder renamed to user
        # name + server ID and shared with the server, the server a device
        # with a dynamic address. The NAS dials the client on 127.0.0.1:22000.
        self.assertEqual(self.register()[1].strip(), self.server_id)
        home = os.path.join(self.tmp, "client")
        sync_dir = os.path.join(self.tmp, "client-sync")
        os.makedirs(os.path.join(sync_dir, ".stfolder"), exist_ok=True)
        config = os.path.join(home, "config.xml")
        tree = ET.parse(config)
        root = tree.getroot()
        folder = ET.fromstring(ET.tostring(root.find("defaults/folder")))
        folder.set("id", USER + self.server_id)
        folder.set("label", "Orlin")
        folder.set("path", sync_dir)
        ET.SubElement(folder, "device", {"id": self.server_id, "introducedBy": ""})
        root.insert(0, folder)
        device = ET.Element("device", {"id": self.server_id, "name": "Orlin", "compression": "metadata",
                                       "introducer": "true", "skipIntroductionRemovals": "false",
                                       "introducedBy": ""})
        ET.SubElement(device, "address").text = "dynamic"
        ET.SubElement(device, "paused").text = "false"
        root.insert(1, device)
        options = root.find("options")
        for name in ("globalAnnounceEnabled", "localAnnounceEnabled", "relaysEnabled", "natEnabled",
                     "crashReportingEnabled"):
            options.find(name).text = "false"
        options.find("listenAddress").text = "tcp://127.0.0.1:22000"
        root.find("gui/address").text = "127.0.0.1:18384"
        tree.write(config)

        client = subprocess.Popen(["syncthing", "serve", "--home=" + home, "--no-browser", "--no-upgrade"],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True,
                                  env=dict(os.environ, HOME=self.tmp, STNODEFAULTFOLDER="1"))
        try:
            with open(os.path.join(sync_dir, "hello.txt"), "w") as f:
                f.write("from the client")
            arrived = os.path.join(self.folder()["path"], "hello.txt")
            self.assertTrue(wait_until(lambda: os.path.exists(arrived), 90), "the file never reached the NAS")
            with open(arrived) as f:
                self.assertEqual(f.read(), "from the client")
        finally:
            os.killpg(client.pid, signal.SIGTERM)
            client.wait(30)
            # The engine's child runs in a group of its own and follows its monitor.
            wait_until(lambda: not engine_processes(home), 15)
            for pid in engine_processes(home):
                os.kill(pid, signal.SIGKILL)

    def test_06_stopping_the_server_stops_its_engine(self):
        self.assertTrue(engine_processes(self.state))
        self.server.send_signal(signal.SIGTERM)
        self.assertEqual(self.server.wait(30), 0)
        self.assertTrue(wait_until(lambda: not engine_processes(self.state), 15), engine_processes(self.state))


class ParentDeathTest(unittest.TestCase):
    def test_server_and_engine_end_with_their_parent(self):
        tmp = tempfile.mkdtemp(prefix="tarn-dev-server-parent-")
        state = os.path.join(tmp, "state")
        try:
            # A shell stands in for whoever started the server; it is killed
            # without a chance to clean up.
            shell = subprocess.Popen(
                ["sh", "-c", '"$0" "$1" --state "$2" --port %d --engine-gui-port %d --user u:p & wait'
                 % (PORT + 1, ENGINE_PORT + 1), sys.executable, SERVER, state],
                stdout=subprocess.PIPE, text=True)
            self.assertTrue(shell.stdout.readline().startswith("ready "))
            self.assertTrue(engine_processes(state))
            shell.kill()
            shell.wait()
            shell.stdout.close()
            self.assertTrue(wait_until(lambda: not engine_processes(state), 30), engine_processes(state))
        finally:
            shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    unittest.main(verbosity=2)
