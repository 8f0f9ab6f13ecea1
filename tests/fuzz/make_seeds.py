#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets from the well-formed exchanges
the unit tests use (each file in the input format its target describes).
Run from anywhere; files are written under tests/fuzz/corpus/<target>/."""
import os

here = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    folder = os.path.join(here, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(bytes(data))


def counted(data):
    return [len(data)] + list(data)


def word(n):
    return [n >> 8, n & 0xFF]


# ---- OBU exchange: setup, input report length, product, events
DEVICE_RANDOM = [0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7]
HANDSHAKE = [1] + [0x10] + [0] * 7 + DEVICE_RANDOM


def answer(status, data_length, chunk, command=0x05):
    plain = [command, status] + [0] * 14 + [i & 0xFF for i in range(16, 16 + data_length)]
    plain += [0] * (-len(plain) % 16)
    return [2, len(plain) // 16 - 1, chunk] + plain


obu = list(b"Wendra-OBU")
write("obu_exchange", "answer_in_two_reports", [0] + word(64) + counted(obu) + HANDSHAKE + answer(0, 48, 40))
write("obu_exchange", "answer_failed_status", [0] + word(64) + counted(obu) + HANDSHAKE + answer(0x01, 0, 55))
write("obu_exchange", "refused_handshake",
      [0] + word(64) + counted(obu) + [1, 0x10, 0x01] + [0] * 6 + DEVICE_RANDOM)
write("obu_exchange", "single_report_answer",
      [1 | 2] + word(65) + counted(obu + list(b" unit")) + HANDSHAKE + answer(0, 0, 16, 0x20))
write("obu_exchange", "timeouts_then_answer",
      [0] + word(64) + counted(obu) + [3, 3] + HANDSHAKE + [3] + answer(0, 200, 55))
# A raw report whose DataLength is beyond what is ever gathered.
raw = [0x01, 1, 0, 0, 0x00, 0x04, 0x01, 55, 0] + [0x6B] * 55
write("obu_exchange", "raw_long_total", [0] + word(64) + counted(obu) + HANDSHAKE + [0] + counted(raw))
write("obu_exchange", "short_input_reports", [4] + word(20) + counted(obu) + HANDSHAKE + answer(0, 16, 55))


# ---- reader replies: export, data, tail1, tail2, kind, length, bytes
def exchange(export, request, reply, kind=0, tail=(0, 0)):
    return [export] + counted(request) + list(tail) + [kind] + word(len(reply)) + list(reply)


def serial_reply(data):
    n = len(data)
    bcc = (n >> 8) ^ (n & 0xFF)
    for b in data:
        bcc ^= b
    return [0x02, n >> 8, n & 0xFF] + list(data) + [bcc]


select = [0x00, 0xA4, 0x04, 0x00, 0x00]
atr = [0x3B, 0x6E, 0x00, 0x00, 0x80, 0x31, 0x80, 0x66, 0xB0, 0x84, 0x0C, 0x01, 0x6E, 0x01, 0x83, 0x00, 0x90, 0x00]
write("reader_serial", "power_on", exchange(0, [], serial_reply([0x00] + atr)))
write("reader_serial", "case2_then_status",
      exchange(2, select, serial_reply([0x00, 0x61, 0x1A])) + exchange(3, select, serial_reply([0x05])))
write("reader_serial", "no_stx_wrong_check",
      exchange(7, [1, 2], [0xFF, 0x02, 0x00, 0x00, 0x00]) + exchange(7, [1, 2], [0x02, 0x00, 0x01, 0x00, 0x00]))
write("reader_serial", "tail_and_silence",
      exchange(9, [0x01, 0x02], serial_reply([0x00, 0x90, 0x00]), tail=(0x0A, 0x0B)) + exchange(4, [3, 0, 0, 0], [], 2))
write("reader_serial", "reply_in_pieces_longest",
      exchange(5, [0x26], serial_reply([0x00] + [0x42] * 2043)))
write("reader_serial", "reopen", exchange(11, [], []) + exchange(0, [], serial_reply([0x00] + atr)))


def usb_reply(data):
    return [len(data) >> 8, len(data) & 0xFF] + list(data)


write("reader_usb", "power_on", exchange(0, [], usb_reply([0x00] + atr)))
write("reader_usb", "case2_then_status",
      exchange(2, select, usb_reply([0x00, 0x61, 0x1A])) + exchange(3, select, usb_reply([0x05])))
write("reader_usb", "short_read_failure_timeout",
      exchange(7, [1, 2], [0x00, 0x00]) + exchange(7, [1], [], 1) + exchange(7, [1], [], 2))
write("reader_usb", "probe", exchange(4, [3, 0, 0, 0], usb_reply([0x00, 0x42, 0x08, 0x12, 0x34, 0x56, 0x78]),
                                      tail=(0x4C, 0)))


# ---- card replies: link, status reply (counted), commands
def reply(data, kind=0):
    return [kind] + word(len(data)) + list(data)


ids = [11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 50, 51, 52]


def command(cid, *replies, text=None):
    out = [ids.index(cid)]
    if text is not None:
        out += list(text.encode()) + [0]
    for r in replies:
        out += r
    return out


ok = [0x90, 0x00]
selected = reply([0x61, 0x1A])
card_file = [0xB0] + list(range(60)) + ok
contact_open = [reply(atr), selected]  # power on, select
write("card_reply", "contact_card_number",
      [0] + counted([0x1C, 0x90, 0x00]) + command(13, *contact_open, reply(card_file)))
write("card_reply", "contactless_count",
      [0] + counted([0x90, 0x00]) + command(14, reply([], 2), reply([0x42, 0x08, 0x12, 0x34]), selected,
                                            reply([0x00, 0x05] + ok)))
write("card_reply", "pcsc_blocks",
      [1] + counted([0x6A, 0x82]) + command(20, selected, reply([0x1C] + [0xF8] + [0x11] * 62 + ok))
      + command(21, selected, reply([0x06, 0x1C] + [0x22] * 126 + ok)) + command(23, selected, reply([0x69, 0x85])))
write("card_reply", "pcsc_issue_and_numbers",
      [1] + counted([]) + command(29, selected, reply(ok), text="01,00,50,16,6194,20050101,20070101,01,0,0,")
      + command(28, selected, reply(ok), reply(ok), text="2222222222222222,1111111111111111,")
      + command(52, selected, text="15000"))
write("card_reply", "pcsc_initialise",
      [1] + counted([0x1C, 0x04, 0x22, 0x90, 0x00]) + command(18, selected, *[reply(ok)] * 12))
write("card_reply", "no_answers",
      [1] + counted([0x90]) + command(15, selected, reply([], 1)) + command(16, selected, reply([0x6E, 0x00]))
      + command(24, selected, reply(ok)))

# ---- card records: command byte, text
write("card_records", "add_numbers", [0] + list(b"2222222222222222,1111111111111111,"))
write("card_records", "issue", [1] + list(b"01,00,50,16,6194,20050101,20070101,0A,0,0,"))
write("card_records", "reissue_built_in",
      [2] + list(b"2222222222222222,1111111111111111,01,00,50,16,6194,20050101,20070101,01,0,0,"))
write("card_records", "renew_encoded_commas", [3] + list(b"01%2C00%2C50%2C16%2C6194%2C20050101%2C20070101%2C01%2C0%2C0%2C"))
write("card_records", "long_items",
      [1] + list(b"01,00,50,16,6194,20050101,20070101,01,999999999999999999999999999999999999999999,12345678901234567890,"))


# ---- biometric unit: the unit's answer events (fuzz_biu_peer.h)
BIU_RANDOM = [0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7]


def sealed(plain, chunk=0):
    """Event 1: `plain` (padded to whole blocks) sealed, `chunk` data bytes a report."""
    plain = list(plain) + [0] * (-len(plain) % 16)
    blocks = len(plain) // 16
    size = blocks - 1 if blocks <= 192 else 192 + (blocks - 1) // 90
    return [1, size, chunk] + plain


BIU_HANDSHAKE = sealed([0x10] + [0] * 7 + BIU_RANDOM)
BIU_REFUSED_HANDSHAKE = sealed([0x10, 0x01] + [0] * 6 + BIU_RANDOM)


def unit_answer(command, data, status=0):
    return [command, status] + [0] * 14 + list(data)


def text(s):
    return list(s.encode()) + [0]


# The unit information of the tests: issued, value 7, numbers 10..1F, serial
# F0..E1, users 2 and 4 in use.
def unit_info(issue_status, refusal=(0, 0)):
    d = [0] * 109
    d[0], d[1] = refusal
    d[2], d[3] = issue_status, 7
    d[4:20] = [0x10 + i for i in range(16)]
    d[20:36] = [0xF0 - i for i in range(16)]
    d[37 + 18] = 2
    d[37 + 18 + 4] = 0x55
    d[37 + 54] = 4
    d[37 + 54 + 8] = 0x01
    d[37 + 54 + 17] = 0x98
    return unit_answer(0x11, d)


KEY = text("31112233445566778899101112131415")
HOLDER = "1234567890123456" + "".join(
    "%016d%08d%08d%02d" % (1111111111111111 * (g + 1), 20240101 + g, 20291231 - g, g) for g in range(4))
assert len(HOLDER) == 152
unit = list(b"[wendra] fingerprint unit")
head = counted(unit) + word(65)
write("biu_transactions", "unit_info_issued", head + [0] + KEY + [1, 5] + BIU_HANDSHAKE + sealed(unit_info(1)))
write("biu_transactions", "unit_info_not_issued_small_reports",
      head + [1, 5] + BIU_HANDSHAKE + sealed(unit_info(3), 20))
write("biu_transactions", "unit_info_refused",
      head + [1, 5] + BIU_HANDSHAKE + sealed(unit_info(1, (1, 0))) + [5] + BIU_REFUSED_HANDSHAKE)
write("biu_transactions", "unit_info_silent_then_gone", head + [1, 5, 0, 5] + BIU_HANDSHAKE + [3])
write("biu_transactions", "user_info", head + [1, 6] + BIU_HANDSHAKE
      + sealed(unit_answer(0x12, [0, 0, 3, 1, 0x12, 0x34, 2, 0x56, 0x78, 0, 0, 0, 4, 0x90, 0x12])))
write("biu_transactions", "initiate_and_deletions",
      head + [1, 4] + BIU_HANDSHAKE + sealed(unit_answer(0x20, []))
      + [7] + text("2") + BIU_HANDSHAKE + sealed(unit_answer(0x25, []))
      + [8] + text("4") + BIU_HANDSHAKE + sealed(unit_answer(0x26, []))
      + [8] + text("9"))
write("biu_transactions", "holder_registration",
      head + [0] + KEY + [1, 9] + text(HOLDER) + BIU_HANDSHAKE + sealed(unit_answer(0x30, [])) + [9] + text("123"))
write("biu_transactions", "screens_and_connection",
      head + [10] + text("2") + text("1370") + [11] + text("3") + [1, 3, 10] + text("1") + text("13:5")
      + [11] + text("x") + [2, 3, 2])
raw = [0x00, 1, 0, 0, 0x00, 0x04, 0x01, 56, 0] + [0x6B] * 56
# A raw random-key answer (the user information sends its command all the
# same, and the unit stays silent), then raw answers to the unit information.
write("biu_transactions", "raw_answers", head + [1, 6, 2, 1] + counted(raw) + [0, 5] + BIU_HANDSHAKE + [2, 2]
      + counted(raw[:20]) + counted([0x00, 2, 0, 1, 0, 0, 0x20, 200, 0]))
write("biu_transactions", "not_a_unit", counted(list(b"Wendra-OBU")) + word(64) + [1, 5, 6, 4])
write("biu_transactions", "short_input_reports", counted(unit) + word(30) + [1, 6] + BIU_HANDSHAKE
      + sealed(unit_answer(0x12, [0] * 15)))


# ---- fingerprint screens: setup, user, finger, count, bits, input report length, steps
def scan(user, width, height, one_bit=False, status=0):
    answer = [0x21, status, user] + [0] * 15
    if status:
        return answer[:16]
    answer += [width >> 8, width & 0xFF, height >> 8, height & 0xFF, 0 if one_bit else 1, 0]
    if one_bit:
        answer += [0xAA if y % 2 == 0 else 0x55 for y in range(height) for _ in range(width // 8)]
    else:
        answer += [(x * 7 + y * 3) & 0xFF for y in range(height) for x in range(width)]
    return answer


def registration(user=2, finger=5, count=2, bits=0b1010):
    return [0, user, finger, count] + word(bits) + word(65)


write("biu_screens", "registration_finishes",
      registration() + [0] + BIU_HANDSHAKE + sealed(scan(2, 64, 48, one_bit=True)) + sealed(scan(2, 40, 50)))
write("biu_screens", "registration_first_scan_fails_then_retry",
      registration() + [0] + BIU_HANDSHAKE + sealed(scan(2, 0, 0, status=1)) + [1] + sealed(scan(2, 32, 40))
      + sealed(scan(2, 0, 0, status=4)) + [1, 0])
write("biu_screens", "registration_fails_four_times",
      registration() + [0] + BIU_HANDSHAKE + sealed(scan(2, 0, 0, status=1)) + [1] + sealed(scan(2, 0, 0, status=2))
      + [1] + sealed(scan(2, 0, 0, status=4)) + [1] + sealed(scan(2, 0, 0, status=1)) + [1])
write("biu_screens", "registration_image_in_small_reports",
      registration(count=0, bits=0) + [0] + BIU_HANDSHAKE + sealed(scan(1, 32, 40), 13) + sealed(scan(1, 32, 40), 56)
      + [3, 3])
big = scan(3, 298, 298)
# 5581 blocks: a 298 x 298 image; the input ends after its first pixels (the rest reads as zeros).
write("biu_screens", "registration_large_image", registration(3) + [0] + BIU_HANDSHAKE + [1, 254, 0] + big[:24] + [0x80] * 64)
write("biu_screens", "registration_answer_too_long", registration() + [0] + BIU_HANDSHAKE + [1, 255, 0] + big[:24])
write("biu_screens", "registration_unasked_reports_and_timers",
      registration() + [4] + counted(raw[:1] + [1] + raw[2:]) + [2, 1, 2, 0, 0] + BIU_HANDSHAKE + [0])
write("biu_screens", "verification_match", [1, 2, 0, 0, 0, 0] + word(65) + [0] + BIU_HANDSHAKE
      + sealed(unit_answer(0x23, [])[:2] + [2] + [0] * 13))
write("biu_screens", "verification_all_no_match", [1, 0, 0, 0, 0, 0] + word(65) + [0] + BIU_HANDSHAKE
      + sealed([0x24, 1] + [0] * 14) + [0] + BIU_HANDSHAKE + sealed([0x24, 0, 3] + [0] * 13))


# ---- OBU serial number and S-code: product, input report length, operations
def mfsn_answer(serial, status=0, chunk=0, length=24):
    answer = ([0] * 16 + list(serial) + [0] * 8)[:length]
    return [1, status, chunk] + counted(answer)


SERIAL = [0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0]
obu_head = counted(obu) + word(64)
write("obu_serial", "serial_then_scode", obu_head + [0, 2] + mfsn_answer(SERIAL) + [4] + text(":KeyText-0123456!"))
write("obu_serial", "serial_refused", obu_head + [0, 2] + mfsn_answer(SERIAL, status=0x31) + [1, 2])
write("obu_serial", "serial_in_small_reports", obu_head + [0, 2] + mfsn_answer(SERIAL, chunk=10) + [2, 0, 2, 3])
write("obu_serial", "serial_short_answer", obu_head + [0, 2] + mfsn_answer(SERIAL, length=12) + [2]
      + mfsn_answer(SERIAL, length=20))
write("obu_serial", "scode_texts", obu_head + [3] + text("123456789ABCDEF0_KeyText-0123456!")
      + [3] + text("123456789abcdef0_KeyText-0123456!") + [3] + text("123456789ABCDEF0_short")
      + [3] + text("0011223344556677_") + list(range(1, 17)) + [0])
write("obu_serial", "serial_raw_reports", obu_head + [0, 2, 2, 2] + counted([0x01, 2, 0, 0, 0, 0, 24, 24, 0] + SERIAL)
      + counted([0x01, 1, 0, 0, 0, 0, 24, 40, 0] + SERIAL))
write("obu_serial", "not_an_obu", counted(unit) + word(65) + [0, 2, 4] + text("_KeyText-0123456!"))
