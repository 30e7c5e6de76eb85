#!/usr/bin/python3
"""The query console in headless Chromium, against a vqsrv of its own.

Each test class starts vqsrv on a free loopback port with a SQLite data
source made here, and a Chromium with a fresh profile. Values are checked
against what SQLite itself returns.

Environment: VQSRV (the binary), VQ_ARTIFACTS (folder for the screenshot and
the timing). Exit 77 (skipped) when Chromium, its driver or Selenium are
missing, unless CI is set.
"""
import csv
import io
import json
import os
import shutil
import signal
import socket
import sqlite3
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.error
import urllib.request

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"

try:
    from selenium import webdriver
    from selenium.common.exceptions import NoAlertPresentException
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import Select, WebDriverWait
    HAVE_SELENIUM = True
except ImportError:
    HAVE_SELENIUM = False

VQSRV = os.environ.get("VQSRV", "")
ARTIFACTS = os.environ.get("VQ_ARTIFACTS", tempfile.gettempdir())
SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TOKEN = "console-Token-7f3a"
XSS = "<img src=x onerror=alert(1)>"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Scratch:
    """A temporary folder with a SQLite database, odbc.ini and a driver list."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="vqconsole-")
        self.db = os.path.join(self.dir, "shop.db")
        con = sqlite3.connect(self.db)
        con.executescript("""
            CREATE TABLE t(id INTEGER, b TEXT, "2" TEXT, "1" TEXT, n TEXT, e TEXT);
            INSERT INTO t VALUES (1, 'plain', 'two', 'one', NULL, '');
            INSERT INTO t VALUES (2, 'comma, "quoted"', 'a,b', 'y', 'not null', 'e');
            INSERT INTO t VALUES (3, 'line one
line two', 'Grüße ✓', '', NULL, 'NULL');
            CREATE TABLE h(v TEXT);
            INSERT INTO h VALUES ('<img src=x onerror=alert(1)>');
            INSERT INTO h VALUES ('<script>alert(2)</script>');
        """)
        con.commit()
        con.close()
        # The demo database of `make run`, for the picture in the README.
        self.demo = os.path.join(self.dir, "demo.db")
        con = sqlite3.connect(self.demo)
        with open(os.path.join(SOURCE_DIR, "data", "demo.sql")) as f:
            con.executescript(f.read())
        con.close()
        with open(os.path.join(self.dir, "odbc.ini"), "w") as f:
            for name, path in (("shop", self.db), ("demo", self.demo)):
                f.write("[%s]\nDriver=SQLite3\nDatabase=%s\nTimeout=2000\nStepAPI=1\n\n"
                        % (name, path))
        # The system's drivers, kept loaded (DontDLClose=1) so that a
        # sanitizer build of vqsrv can match the drivers' leaks by name.
        lines, in_driver = [], False
        with open("/etc/odbcinst.ini") as f:
            for line in f.read().splitlines():
                if line.startswith("["):
                    if in_driver:
                        lines.append("DontDLClose=1")
                    in_driver = line != "[ODBC]"
                if not line.startswith("DontDLClose"):
                    lines.append(line)
        if in_driver:
            lines.append("DontDLClose=1")
        with open(os.path.join(self.dir, "odbcinst.ini"), "w") as f:
            f.write("\n".join(lines) + "\n")

    def rows(self, sql):
        return self.rows_of(self.db, sql)

    @staticmethod
    def rows_of(db, sql):
        con = sqlite3.connect(db)
        try:
            return con.execute(sql).fetchall()
        finally:
            con.close()

    def remove(self):
        shutil.rmtree(self.dir, ignore_errors=True)


class Vqsrv:
    """vqsrv on a free loopback port; stop() expects a clean exit."""

    def __init__(self, scratch, **env):
        self.trace = os.path.join(scratch.dir, "trace-%d.log" % id(self))
        for _ in range(5):
            self.port = free_port()
            e = {k: v for k, v in os.environ.items()
                 if k in ("PATH", "ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS")}
            e.update(ZRM_LISTEN="127.0.0.1:%d" % self.port, ZRM_THREADS="2",
                     ODBCINI=os.path.join(scratch.dir, "odbc.ini"), ODBCSYSINI=scratch.dir,
                     ZRM_TRACE=self.trace, LC_ALL="C")
            e.update(env)
            self.proc = subprocess.Popen([VQSRV], env=e, cwd=scratch.dir,
                                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if self._wait_up():
                return
            self.proc.kill()
            self.proc.wait()
        raise RuntimeError("vqsrv did not start")

    def _wait_up(self):
        deadline = time.time() + 15
        while time.time() < deadline and self.proc.poll() is None:
            try:
                self.get("/healthz", {"Authorization": "Bearer " + TOKEN})
                return True
            except (urllib.error.URLError, ConnectionError):
                time.sleep(0.05)
        return False

    @property
    def url(self):
        return "http://127.0.0.1:%d/" % self.port

    def get(self, path, headers=None):
        """(status, headers, body) of a GET."""
        req = urllib.request.Request(self.url.rstrip("/") + path, headers=headers or {})
        try:
            with urllib.request.urlopen(req, timeout=10) as r:
                return r.status, r.headers, r.read()
        except urllib.error.HTTPError as err:
            return err.code, err.headers, err.read()

    def call(self, request, token=None):
        """The reply body of a request to the service, as text."""
        headers = {"Content-Type": "application/json"}
        if token:
            headers["Authorization"] = "Bearer " + token
        req = urllib.request.Request(self.url + "ZIDozeve", data=json.dumps(request).encode(),
                                     headers=headers)
        with urllib.request.urlopen(req, timeout=30) as r:
            return r.read().decode()

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        return self.proc.wait(timeout=30)


class Browser:
    """Headless Chromium with a fresh profile, driving the console."""

    def __init__(self, downloads):
        self.profile = tempfile.mkdtemp(prefix="vqconsole-chromium-")
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for arg in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                    "--no-first-run", "--disable-background-networking",
                    "--disable-component-update", "--disable-sync",
                    "--disable-dev-shm-usage", "--user-data-dir=" + self.profile,
                    "--window-size=1280,800"):
            options.add_argument(arg)
        options.set_capability("goog:loggingPrefs", {"performance": "ALL"})
        self.driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
        self.driver.execute_cdp_cmd("Browser.setDownloadBehavior",
                                    {"behavior": "allow", "downloadPath": downloads})

    def quit(self):
        self.driver.quit()
        shutil.rmtree(self.profile, ignore_errors=True)

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def el(self, element_id):
        return self.driver.find_element(By.ID, element_id)

    def open(self, url):
        self.driver.get(url)
        WebDriverWait(self.driver, 10).until(
            lambda d: d.execute_script("return document.readyState") == "complete")

    def wait(self, predicate, timeout=30):
        return WebDriverWait(self.driver, timeout, poll_frequency=0.05).until(lambda d: predicate())

    def idle(self):
        return self.js("return !document.body.hasAttribute('data-busy')")

    def run(self, sql, dsn="shop", mode="querydbg", record=None, ctrl_enter=False, wait=True):
        """Fills the form, runs the statement and waits until the page is done."""
        self.js("arguments[0].value = arguments[1]", self.el("dsn"), dsn)
        Select(self.el("mode")).select_by_value(mode)
        if record is not None:
            self.js("arguments[0].value = arguments[1]", self.el("record"), str(record))
        sql_box = self.el("sql")
        self.js("arguments[0].value = arguments[1]", sql_box, sql)
        if ctrl_enter:
            sql_box.send_keys(Keys.CONTROL, Keys.ENTER)
        else:
            self.el("run").click()
        if wait:
            self.wait(lambda: self.idle() and self.text("status") != "Running\u2026")

    def text(self, element_id):
        return self.js("return document.getElementById(arguments[0]).textContent", element_id)

    def visible(self, element_id):
        return self.js("return !document.getElementById(arguments[0]).hidden", element_id)

    def table(self):
        """(headers, rows): a NULL cell is None, every other cell its text."""
        return self.js("""
            const t = document.getElementById('table');
            const heads = Array.from(t.querySelectorAll('thead th'), th => th.textContent);
            const rows = Array.from(t.querySelectorAll('tbody tr'), tr => Array.from(tr.cells,
                td => td.classList.contains('null') ? null : td.textContent));
            return [heads, rows];""")

    def requests(self):
        """URLs the page asked for since the last call."""
        urls = []
        for entry in self.driver.get_log("performance"):
            message = json.loads(entry["message"])["message"]
            if message["method"] == "Network.requestWillBeSent":
                urls.append(message["params"]["request"]["url"])
        return urls

    def alert_open(self):
        try:
            self.driver.switch_to.alert.dismiss()
            return True
        except NoAlertPresentException:
            return False


def as_text(value):
    """A SQLite value as the service writes it (NULL stays None)."""
    return None if value is None else str(value)


class ConsoleCase(unittest.TestCase):
    server_env = {}

    @classmethod
    def setUpClass(cls):
        cls.scratch = Scratch()
        cls.downloads = os.path.join(cls.scratch.dir, "downloads")
        os.mkdir(cls.downloads)
        cls.server = Vqsrv(cls.scratch, **cls.server_env)
        try:
            cls.browser = Browser(cls.downloads)
        except Exception:
            cls.server.stop()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.browser.quit()
        status = cls.server.stop()
        cls.scratch.remove()
        if status != 0:
            raise AssertionError("vqsrv ended with status %d" % status)


class ResultTable(ConsoleCase):
    server_env = {"VQ_DSNS": "shop,ghost"}
    SQL = 'SELECT b, "2", "1", n, e FROM t ORDER BY id'

    def test_table_values_order_nulls_and_count(self):
        b = self.browser
        b.open(self.server.url)
        b.run(self.SQL, ctrl_enter=True)
        headers, rows = b.table()
        # Numeric column names stay where the statement put them.
        self.assertEqual(headers, ["b", "2", "1", "n", "e"])
        expected = [[as_text(v) for v in r] for r in self.scratch.rows(self.SQL)]
        self.assertEqual(rows, expected)
        # NULL and the empty text look different; the text 'NULL' is no NULL.
        self.assertIsNone(rows[0][3])
        self.assertEqual(rows[0][4], "")
        self.assertEqual(rows[2][4], "NULL")
        cells = b.js("return Array.from(document.querySelectorAll('#table tbody tr')[0].cells,"
                     " td => [td.textContent, getComputedStyle(td).fontStyle])")
        self.assertNotEqual(cells[3], cells[4])
        self.assertTrue(b.text("status").startswith("3 rows in "), b.text("status"))
        self.assertFalse(b.visible("error"))

    def test_dsn_suggestions_come_from_the_list(self):
        b = self.browser
        b.open(self.server.url)
        b.wait(lambda: b.js("return document.querySelectorAll('#dsn-list option').length") == 2)
        self.assertEqual(b.js("return Array.from(document.querySelectorAll('#dsn-list option'),"
                              " o => o.value)"), ["shop", "ghost"])

    def test_error_replies_show_their_text(self):
        b = self.browser
        b.open(self.server.url)
        cases = [("shop", "SELEC 1", "syntax error"),
                 ("ghost", "SELECT 1", "Data source name not found"),
                 ("nope", "SELECT 1", "Data source name refused")]
        for dsn, sql, words in cases:
            with self.subTest(dsn=dsn):
                b.run(sql, dsn=dsn)
                reply = json.loads(self.server.call({"M": "querydbg", "P1": dsn, "P2": sql}))
                self.assertIs(reply["Status"], False)
                self.assertIn(words, reply["Errmsg"])
                self.assertTrue(b.visible("error"))
                self.assertEqual(b.text("error"), reply["Errmsg"])
                self.assertEqual(b.table(), [[], []])
                self.assertTrue(b.el("csv").get_attribute("disabled"))

    def test_line_mode_shows_the_record_as_text(self):
        b = self.browser
        b.open(self.server.url)
        sql = "SELECT id, b, n FROM t ORDER BY id"
        b.run(sql, mode="query", record=2)
        reply = json.loads(self.server.call({"M": "query", "P1": "shop", "P2": sql, "P3": 2}))
        self.assertEqual(reply, '2|comma, "quoted"|not null')
        self.assertEqual(b.text("line"), reply)
        self.assertEqual(b.table(), [[], []])
        b.run(sql, dsn="ghost", mode="query", record=1)
        self.assertIn("Data source name not found", b.text("error"))
        self.assertFalse(b.visible("line"))

    def test_history_keeps_the_last_twenty(self):
        b = self.browser
        b.open(self.server.url)
        b.js("localStorage.clear()")
        b.open(self.server.url)
        for i in range(22):
            b.run("SELECT %d AS n" % i)
        b.open(self.server.url)  # kept across page loads
        options = b.js("return Array.from(document.querySelectorAll('#history option'),"
                       " o => o.textContent).slice(1)")
        self.assertEqual(len(options), 20)
        self.assertTrue(options[0].startswith("SELECT 21 AS n"), options[0])
        self.assertTrue(options[19].startswith("SELECT 2 AS n"), options[19])
        b.run("SELECT 5 AS n")  # run again: moves to the top, no duplicate
        Select(b.el("history")).select_by_index(3)
        self.assertEqual(b.el("sql").get_attribute("value"), "SELECT 20 AS n")
        self.assertEqual(b.el("dsn").get_attribute("value"), "shop")


class Safety(ConsoleCase):
    def test_markup_in_values_stays_text(self):
        b = self.browser
        b.open(self.server.url)
        b.requests()
        b.run('SELECT v AS "<b>head</b>" FROM h ORDER BY rowid')
        headers, rows = b.table()
        self.assertEqual(headers, ["<b>head</b>"])
        self.assertEqual(rows, [[XSS], ["<script>alert(2)</script>"]])
        self.assertEqual(b.js("return document.querySelectorAll('#table img, #table script,"
                              " #table b').length"), 0)
        time.sleep(0.3)  # room for an onerror that should not exist
        self.assertFalse(b.alert_open())
        asked = b.requests()
        self.assertFalse([u for u in asked if u.rstrip("/").endswith("/x")], asked)
        # An error text with markup is text too.
        b.run("SELECT * FROM \"%s\"" % XSS)
        self.assertIn(XSS, b.text("error"))
        self.assertEqual(b.js("return document.querySelectorAll('#error *').length"), 0)
        self.assertFalse(b.alert_open())

    def test_console_paths_and_headers(self):
        for path, kind in (("/", "text/html"), ("/console.js", "text/javascript"),
                           ("/console.css", "text/css"), ("/dsns.json", "application/json")):
            with self.subTest(path=path):
                status, headers, body = self.server.get(path)
                self.assertEqual(status, 200)
                self.assertTrue(headers["Content-Type"].startswith(kind))
                self.assertEqual(headers["Content-Security-Policy"], "default-src 'self'")
                self.assertEqual(headers["X-Content-Type-Options"], "nosniff")
                self.assertEqual(headers["Referrer-Policy"], "no-referrer")
                self.assertEqual(headers["X-Frame-Options"], "DENY")
        # No framework, no inline code, nothing from elsewhere; small.
        total = 0
        for path in ("/", "/console.js", "/console.css"):
            body = self.server.get(path)[2].decode()
            total += len(body.encode())
            self.assertNotIn("http://", body.replace("http://127.0.0.1", ""))
            self.assertNotIn("https://", body)
        page = self.server.get("/")[2].decode()
        self.assertNotIn("<style", page)
        self.assertNotIn("style=", page)
        self.assertEqual(page.count("<script"), 1)
        self.assertIn('<script src="console.js"', page)
        self.assertLess(total, 40 * 1024)
        with open(os.path.join(ARTIFACTS, "console-size.txt"), "w") as f:
            f.write("page, script and style: %d bytes\n" % total)
        self.assertEqual(json.loads(self.server.get("/dsns.json")[2]),
                         {"limited": False, "names": []})

    def test_switched_off(self):
        off = Vqsrv(self.scratch, ZRM_CONSOLE="0")
        try:
            for path in ("/", "/console.js", "/console.css", "/dsns.json"):
                self.assertEqual(off.get(path)[0], 404, path)
            self.assertEqual(json.loads(off.call({"M": "open", "P1": "shop"})), {"Status": True})
        finally:
            self.assertEqual(off.stop(), 0)


class Token(ConsoleCase):
    server_env = {"ZRM_TOKEN": TOKEN, "VQ_DSNS": "shop"}

    def test_asks_once_then_works(self):
        s, b = self.server, self.browser
        # The page itself is the same everywhere and needs no token; what
        # tells about this installation does.
        self.assertEqual(s.get("/")[0], 200)
        self.assertEqual(s.get("/console.js")[0], 200)
        self.assertEqual(s.get("/dsns.json")[0], 401)
        self.assertEqual(s.get("/dsns.json", {"Authorization": "Bearer " + TOKEN})[0], 200)
        self.assertEqual(s.get("/metrics")[0], 401)

        b.open(s.url)
        b.wait(lambda: b.visible("auth"))
        self.assertEqual(b.text("auth-message"), "This service needs a token.")
        b.el("token").send_keys("wrong-token")
        b.el("token").send_keys(Keys.ENTER)
        # A refused token is told apart and asked for again.
        b.wait(lambda: b.visible("auth") and "refused" in b.text("auth-message"))
        self.assertEqual(b.js("return document.querySelectorAll('#dsn-list option').length"), 0)
        b.el("token").send_keys(TOKEN)
        b.el("token").send_keys(Keys.ENTER)
        b.wait(lambda: b.js("return document.querySelectorAll('#dsn-list option').length") == 1)
        self.assertFalse(b.visible("auth"))
        self.assertEqual(b.js("return sessionStorage.getItem('vqsrv.token')"), TOKEN)

        b.run("SELECT id FROM t ORDER BY id")
        self.assertEqual(b.table(), [["id"], [["1"], ["2"], ["3"]]])
        self.assertFalse(b.visible("auth"))
        b.open(s.url)  # the same tab keeps the token: no second question
        b.run("SELECT b FROM t WHERE id = 1")
        self.assertEqual(b.table(), [["b"], [["plain"]]])
        self.assertFalse(b.visible("auth"))

    def test_cancel_shows_the_refusal(self):
        b = self.browser
        b.open(self.server.url)
        b.js("sessionStorage.clear()")
        b.open(self.server.url)
        b.wait(lambda: b.visible("auth"))
        b.el("auth-cancel").click()
        b.run("SELECT 1", wait=False)
        b.wait(lambda: b.visible("auth"))
        b.el("auth-cancel").click()
        b.wait(lambda: b.idle() and b.visible("error"))
        self.assertTrue(b.text("error").startswith("HTTP 401: Unauthorized"), b.text("error"))


class Download(ConsoleCase):
    SQL = 'SELECT id, b, "2", "1", n, e FROM t ORDER BY id'

    def downloaded(self):
        path = os.path.join(self.downloads, "result.csv")
        deadline = time.time() + 15
        while time.time() < deadline:
            if os.path.exists(path) and not any(f.endswith(".crdownload")
                                                for f in os.listdir(self.downloads)):
                with open(path, "rb") as f:
                    data = f.read()
                os.remove(path)
                return data
            time.sleep(0.05)
        self.fail("no download")

    def test_csv_matches_the_table(self):
        b = self.browser
        b.open(self.server.url)
        b.run(self.SQL)
        headers, rows = b.table()
        b.el("csv").click()
        data = self.downloaded()
        parsed = list(csv.reader(io.StringIO(data.decode("utf-8"), newline="")))
        self.assertEqual(parsed[0], headers)
        # csv reads NULL and '' alike; the table tells them apart and so do the bytes below.
        self.assertEqual(parsed[1:], [["" if c is None else c for c in r] for r in rows])
        text = data.decode("utf-8")
        self.assertEqual(text.split("\r\n")[0], "id,b,2,1,n,e")
        self.assertIn('2,"comma, ""quoted""","a,b",y,not null,e\r\n', text)
        self.assertIn('3,"line one\nline two",Grüße ✓,"",,NULL\r\n', text)
        self.assertIn('1,plain,two,one,,""\r\n', text)
        self.assertTrue(text.endswith("\r\n"))

    def rendered(self):
        b = self.browser
        b.wait(lambda: b.idle() and b.js(
            "return document.getElementById('result').dataset.renderMs") is not None)
        return int(b.js("return document.getElementById('result').dataset.renderMs"))

    def test_large_result_shows_pages_and_downloads_whole(self):
        b = self.browser
        b.driver.set_window_size(1280, 800)
        b.open(self.server.url)
        sql = ("WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < 10000) "
               "SELECT i AS id, 'name ' || i AS name, i * 3 AS triple, "
               "CASE WHEN i % 7 = 0 THEN NULL ELSE 'note ' || i END AS note, "
               "printf('%08d', i) AS code FROM c")
        b.run(sql)
        render_ms = self.rendered()
        headers, rows = b.table()
        self.assertEqual(len(rows), 1000)
        self.assertEqual(rows[6], ["7", "name 7", "21", None, "00000007"])
        self.assertTrue(b.text("status").startswith("10,000 rows in "), b.text("status"))
        self.assertTrue(b.visible("pager"))
        self.assertTrue(b.text("page-info").startswith("Rows 1\u20131,000 of 10,000"))
        self.assertTrue(b.el("previous").get_attribute("disabled"))
        with open(os.path.join(ARTIFACTS, "console-render.txt"), "w") as f:
            f.write("10,000 rows x 5 columns: %s; first page of 1,000 rows drawn %d ms after Run\n"
                    % (b.text("status"), render_ms))
        print("\n10,000 rows: %s; first page drawn %d ms after Run" % (b.text("status"), render_ms))

        b.el("next").click()
        self.rendered()
        self.assertEqual(b.table()[1][0], ["1001", "name 1001", "3003", None, "00001001"])
        for _ in range(9):  # past the last page: stays there
            if b.el("next").get_attribute("disabled"):
                break
            b.el("next").click()
            self.rendered()
        self.assertTrue(b.el("next").get_attribute("disabled"))
        self.assertTrue(b.text("page-info").startswith("Rows 9,001\u201310,000 of 10,000"))
        self.assertEqual(b.table()[1][-1], ["10000", "name 10000", "30000", "note 10000", "00010000"])

        b.el("csv").click()
        lines = self.downloaded().decode().split("\r\n")
        self.assertEqual(len(lines), 10002)  # header, rows, and the empty text after the last CRLF
        self.assertEqual(lines[7], "7,name 7,21,,00000007")
        self.assertEqual(lines[10000], "10000,name 10000,30000,note 10000,00010000")

    def test_wide_result_has_smaller_pages(self):
        b = self.browser
        b.open(self.server.url)
        # 200 columns: 100 rows a page, 20,000 cells.
        cols = ", ".join("i AS c%d" % k for k in range(200))
        b.run("WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < 150) "
              "SELECT %s FROM c" % cols)
        self.rendered()
        self.assertEqual(b.js("return document.querySelectorAll('#table tbody tr').length"), 100)
        self.assertTrue(b.text("page-info").startswith("Rows 1\u2013100 of 150"))
        b.el("next").click()
        self.rendered()
        self.assertEqual(len(b.table()[1]), 50)
        b.run("SELECT 1 AS one")  # a small result has no pager
        self.assertFalse(b.visible("pager"))
        b.el("csv").click()
        self.assertEqual(self.downloaded().decode(), "one\r\n1\r\n")


class Layout(ConsoleCase):
    def test_narrow_and_wide_windows(self):
        b = self.browser
        wide_sql = "SELECT " + ", ".join("'a rather long value %d' AS column_%d" % (k, k)
                                         for k in range(30))
        for width in (360, 1920):
            with self.subTest(width=width):
                b.driver.set_window_size(width, 900)
                b.open(self.server.url)
                b.run(wide_sql)
                inner = b.js("return window.innerWidth")
                # The page never scrolls sideways; the wide table scrolls in its own box.
                self.assertLessEqual(b.js("return document.documentElement.scrollWidth"), inner)
                for element_id in ("dsn", "sql", "run", "csv", "mode", "history"):
                    box = b.js("const r = document.getElementById(arguments[0])"
                               ".getBoundingClientRect(); return [r.left, r.right, r.width];",
                               element_id)
                    self.assertGreaterEqual(box[0], 0, element_id)
                    self.assertLessEqual(box[1], inner, element_id)
                    self.assertGreater(box[2], 0, element_id)
                if width == 360:
                    self.assertGreater(b.js("return document.getElementById('result').scrollWidth"),
                                       b.js("return document.getElementById('result').clientWidth"))

    def test_screenshot_with_a_result(self):
        b = self.browser
        b.driver.set_window_size(900, 660)
        b.open(self.server.url)
        sql = "SELECT id, name, price, note FROM items ORDER BY id"
        b.run(sql, dsn="demo")
        # The page shows what the service sent, in the order sent.
        reply = json.loads(self.server.call({"M": "querydbg", "P1": "demo", "P2": sql}),
                           object_pairs_hook=list)
        results = dict(reply)["Results"]
        self.assertEqual(b.table(), [[k for k, _ in results[0]], [[v for _, v in r] for r in results]])
        b.js("document.activeElement.blur()")
        path = os.path.join(ARTIFACTS, "console.png")
        self.assertTrue(b.driver.save_screenshot(path))
        with open(path, "rb") as f:
            self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")


def main():
    missing = [p for p in (CHROMIUM, CHROMEDRIVER) if not os.access(p, os.X_OK)]
    if not HAVE_SELENIUM:
        missing.append("python3-selenium")
    if missing:
        print("missing: %s (scripts/install-deps.sh installs them)" % ", ".join(missing))
        sys.exit(1 if os.environ.get("CI") else 77)
    if not os.access(VQSRV, os.X_OK):
        print("VQSRV does not name the vqsrv binary: %r" % VQSRV)
        sys.exit(1)
    os.makedirs(ARTIFACTS, exist_ok=True)
    unittest.main(verbosity=2)


if __name__ == "__main__":
    main()
