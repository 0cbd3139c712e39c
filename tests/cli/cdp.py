"""A small client of the Chromium DevTools protocol for the gallery's test and
benchmark: headless Chromium on a fresh profile, driven over its websocket
(Debian's python3-websocket, run by /usr/bin/python3)."""

import json
import os
import shutil
import subprocess
import tempfile
import time

try:
    import websocket
except ImportError as e:  # pragma: no cover - a machine without scripts/setup
    raise SystemExit(f"{e}: install python3-websocket (scripts/setup) and run with /usr/bin/python3")

# What headless Chromium needs here as root; without the background-networking
# flags it opens connections of its own.
FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--remote-allow-origins=*", "--remote-debugging-port=0",
]


class ProtocolError(RuntimeError):
    pass


class Browser:
    """One Chromium process and one page of it (a flat session)."""

    def __init__(self, chromium="chromium", width=1280, height=900, timeout=30):
        self.profile = tempfile.mkdtemp(prefix="ombr-chromium-")
        self.process = subprocess.Popen(
            [chromium, *FLAGS, f"--user-data-dir={self.profile}", f"--window-size={width},{height}", "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.events = []
        self.next_id = 0
        self.session = None
        port_file = os.path.join(self.profile, "DevToolsActivePort")
        deadline = time.monotonic() + timeout
        while not (os.path.exists(port_file) and len(open(port_file).read().split()) >= 2):
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.close()
                raise ProtocolError(f"{chromium} did not open its DevTools port")
            time.sleep(0.05)
        port, path = open(port_file).read().split()[:2]
        self.ws = websocket.create_connection(f"ws://127.0.0.1:{port}{path}", timeout=timeout)
        target = self.call("Target.createTarget", url="about:blank")["targetId"]
        self.session = self.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
        for domain in ("Page", "Runtime", "Network", "Log"):
            self.call(domain + ".enable")
        self.call("Emulation.setDeviceMetricsOverride", width=width, height=height, deviceScaleFactor=1, mobile=False)

    def call(self, method, **params):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params}
        if self.session and not method.startswith("Target."):
            message["sessionId"] = self.session
        self.ws.send(json.dumps(message))
        while True:
            reply = json.loads(self.ws.recv())
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise ProtocolError(f"{method}: {reply['error']}")
                return reply.get("result", {})
            self.events.append(reply)

    def wait_for(self, method, timeout=30):
        """The first event of that name not yet taken, waiting for it."""
        deadline = time.monotonic() + timeout
        while True:
            for i, event in enumerate(self.events):
                if event.get("method") == method:
                    return self.events.pop(i)
            if time.monotonic() > deadline:
                raise ProtocolError(f"no {method} within {timeout} s")
            self.ws.settimeout(max(0.01, deadline - time.monotonic()))
            try:
                self.events.append(json.loads(self.ws.recv()))
            except websocket.WebSocketTimeoutException:
                pass

    def navigate(self, url, timeout=30):
        self.events = [e for e in self.events if e.get("method") != "Page.loadEventFired"]
        self.call("Page.navigate", url=url)
        self.wait_for("Page.loadEventFired", timeout)

    def evaluate(self, expression, timeout=60):
        """The value of a script expression (a promise is awaited)."""
        self.ws.settimeout(timeout)
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True, awaitPromise=True)
        if "exceptionDetails" in result:
            details = result["exceptionDetails"]
            text = details.get("exception", {}).get("description") or details.get("text")
            raise ProtocolError(f"script failed: {text}")
        return result["result"].get("value")

    def click(self, x, y):
        """A real left click at page coordinates (x, y) of the viewport."""
        for kind in ("mousePressed", "mouseReleased"):
            self.call("Input.dispatchMouseEvent", type=kind, x=x, y=y, button="left", clickCount=1)

    def key(self, key, code, key_code):
        for kind in ("rawKeyDown", "keyUp"):
            self.call("Input.dispatchKeyEvent", type=kind, key=key, code=code, windowsVirtualKeyCode=key_code)

    def screenshot(self, path):
        import base64
        data = self.call("Page.captureScreenshot", format="png")["data"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))

    def errors(self):
        """Script exceptions and console errors seen so far."""
        found = []
        for e in self.events:
            if e.get("method") == "Runtime.exceptionThrown":
                found.append(e["params"]["exceptionDetails"].get("text", "exception"))
            elif e.get("method") == "Log.entryAdded" and e["params"]["entry"]["level"] == "error":
                found.append(e["params"]["entry"]["text"])
        return found

    def requests(self):
        """The URLs the page asked for so far."""
        return [e["params"]["request"]["url"] for e in self.events if e.get("method") == "Network.requestWillBeSent"]

    def close(self):
        try:
            if getattr(self, "ws", None):
                self.ws.close()
        finally:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
            shutil.rmtree(self.profile, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
