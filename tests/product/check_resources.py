#!/usr/bin/env python3
"""Checks the resources of the shipped Corvane.exe, read back from the binary with
windres: menu 128 with its two popups, the string table, the icon group and the
manifest.

usage: check_resources.py WINDRES Corvane.exe
"""
import re
import subprocess
import sys


def rc_text(text):
    """A text as windres writes it back: plain when ASCII, else L"..." with \\x escapes."""
    if text.isascii():
        return '"' + text + '"'
    return 'L"' + "".join(c if c.isascii() else "\\x%04x" % ord(c) for c in text) + '"'


def main(windres, exe):
    rc = subprocess.run([windres, "-J", "coff", "-O", "rc", "-i", exe], check=True,
                        capture_output=True, text=True).stdout
    failures = []
    checks = []

    def check(what, condition):
        print(("ok: " if condition else "FAILED: ") + what)
        checks.append(what)
        if not condition:
            failures.append(what)

    menu = re.search(r"128 MENU\nBEGIN\n(.*?)\nEND\n", rc, re.S)
    expected_menu = "\n".join([
        f"  POPUP {rc_text('파일(&F)')}",
        "  BEGIN",
        f"    MENUITEM {rc_text('종료')}, 57665",
        "  END",
        f"  POPUP {rc_text('구분')}",
        "  BEGIN",
        f"    MENUITEM {rc_text('Agent 화면')}, 57664",
        f"    MENUITEM {rc_text('Agent 종료')}, 32775",
        "  END",
    ])
    check("menu 128: 파일(&F)/종료 57665, 구분/Agent 화면 57664, Agent 종료 32775",
          menu is not None and menu.group(1) == expected_menu)

    strings = dict(re.findall(r"^  (\d+), (L?\".*\")$", rc, re.M))
    check("string 57344 \"Corvane\" (application name)", strings.get("57344") == rc_text("Corvane"))
    check("string 128 \"Corvane\" (frame title)", strings.get("128") == rc_text("Corvane"))
    check("string 100, the OLE failure text",
          strings.get("100") == rc_text("OLE를 초기화할 수 없습니다. OLE 라이브러리 버전이 올바른지 확인하십시오."))

    group = re.search(r"128 14 /\* RT_GROUP_ICON \*/\nBEGIN\n(.*?)\nEND", rc, re.S)
    sizes = re.findall(r'"\\(\d{3})\\\d{3}\\000\\000", 1, 32', group.group(1)) if group else []
    check("icon 128: 16, 24, 32 and 48 pixels in 32-bit colour",
          [int(s, 8) for s in sizes] == [16, 24, 32, 48])

    check("manifest: asInvoker, no UI access",
          'level=""asInvoker"" uiAccess=""false""' in rc and "1 24 /* RT_MANIFEST */" in rc)

    print(f"{len(checks) - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
