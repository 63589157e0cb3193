"""The controller simulator's pure parts, which the system tests rely on to
say what the line carries."""
import os
import random
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools"))
import quorin_sim as sim  # noqa: E402


def well_formed(record):
    """The daemon's acceptance rule for one record."""
    return (len(record) == 11 and record[:1] == b"\x1b" and record[10:] == b"t"
            and all(c in b"0123456789ABCDEF" for c in record[2:8]))


def test_records_have_the_controller_layout():
    assert sim.encode_record(419, 4095, True) == b"\x1b!1A3FFF0!t"
    assert sim.encode_record(1, 0, False) == b"\x1b!0010001!t"
    preamble = sim.SYNC_PREAMBLE
    assert len(preamble) == 17 and preamble.count(b"\x1b") == 1
    for cut in range(len(preamble)):  # no split of it looks like a whole record
        assert len(preamble[preamble.index(b"\x1b"):cut]) < 11
    for bad in ((-1, 0), (0, 4096)):
        with pytest.raises(ValueError):
            sim.encode_record(*bad, True)


def test_gestures_start_and_end_where_asked():
    assert sim.tap(7, 9) == [(7, 9, True), (7, 9, False)]
    samples = sim.drag(4095, 0, 0, 4095, steps=4)
    assert samples == [(4095, 0, True), (2730, 1365, True), (1365, 2730, True),
                       (0, 4095, True), (0, 4095, False)]
    assert sim.random_touches(5, seed=3) == sim.random_touches(5, seed=3)
    assert all(well_formed(r) for r in sim.encode_samples(sim.random_touches(50, seed=1)))


def test_noise_breaks_exactly_the_records_it_reports():
    records = sim.encode_samples(sim.random_touches(100, seed=2))
    for seed in range(20):
        noisy = sim.add_noise(records, 0.25, random.Random(seed), stray=0)
        assert sum(not intact for _, intact in noisy) == 50
        for (data, intact), record in zip(noisy, records):
            assert data == record if intact else not well_formed(data)
        # Stray bytes never open a record nor look like a parity error.
        for (data, intact), record in zip(sim.add_noise(records, 0, random.Random(seed), 1),
                                          records):
            assert intact and data.endswith(record) and len(data) > len(record)
            assert b"\x1b" not in data[:-len(record)] and b"\x00" not in data


@pytest.mark.parametrize("percent, command", [
    (0, b"\x1b@00i"), (3, b"\x1b@00i"), (4, b"\x1b@01i"), (10, b"\x1b@03i"), (33, b"\x1b@0Ai"),
    (51, b"\x1b@0Fi"), (52, b"\x1b@10i"), (99, b"\x1b@1Ei"), (100, b"\x1b@1Fi")])
def test_brightness_commands_follow_the_table(percent, command):
    assert sim.brightness_command(sim.brightness_level(percent)) == command


def test_commands_are_described():
    assert sim.describe_command(b"\x1b@s\x00\x00") == "start-up"
    assert sim.describe_command(b"\x1b@0Fi") == "brightness level 15 (0F)"
    assert sim.describe_command(b"\x1b@1Fi") == "brightness level 31 (1F)"
    for odd in (b"\x1b@2Fi", b"\x1b@0fi", b"\x1b@0Fj", b"\x1b@s\x00\x01"):
        assert sim.describe_command(odd).startswith("unknown command 1b 40")
    assert sim.describe_command(b"ab") == "stray bytes 61 62"


def test_commands_are_cut_out_however_the_reads_split_them():
    stream = b"\x1b@s\x00\x00" + b"xy" + b"\x1b@0Fi" + b"\x1b@1Fi"
    expected = [b"\x1b@s\x00\x00", b"xy", b"\x1b@0Fi", b"\x1b@1Fi"]
    for cut in range(len(stream) + 1):
        for second in range(cut, len(stream) + 1):
            reader = sim.CommandReader()
            pieces = sum((reader.feed(stream[a:b]) for a, b in
                          ((0, cut), (cut, second), (second, len(stream)))), [])
            joined = [p for p in pieces if p[:1] == b"\x1b"]
            strays = b"".join(p for p in pieces if p[:1] != b"\x1b")
            assert joined == [e for e in expected if e[:1] == b"\x1b"] and strays == b"xy"


def test_record_files():
    steps = sim.parse_record_file("# a tap\ndown 0x1A3 4095\n\npause 0.5\npause 0.25\nup 419 4095  # lift\n")
    assert steps == [(b"\x1b!1A3FFF0!t", 0.0), (b"\x1b!1A3FFF1!t", 0.75)]
    for bad, where in (("down 1\n", "line 1"), ("up 1 2\nhover 1 2\n", "line 2"),
                       ("down 4096 0\n", "line 1")):
        with pytest.raises(ValueError, match=where):
            sim.parse_record_file(bad)
