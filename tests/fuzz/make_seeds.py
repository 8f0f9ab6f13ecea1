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
