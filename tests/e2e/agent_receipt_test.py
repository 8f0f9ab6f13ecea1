"""The receipt (id 52) through a real print spooler: the agent under Wine shows the
platform's print dialog, the test answers it as an operator would (a click on its
button), and the job goes through Wine's PostScript driver and libcups to a
spooler of the test's own (print_spooler.py), whose PDF printer makes a PDF of
it. The PDF is checked line by line against the receipt, and its page is
rendered beside the other screenshots (BUILD_DIR/tests/e2e/artifacts):
receipt-print-dialog.png, receipt-page.png, receipt.pdf and receipt-text.txt
(the page's text, the receipt's lines beside it). Without a printer, with the
dialog cancelled and with a printer that refuses jobs, the answer says that
nothing printed and no job reaches the spooler.

usage: run_e2e.sh agent_receipt_test.py BUILD_DIR
"""
import datetime
import re
import shutil
import subprocess
import sys
import threading
import time
import unittest

import pdf_text
from agent_harness import Agent, http_get, wait_for
from print_spooler import PrintSpooler

BUILD_DIR = sys.argv.pop(1)

AMOUNT = "27500"
IDOK, IDCANCEL = 1, 2
PRINTER_NAME_BOX = 0x473  # the print dialog's printer list
DATE = re.compile(r"(\d{4})\.([1-9]\d?)\.([1-9]\d?) (0|[1-9]\d?):(0|[1-9]\d?):(0|[1-9]\d?)")
LINE_BREAK = b"\x0a\x0d"


def receipt_lines(amount, date):
    """The receipt's 25 lines as the printer is sent them: (line, bytes in code page 949)."""
    def text(t):
        return t.encode("cp949")
    return [
        (0, b"\x1b\x61\x01"), (1, b"\x1b\x21\x30"), (2, b"\x1b\x2d\x01"), (3, text("영    수    증")),
        (4, LINE_BREAK), (5, LINE_BREAK), (6, b"\x1b\x40"), (7, b"\x1b\x2d\x00\x00"),
        (8, text(" 금     액  :  " + amount + "원정")), (9, LINE_BREAK),
        (10, text(" 내     역 : OBU선수임대료")), (11, LINE_BREAK),
        (12, text(" " * 20 + "상기금액을 정히 영수함")), (13, LINE_BREAK),
        (14, text(" 일     자 :  " + date)), (15, LINE_BREAK), (16, LINE_BREAK),
        (17, text(" 사업자등록번호 : 314-27-58160")), (18, LINE_BREAK), (19, LINE_BREAK),
        (20, text("  0. 발행기관 :  미리내상사 본사(인)")), (22, LINE_BREAK), (23, LINE_BREAK),
        (25, text("본 영수증은 OBU선수임대료")), (26, text(" 수수에 관한 확인증서 입니다.")),
    ]


def as_printed(line):
    """A line as the page shows it: the font has no glyph for the control bytes
    (ESC/POS sequences, line breaks), which print as blanks."""
    return "".join(" " if ord(c) < 0x20 else c for c in line.decode("cp949")).rstrip()


def leading_blanks(text):
    return len(text) - len(text.lstrip(" "))


class Request(threading.Thread):
    """One command request, waiting for its answer while the test works the dialog."""

    def __init__(self, path):
        super().__init__(daemon=True)
        self.path = path
        self.answer = None
        self.started_at = time.time()
        self.start()

    def run(self):
        try:
            self.answer = http_get(self.path, timeout=120)
        except OSError as error:
            self.answer = error

    def result(self, timeout=30):
        self.join(timeout)
        if self.is_alive():
            raise AssertionError(f"no answer to {self.path} within {timeout} s")
        if isinstance(self.answer, OSError):
            raise AssertionError(f"{self.path}: {self.answer}")
        return self.answer


