#!/usr/bin/python3
"""The web companion in real headless Chromium against the headless agent on the simulated server.

Usage: browser-test.py <orevant binary> [--screenshot <png>]
Exit 77 (skipped) when Chromium, its driver or Selenium is missing.
"""
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

SKIP = 77
try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    print("python3-selenium is missing; skipped")
    sys.exit(SKIP)

CHROMIUM = shutil.which("chromium")
DRIVER = shutil.which("chromedriver")
if not CHROMIUM or not DRIVER:
    print("chromium or chromedriver is missing; skipped")
    sys.exit(SKIP)

INTERFACE = "Studio Interface 8x8"
TIMEOUT = 15  # every wait ends on an event; this bound is only reached when something is wrong


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def control(runtime, command):
    path = os.path.join(runtime, "com.brenlake.orevant", "control")
    with socket.socket(socket.AF_UNIX) as s:
        s.settimeout(5)
        s.connect(path)
        s.sendall((command + "\n").encode())
        data = b""
        while chunk := s.recv(4096):
            data += chunk
    return data.decode()


def device_levels(runtime):
    """What each simulated device plays now: its name and each output channel's peak over the last 0.1 s."""
    levels = {}
    for line in control(runtime, "device-levels").splitlines():
        name, *peaks = line.split("\t")
        levels[name] = [float(p) for p in peaks]
    return levels


def device_peak(runtime, channels=slice(0, 2)):
    """The interface's loudest channel among `channels`: MAIN is outputs 1/2, PHONES 3/4."""
    return max(device_levels(runtime).get(INTERFACE, [])[channels], default=0.0)


PHONES = slice(2, 4)
SCENARIO = {
    "devices": [
        {"uid": "builtin-microphone", "name": "Built-in Microphone", "transport": "bltn", "outputChannels": 0,
         "inputChannels": 1},
        {"uid": "usb-studio-interface", "name": INTERFACE, "transport": "usb ", "outputChannels": 8,
         "inputChannels": 8},
    ],
    "defaultOutput": "usb-studio-interface",
    "defaultInput": "builtin-microphone",
    "apps": [{"pid": 501, "bundleID": "org.example.MusicPlayer", "name": "Music Player"},
             {"pid": 502, "bundleID": "org.example.WebBrowser", "name": "Web Browser"}],
    "processes": [{"pid": 501, "playing": True, "source": {"sine": {"frequency": 440, "amplitude": 0.4}}},
                  {"pid": 502, "playing": True, "source": {"sine": {"frequency": 660, "amplitude": 0.25}}}],
}


def wait_for(condition, what, timeout=TIMEOUT):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError("timed out waiting for " + what)


