#!/usr/bin/env python3
"""End to end: CorvaneSimulated.exe under Wine, the OBU and fingerprint-unit
commands over HTTP on port 90 against the simulated devices, as a newcomer
drives them with curl.
usage: simulated_devices_e2e.py CorvaneSimulated.exe
"""
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import wine_agent  # noqa: E402

KEY = "00112233445566778899AABBCCDDEEFF"
UNIT_KEY = "01234567890123456789012345678901"
failures = []


def check(name, got, expected):
    if got == expected:
        print(f"ok: {name}")
    else:
        failures.append(name)
        print(f"FAILED: {name}: {got!r} != {expected!r}")


def ask(command, param=None):
    url = f"http://127.0.0.1:90/Corvane.html?callback=cb&id={command}"
    if param is not None:
        url += "&param=" + param
    body = subprocess.run(["curl", "-s", "--max-time", "30", url], capture_output=True, check=False).stdout
    match = re.fullmatch(rb'cb\(\{"result":"(.*)"\}\)', body)
    return match.group(1).decode("latin-1") if match else body


def scode(mfsn, key_text):
    """AES-128 of the MFSN bytes and eight zeros under the key text, first 8 bytes."""
    try:
        from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes
    except ImportError:
        return None
    encryptor = Cipher(algorithms.AES(key_text.encode()), modes.ECB()).encryptor()
    return (encryptor.update(bytes.fromhex(mfsn) + bytes(8)) + encryptor.finalize())[:8].hex().upper()


def main():
    exe = os.path.abspath(sys.argv[1])
    fields = ["1234567890123456", "6543210987654321", "0123456789", "20261208", "20311207", "7", "3F"]
    activation = "_".join(fields)
    info = "1_" + activation
    with wine_agent.Agent(exe):
        check("id 32 sets the key", ask(32, KEY), "2:")
        check("id 31 reads the serial number", ask(31), "2:123456789ABCDEF0")
        check("id 35 activates", ask(35, activation), "2:" + info)
        check("id 34 reads what was written", ask(34), "2:" + info)
        check("id 36 changes field 1 (flags 10000)",
              ask(36, "_".join(["1111111111111111"] + fields[1:]) + "_10000"),
              "2:3_1111111111111111_" + "_".join(fields[1:]))
        check("id 37 re-activates", ask(37, activation), "2:4_" + activation)
        expected = scode("123456789ABCDEF0", "Issue-Key-2026!!")
        got = ask(38, "123456789ABCDEF0_Issue-Key-2026!!")
        if expected is None:
            check("id 38 answers an S-code", bool(re.fullmatch(r"2:[0-9A-F]{16}", got)), True)
        else:
            check("id 38 answers the S-code", got, "2:" + expected)
        check("id 38 refuses a lower-case serial number", ask(38, "123456789abcdef0_Issue-Key-2026!!"),
              "2:MFSN Error")
        check("id 33 resets", ask(33), "2:")
        check("id 39 opens alone", ask(39), "2")
        check("id 40 closes", ask(40), "2")
        check("id 40 again finds nothing open", ask(40), "1")
        check("a key one character short is refused", ask(32, KEY[:31]), "2:1")
        check("a key with a 'G' is taken, the G as 7", (ask(32, KEY[:31] + "G"), ask(34)), ("2:", "2:2"))
        check("another key: the handshake is refused", (ask(32, "F" * 32), ask(34)), ("2:", "2:2"))

        # The fingerprint unit (commands that show no screen and no box).
        check("id 61 opens the unit", ask(61, UNIT_KEY), "2")
        check("id 63 finds it open", ask(63), "2")
        check("id 66 reads the user information", len(ask(66)), 21)
        check("id 71 issues the unit with a 152-character holder text", ask(71, "1" * 152), "")
        check("id 65 reads the issued unit", len(ask(65)), 208)
        check("id 69 deletes a user's fingerprints", ask(69, "2"), "")
        check("id 62 closes the unit", ask(62), "2")
        check("id 63 finds nothing open", ask(63), "0")
    print(f"{len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