class ReceiptTest(unittest.TestCase):
    def setUp(self):
        self.spooler = PrintSpooler().__enter__()
        self.addCleanup(self.spooler.stop)
        self.agent = Agent(BUILD_DIR, "receipt")
        self.addCleanup(self.agent.cleanup)
        self.agent.env.update(self.spooler.env)

    def start_agent(self):
        """Starts the agent (Wine looks for printers as the agent starts); returns its process id."""
        process = self.agent.start()
        hwnd = self.agent.wait_ready()
        self.addCleanup(self.agent.stop, process, hwnd)
        return next(pid for frame, _, pid in self.agent.frames() if frame == hwnd)

    def dialogs(self, pid):
        return [tuple(map(int, line.split())) for line in self.agent.probe("dialogs", pid).splitlines()]

    def press(self, dialog, button):
        """Clicks a button of a dialog with the mouse."""
        left, top, right, bottom = map(int, self.agent.probe("item", dialog, button).split())
        centre = ((left + right) // 2, (top + bottom) // 2)
        subprocess.run(["xdotool", "mousemove", *map(str, centre)], check=True, timeout=10)
        time.sleep(0.3)
        subprocess.run(["xdotool", "click", "1"], check=True, timeout=10)

    def ask_receipt(self):
        return Request(f"/Corvane.html?callback=cb&id=52&param={AMOUNT}")

    def wait_dialog(self, pid, request):
        """The dialog the receipt shows, or None when it answered without one."""
        shown = wait_for(lambda: self.dialogs(pid) or not request.is_alive(), 30, "a dialog or the answer")
        return shown[0][0] if shown is not True else None

    def open_print_dialog(self):
        """Starts the agent and asks for the receipt: (process id, request, print dialog)."""
        pid = self.start_agent()
        request = self.ask_receipt()
        dialog = self.wait_dialog(pid, request)
        self.assertIsNotNone(dialog, "no print dialog")
        return pid, request, dialog

    def assert_answer(self, request, printed):
        status, body = request.result()
        self.assertEqual(status, 200)
        self.assertEqual(body, b'cb({"result":"0:%s"})' % (b"TRUE" if printed else b"FALSE"))

    def assert_nothing_printed(self, pid):
        self.assertEqual(self.dialogs(pid), [], "a dialog stayed open")
        time.sleep(1.0)
        self.assertEqual(self.spooler.jobs(), [], "a job reached the spooler")
        self.assertEqual(list(self.spooler.out.iterdir()), [])
        self.assertEqual(http_get("/Corvane.html?callback=cb&id=88")[1], b'cb({"result":"1.7.1.1"})')

    # ---------------------------------------------------------------------
    def test_receipt_printed_to_pdf(self):
        self.spooler.add_pdf_printer()
        self.assertEqual(self.spooler.default_printer(), "PDF")
        _, request, dialog = self.open_print_dialog()
        time.sleep(0.5)
        self.agent.screenshot("receipt-print-dialog.png")
        self.assertEqual(bytes.fromhex(self.agent.probe("text", dialog, PRINTER_NAME_BOX).strip()), b"PDF",
                         "the dialog offers the default printer")
        self.press(dialog, IDOK)
        self.assert_answer(request, printed=True)
        answered_at = time.time()

        # One job, named as the receipt's document, of one page.
        jobs = self.spooler.jobs()
        self.assertEqual(len(jobs), 1, jobs)
        pages, name, pdf = self.spooler.wait_finished(jobs[0][1])
        self.assertEqual((name, pages), ("IssueSystem", 1))
        artifacts = self.agent.artifacts
        shutil.copy2(pdf, artifacts / "receipt.pdf")
        info = subprocess.run(["pdfinfo", str(pdf)], capture_output=True, text=True, check=True).stdout
        self.assertRegex(info, r"(?m)^Pages:\s+1$")
        self.assertRegex(info, r"(?m)^Title:\s+IssueSystem$")
        subprocess.run(["pdftoppm", "-r", "100", "-png", "-singlefile", str(pdf), str(artifacts / "receipt-page")],
                       check=True, timeout=60)

        # The page's text: the glyphs mapped back to characters through the font.
        readable = self.agent.work / "receipt-text.pdf"
        fonts = pdf_text.readable_copy(pdf, readable)
        self.assertTrue(fonts, "the PDF names no font of downloaded glyphs")
        for font, (path, unmapped) in fonts.items():
            self.assertIsNotNone(path, f"no font file for {font}")
            self.assertEqual(unmapped, [], f"glyphs of {font} that its character map does not name")
        page = [line.rstrip() for line in pdf_text.layout_text(readable).splitlines()]
        shown = [line for line in page if line.strip()]

        # The date: the time of the request, without leading zeros.
        dates = [m for line in shown for m in [DATE.search(line)] if m]
        self.assertEqual(len(dates), 1, shown)
        printed_at = datetime.datetime(*map(int, dates[0].groups())).timestamp()
        self.assertTrue(request.started_at - 1 <= printed_at <= answered_at + 1, dates[0].group(0))

        lines = receipt_lines(AMOUNT, dates[0].group(0))
        self.assertEqual(len(lines), 25)
        expected = [(number, as_printed(data)) for number, data in lines if as_printed(data).strip()]
        report = []
        for i in range(max(len(expected), len(shown))):
            number, want = expected[i] if i < len(expected) else ("--", "")
            got = shown[i] if i < len(shown) else ""
            report += [f"line {number:>2}  receipt |{want}", f"         PDF     |{got}"]
        blanks = sorted({b for _, data in lines for b in data if b < 0x20})
        report.append("printed as blanks (no glyph in the font): " + " ".join(f"{b:02X}" for b in blanks))
        (artifacts / "receipt-text.txt").write_text("\n".join(report) + "\n\n" + "\n".join(page) + "\n")
        print("\n" + "\n".join(report))

        # Every line that shows something, in order, with its indent and its words
        # (pdftotext widens the gaps between words of wide Korean glyphs).
        self.assertEqual(len(shown), len(expected), "\n".join(report))
        for (number, want), got in zip(expected, shown):
            self.assertEqual(got.split(), want.split(), f"line {number}")
        # ... each indented by its leading blanks, read from where its first word
        # stands (pdftotext's layout text rounds places to a grid of its own,
        # which shifts with the other lines' widths, the date's among them).
        lefts, advance = pdf_text.line_lefts(readable)
        self.assertEqual(len(lefts), len(expected), lefts)
        self.assertTrue(advance, "no word of half-width glyphs on the page")
        for (number, want), left in zip(expected, lefts):
            self.assertAlmostEqual(left / advance, leading_blanks(want), delta=0.1, msg=f"line {number}'s indent")
        # ... each at its own line's place: one line height per line number.
        tops = pdf_text.line_tops(readable)
        numbers = [number for number, _ in expected]
        self.assertEqual(len(tops), len(numbers), tops)
        pitch = (tops[-1] - tops[0]) / (numbers[-1] - numbers[0])
        for number, top in zip(numbers, tops):
            self.assertAlmostEqual((top - tops[0]) / pitch, number - numbers[0], delta=0.1)

        self.assertEqual(http_get("/Corvane.html?callback=cb&id=88")[1], b'cb({"result":"1.7.1.1"})')

    def test_receipt_cancelled(self):
        self.spooler.add_pdf_printer()
        pid, request, dialog = self.open_print_dialog()
        self.press(dialog, IDCANCEL)
        self.assert_answer(request, printed=False)
        self.assert_nothing_printed(pid)

    def test_receipt_without_a_printer(self):
        pid = self.start_agent()
        request = self.ask_receipt()
        # The platform says there is no printer and waits for its OK.
        box = self.wait_dialog(pid, request)
        if box is not None:
            time.sleep(0.5)
            self.agent.screenshot("receipt-no-printer.png")
            self.press(box, IDOK)
        self.assert_answer(request, printed=False)
        self.assert_nothing_printed(pid)

    def test_receipt_refused_by_the_printer(self):
        self.spooler.add_pdf_printer()
        self.spooler.reject_jobs()
        pid, request, dialog = self.open_print_dialog()
        self.press(dialog, IDOK)
        self.assert_answer(request, printed=False)
        self.assert_nothing_printed(pid)


if __name__ == "__main__":
    unittest.main(verbosity=2)