def main():
    binary = sys.argv[1]
    screenshot = sys.argv[sys.argv.index("--screenshot") + 1] if "--screenshot" in sys.argv else None
    home = tempfile.mkdtemp(prefix="orevant-browser-")
    runtime = os.path.join(home, "run")
    os.mkdir(runtime, 0o700)
    env = dict(os.environ, HOME=home, XDG_RUNTIME_DIR=runtime, XDG_CONFIG_HOME=os.path.join(home, "config"),
               XDG_CACHE_HOME=os.path.join(home, "cache"))
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    # A multichannel interface as the default output, so that MAIN and PHONES exist.
    scenario = os.path.join(home, "scenario.json")
    with open(scenario, "w") as f:
        json.dump(SCENARIO, f)
    port = free_port()
    agent = subprocess.Popen([binary, "--headless", "--backend", "sim", "--scenario", scenario, "--quiet",
                              "--web-port", str(port)],
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env, text=True)
    driver = None
    try:
        pin = None
        for line in agent.stdout:
            if m := re.search(r"PIN (\d{6})", line):
                pin = m.group(1)
            if line.startswith("Web companion:"):
                break
        assert pin, "the agent said no PIN"
        url = "http://127.0.0.1:%d/" % port

        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=390,844"):
            options.add_argument(argument)
        driver = webdriver.Chrome(service=Service(executable_path=DRIVER), options=options)
        driver.set_page_load_timeout(TIMEOUT)
        driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                               {"width": 390, "height": 844, "deviceScaleFactor": 2, "mobile": True})
        driver.get(url)
        wait = WebDriverWait(driver, TIMEOUT)
        js = driver.execute_script

        def login(code):
            js("document.getElementById('loginStatus').textContent=''")
            field = driver.find_element(By.ID, "pin")
            field.clear()
            field.send_keys(code + Keys.ENTER)
            return wait.until(lambda d: js("return document.body.dataset.session==='open' ? 'open' :"
                                           " document.getElementById('loginStatus').textContent"))

        wait.until(lambda d: js("return document.body.dataset.session==='closed'"))
        wrong = "%06d" % ((int(pin) + 1) % 1000000)
        # Ten wrong PINs lock the companion out, as they do over OSC: even the right one then fails.
        answers = [login(wrong) for _ in range(10)]
        assert answers[0] == "Wrong PIN.", answers
        assert "Too many" in answers[-1], answers
        assert "Too many" in login(pin)
        # Once the lockout is over the right PIN opens the mixer.
        wait_for(lambda: login(pin) == "open", "the lockout to end and the mixer to open")
        wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, ".strip")) > 4)

        strips = js("return [...document.querySelectorAll('.strip')].map(r=>r.dataset.id)")
        apps = [s for s in strips if s not in ("system_output", "system_input", "bus:main", "bus:phones")]
        assert apps, strips
        # Silence every application but the first so that the device plays it alone.
        target = apps[0]

        def slider(app, cls="vol"):
            return driver.find_element(By.CSS_SELECTOR, '.strip[data-id="%s"] .%s' % (app, cls))

        for other in apps[1:]:
            slider(other).send_keys(Keys.HOME)
        full = wait_for(lambda: (lambda a, b: b if b > 0.01 and abs(a - b) < 0.002 * max(b, 1e-3) + 1e-4 else None)(
            device_peak(runtime), (time.sleep(0.15), device_peak(runtime))[1]), "a steady level of the first app")
        for _ in range(5):
            slider(target).send_keys(Keys.PAGE_DOWN)
        assert slider(target).get_attribute("value") == "50"
        ratio = wait_for(lambda: (lambda r: r if abs(r - 0.125) < 0.005 else None)(device_peak(runtime) / full),
                         "the device to play the app at 0.125 of its level")
        print("device level at 50 %%: %.4f of full" % ratio)

        wait_for(lambda: js("return [...document.querySelectorAll('.lvl')].some(m=>m.value>0)"), "meters to move")

        if screenshot:
            driver.save_screenshot(screenshot)

        # Cued, the application reaches PHONES at its cue level whatever its MAIN level (pre-fade).
        assert "bus:phones" in strips
        cue = slider(target, "cueBtn")
        cue.click()
        wait.until(lambda d: cue.get_attribute("aria-pressed") == "true")
        cue_gain = (int(slider(target, "cueVol").get_attribute("value")) / 100) ** 3
        wait_for(lambda: abs(device_peak(runtime, PHONES) / full - cue_gain) < 0.005 and
                 abs(device_peak(runtime) / full - 0.125) < 0.005, "the cue on PHONES at its cue level")
        print("PHONES at cue level %.3f while MAIN stays at 0.125" % cue_gain)
        assert abs(cue_gain - 0.125) > 0.05, "a cue level that cannot be told from MAIN proves nothing"
        cue.click()
        wait.until(lambda d: cue.get_attribute("aria-pressed") == "false")

        driver.find_element(By.ID, "saveScene").click()
        recall = wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, "#scenes button"))[0]
        slider(target).send_keys(Keys.END)
        wait_for(lambda: device_peak(runtime) / full > 0.9, "the app back at full level")
        driver.find_element(By.CSS_SELECTOR, "#scenes button").click()
        wait_for(lambda: slider(target).get_attribute("value") == "50" and
                 abs(device_peak(runtime) / full - 0.125) < 0.005, "the scene recall")
        del recall

        panic = driver.find_element(By.ID, "panic")
        panic.click()
        wait.until(lambda d: panic.get_attribute("aria-pressed") == "true")
        wait_for(lambda: device_peak(runtime) < 0.001, "panic to silence the device")
        panic.click()
        wait.until(lambda d: panic.get_attribute("aria-pressed") == "false")

        reply = subprocess.run([binary, "--reissue-pin"], env=env, capture_output=True, text=True, timeout=TIMEOUT)
        assert reply.returncode == 0 and "New PIN" in reply.stdout, reply
        wait.until(lambda d: js("return document.body.dataset.session==='closed'"))
        # The old cookie no longer opens a session: a reload shows the PIN form.
        driver.refresh()
        wait.until(lambda d: js("return document.body.dataset.session==='closed'"))
        print("web companion browser test passed")
        return 0
    finally:
        if driver:
            driver.quit()
        agent.terminate()
        try:
            agent.wait(timeout=10)
        except subprocess.TimeoutExpired:
            agent.kill()
        shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
