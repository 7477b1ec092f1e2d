#!/usr/bin/env python3
"""Writes the seed corpus of every libFuzzer target into <folder>/fuzz/corpus/<target>/.

Small valid inputs of each kind: CUE sheets (some made by cdrdao's toc2cue),
CCD and TSN descriptors, project files, playlists, MP3 files made by lame,
WAV files made by sox, INI files, drive maps, emulated drive states, QRNTP
packets, daemon requests and answers, and op sequences for the targets that
read their input through FuzzedDataProvider. Run from the source root:
    python3 testing/make_fuzz_seeds.py
(needs sox, lame and toc2cue). The seeds are checked in; CI only reads them.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FIXTURES = "/tmp/sorvel-fuzz-fixtures"  # the folder the workspace and automation targets fill


def corpus(folder, target):
    path = os.path.join(ROOT, folder, "fuzz", "corpus", target)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def write(path, name, data):
    if isinstance(data, str):
        data = data.encode("utf-8")
    with open(os.path.join(path, name), "wb") as out:
        out.write(data)


def crlf(*lines):
    return "".join(line + "\r\n" for line in lines)


# --- FuzzedDataProvider: integers from the end, bytes and strings from the front.
class Provider:
    def __init__(self):
        self.front = bytearray()
        self.back = bytearray()  # in the order the target consumes them

    def in_range(self, low, high, value, bits=32):
        span = high - low
        count = 0
        while count * 8 < bits and (span >> (count * 8)) > 0:
            count += 1
        self.back += (value - low).to_bytes(count, "big") if count else b""
        return self

    def integral(self, value, bits=32, signed=True):
        low = -(1 << (bits - 1)) if signed else 0
        return self.in_range(low, low + (1 << bits) - 1, value, bits)

    def boolean(self, value):
        return self.in_range(0, 255, 1 if value else 0, 8)

    def raw(self, data):
        self.front += data
        return self

    def string(self, text):
        self.front += text.encode("utf-8").replace(b"\\", b"\\\\") + b"\\e"
        return self

    def build(self):
        return bytes(self.front) + bytes(reversed(self.back))


# --- QRNTP packets.
def name_field(name, size):
    data = name.encode("ascii")[:size]
    return data + b"\0" * (size - len(data))


def packet(subsystem, function, kind, call_id, body=b""):
    header = struct.pack("<H", 50 + len(body)) + b"QRNTP." + name_field(subsystem, 10) + name_field(function, 15)
    header += bytes([kind]) + struct.pack("<IIII", call_id, 0x12345678, 0x9ABCDEF0, 0)
    assert len(header) == 50
    return header + body


def exec_request(cdb, data_in=0, data_out=b"", timeout=10):
    return (struct.pack("<iii", data_in, timeout, len(cdb)) + cdb + b"\0" * (32 - len(cdb)) +
            struct.pack("<i", len(data_out)) + data_out)


def exec_reply(result, data=b"", sense=b""):
    return struct.pack("<i", result) + sense + b"\0" * (32 - len(sense)) + struct.pack("<i", len(data)) + data


INQUIRY_DATA = bytes([5, 0x80, 5, 0x32, 31, 0, 0, 0]) + b"SORVEL  EMULATED DRIVE  1.00"
SENSE_NOT_READY = bytes([0x70, 0, 2, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x3A, 0])


# --- Audio made by the real tools.
def tool(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def sox_wave(scratch, name, *options):
    path = os.path.join(scratch, name)
    tool("sox", "-n", *options, path, "synth", "0.01", "sine", "440")
    with open(path, "rb") as f:
        return f.read()


def lame_mp3(scratch, name, rate, channels, *options):
    source = os.path.join(scratch, name + ".wav")
    tool("sox", "-n", "-r", str(rate), "-c", str(channels), "-b", "16", source, "synth", "0.08", "sine", "440")
    target = os.path.join(scratch, name)
    tool("lame", "--quiet", *options, source, target)
    with open(target, "rb") as f:
        return f.read()


def toc2cue(scratch, toc_text):
    toc = os.path.join(scratch, "disc.toc")
    cue = os.path.join(scratch, "disc.cue")
    with open(toc, "w") as f:
        f.write(toc_text)
    tool("toc2cue", toc, cue)
    with open(cue, "rb") as f:
        return f.read().replace(os.path.join(scratch, "").encode(), b"")


# --- Descriptors.
CUE_DATA = crlf('FILE "disc.img" BINARY', "  TRACK 01 MODE1/2352", "    INDEX 01 00:00:00")
CUE_AUDIO = crlf('CATALOG 4988001234567', 'FILE "disc.img" BINARY', "  TRACK 01 AUDIO", "    FLAGS DCP PRE",
                 "    ISRC JPABC1234567", "    INDEX 01 00:00:00", "  TRACK 02 AUDIO", "    INDEX 00 00:00:10",
                 "    INDEX 01 00:00:20", "  TRACK 03 AUDIO", "    PREGAP 00:00:05", "    INDEX 01 00:00:30",
                 "    INDEX 02 00:00:35")
CUE_MIXED = crlf('REM a comment', 'FILE "disc.img" BINARY', "  TRACK 01 MODE1/2352", "    INDEX 01 00:00:00",
                 "  TRACK 02 AUDIO", "    INDEX 00 00:00:18", "    INDEX 01 00:00:20")
CUE_TEXT = crlf('CDTEXTFILE "disc.cdt"', 'TITLE "Album"', 'PERFORMER "Band"', 'FILE "disc.img" BINARY',
                "  TRACK 01 AUDIO", '    TITLE "One"', "    INDEX 01 00:00:00")


def entry_lines(k, point, control, pmin, psec, plba, session=1):
    return [f"[Entry {k}]", f"Session={session}", f"Point={point}", "ADR=0x01", f"Control={control}", "TrackNo=0",
            "AMin=0", "ASec=0", "AFrame=0", "ALBA=-150", "Zero=0", f"PMin={pmin}", f"PSec={psec}", "PFrame=0",
            f"PLBA={plba}", ""]


def ccd(tracks, leadout, mode=0, control="0x00"):
    lines = ["[CloneCD]", "Version=3", "", "[Disc]", f"TocEntries={3 + len(tracks)}", "Sessions=1",
             "DataTracksScrambled=0", "CDTextLength=0", ""]
    lines += entry_lines(0, "0xa0", control, 1, 0, 4350)
    lines += entry_lines(1, "0xa1", control, len(tracks), 0, 4350)
    lines += entry_lines(2, "0xa2", control, leadout // 4500, (leadout // 75) % 60 + 2, leadout)
    for i, start in enumerate(tracks):
        lines += entry_lines(3 + i, f"0x{i + 1:02x}", control, 0, 2, start)
    lines += ["[Session 1]", "PreGapMode=0", "PreGapSubC=0", ""]
    for i, start in enumerate(tracks):
        lines += [f"[TRACK {i + 1}]", f"MODE={mode}", f"INDEX 1={start}", ""]
    return crlf(*lines)


def tsn(tracks, leadout):
    head = ["[Tessarine]", "Version=2", "", "[ReadDrive]", "Vendor=SORVEL", "Product=EMULATED DRIVE",
            "Revision=1.00", "", "[Disc]", "PregapAnalyze=1", "PregapDelta=0", f"TocEntries={3 + len(tracks)}",
            "Sessions=1", "DataTracksScrambled=0", "CDTextLength=18", "CATALOG=4988001234567", "", "[CDText]",
            "Entries=1", "Entry 0=80 00 00 00 41 6C 62 75 6D 00 42 61 6E 64 00 00", ""]
    body = ccd(tracks, leadout).split("\r\n")
    body = body[body.index("[Entry 0]"):]
    return crlf(*head) + "\r\n".join(body)


def raw_sector(lba):
    frames = lba + 150
    bcd = lambda v: ((v // 10) << 4) | (v % 10)
    return (b"\0" + b"\xff" * 10 + b"\0" + bytes([bcd(frames // 4500), bcd(frames // 75 % 60), bcd(frames % 75), 1]) +
            bytes((lba + i) & 0xFF for i in range(2336)))


def emulated_state(*lines):
    return "sorvel-emulated-drive 1\n" + "".join(line + "\n" for line in lines)


def main():
    scratch = tempfile.mkdtemp()
    try:
        make(scratch)
    finally:
        shutil.rmtree(scratch)


def make(scratch):
    # The descriptor readers of the TOC model: kind byte, then the file.
    path = corpus("gui/model", "toc_descriptor_fuzz")
    write(path, "cue_data", b"\0" + CUE_DATA.encode())
    write(path, "cue_audio", b"\0" + CUE_AUDIO.encode())
    write(path, "cue_mixed", b"\0" + CUE_MIXED.encode())
    write(path, "cue_text", b"\0" + CUE_TEXT.encode())
    write(path, "cue_toc2cue", b"\0" + toc2cue(scratch, 'CD_DA\nTRACK AUDIO\nISRC "JPABC1234567"\n'
                                                  'FILE "disc.img" 0 00:00:10\nTRACK AUDIO\nPREGAP 00:00:02\n'
                                                  'FILE "disc.img" 00:00:10 00:00:20\n'))
    write(path, "ccd_audio", b"\1" + ccd([0, 20], 40).encode())
    write(path, "ccd_data", b"\1" + ccd([0], 40, mode=1, control="0x04").encode())
    write(path, "tsn", b"\1" + tsn([0, 10], 40).encode())
    write(path, "pack_text", b"\2" + b"80 00 00 00 41 6C 62 75 6D 00 42 61 6E 64 00 00")

    # The write-image job: kind, flags, sectors, descriptor.
    path = corpus("gui/jobs", "disc_writer_fuzz")
    write(path, "cue_data", bytes([0, 0, 20]) + CUE_DATA.encode())
    write(path, "cue_audio_raw", bytes([0, 4, 40]) + CUE_AUDIO.encode())
    write(path, "ccd_sub_pre", bytes([1, 3, 40]) + ccd([0, 20], 40).encode())
    write(path, "ccd_short", bytes([1, 1 | 8, 40]) + ccd([0, 20], 40).encode())
    write(path, "tsn_raw", bytes([2, 5, 40]) + tsn([0, 10], 40).encode())
    write(path, "iso", bytes([3, 0, 0]) + b"\0" * 2048 * 3 + b"\1CD001\1" + b"\0" * 2041)

    # MP3 files of lame, and files that only look like MP3.
    path = corpus("gui/jobs", "mp3_stream_fuzz")
    write(path, "stereo_44100.mp3", lame_mp3(scratch, "a.mp3", 44100, 2, "-b", "64"))
    write(path, "mono_48000.mp3", lame_mp3(scratch, "b.mp3", 48000, 1, "-b", "32"))
    write(path, "stereo_22050_vbr.mp3", lame_mp3(scratch, "c.mp3", 22050, 2, "-V", "9"))
    write(path, "tagged.mp3", lame_mp3(scratch, "d.mp3", 32000, 2, "-b", "48", "--tt", "Title",
                                       "--ta", "Artist", "--id3v2-only"))
    write(path, "garbage.mp3", b"ID3\3\0\0\0\0\0\0" + b"\xff\xe0" * 200)

    # WAV files of sox.
    path = corpus("mastering_engine", "wave_reader_fuzz")
    write(path, "cd_audio.wav", sox_wave(scratch, "a.wav", "-r", "44100", "-c", "2", "-b", "16"))
    write(path, "mono_8bit.wav", sox_wave(scratch, "b.wav", "-r", "22050", "-c", "1", "-b", "8"))
    write(path, "extensible_24bit.wav", sox_wave(scratch, "c.wav", "-r", "48000", "-c", "2", "-b", "24"))
    write(path, "with_list_chunk.wav", sox_wave(scratch, "d.wav", "--comment", "sorvel", "-r", "44100", "-c", "2",
                                                "-b", "16"))
    write(path, "cut_short.wav", sox_wave(scratch, "e.wav", "-r", "44100", "-c", "2", "-b", "16")[:100])

    # INI documents: the program's settings, a CCD, CP932 and BOM forms.
    settings = crlf("[PATH]", "TEMP=/var/tmp", "LOG=/var/log/sorvel", "", "[WRITING]", "VERIFYCOMPARE=1",
                    "EJECTAFTERMESSAGE=0", "", "[NETWORK]", "REMOTEPORT=8801", "SCANTIMEOUT=200",
                    "REMOTEIP1=127.0.0.1", "", "[DISCCAPACITY]", "Media1=CD-R 80\t359849", "Media2=DVD-R\t2295104")
    path = corpus("gui/foundation", "super_ini_fuzz")
    write(path, "settings.ini", settings)
    write(path, "ccd.ini", ccd([0, 20], 40))
    write(path, "bom_lf.ini", b"\xef\xbb\xbf[MAIN]\nKEY=value\n[OTHER]\nA=1\n")
    write(path, "cp932.ini", "[設定]\r\n名前=値\r\n".encode("cp932"))

    path = corpus("drive_daemon", "ini_profile_fuzz")
    write(path, "kestrow.ini", crlf("[MAIN]", "LISTENINGPORT=8801", "MAXCONNECTION=20", "", "[DRIVES]", "D:=1",
                                    "E:=0", "F:=1"))
    write(path, "odd_values.ini", "\xef\xbb\xbf[MAIN]\rLISTENINGPORT=70000\rMAXCONNECTION=-5\r[DRIVES]\rd:=yes\r")

    path = corpus("platform", "drive_map_fuzz")
    write(path, "variable", b"\0D:=/dev/sr0;E:=emu:/tmp/e.state,medium=cd-r;F:=/dev/sg3")
    write(path, "conf_file", b"\1# drives of this machine\r\nD:=/dev/sr0\r\n\r\ne: = emu:/tmp/x,image=/tmp/a.cue\n")
    write(path, "bad_entries", b"\0DD:=/dev/sr0;G=/dev/sr1;H:=relative;D:=/dev/sr2;D:=/dev/sr3")

    path = corpus("platform", "emulated_state_fuzz")
    write(path, "blank_cd_r", emulated_state("profile 9", "tray 0", "lock 0", "status 0", "formatted 0",
                                             "capacity 359849", "nwa 0", "reserved 0", "pressed 0",
                                             "vendor\tSORVEL", "product\tEMULATED DRIVE", "revision\t1.00"))
    write(path, "written_cd", emulated_state("profile 9", "tray 0", "lock 1", "status 2", "formatted 0",
                                             "capacity 359849", "nwa 0", "reserved 0", "pressed 0",
                                             "vendor\tSORVEL", "product\tEMULATED DRIVE", "revision\t1.00",
                                             "mcn 4988001234567", "session 1 1 2 400 0",
                                             "track 1 1 4 1 -150 0 200 - 0",
                                             "track 2 1 0 0 200 250 400 JPABC1234567 1 300",
                                             "cdtext " + "80000000416c62756d0042616e640000" + "0000",
                                             "extent\t-150\t550\t0\t2448\t2352\t1\t0\t\t"))
    write(path, "pressed_dvd", emulated_state("profile 16", "tray 0", "lock 0", "status 2", "formatted 0",
                                              "capacity 4", "nwa 4", "reserved 0", "pressed 1",
                                              "vendor\tSORVEL", "product\tEMULATED DRIVE", "revision\t1.00",
                                              "extent\t0\t4\t0\t2048\t2048\t0\t0\t/tmp/image.iso\t"))
    # No medium, with the tracks of a disc taken out: the drive answers "medium not present".
    write(path, "no_medium", emulated_state("profile 0", "tray 0", "lock 0", "status 2", "formatted 0",
                                            "capacity 359849", "nwa 0", "reserved 0", "pressed 0",
                                            "vendor\tSORVEL", "product\tEMULATED DRIVE", "revision\t1.00",
                                            "session 1 1 2 400 0", "track 1 1 4 1 -150 0 200 - 0",
                                            "extent\t-150\t550\t0\t2448\t2352\t1\t0\t\t"))

    path = corpus("platform", "emulated_image_fuzz")
    write(path, "cue_two_sessions", b"\0" + crlf('CDTEXTFILE "a.cdt"', 'FILE "a.bin" BINARY', "  TRACK 01 AUDIO",
                                                 "    INDEX 01 00:00:00", "  TRACK 02 AUDIO", "    INDEX 00 00:00:10",
                                                 "    INDEX 01 00:00:15", "REM SESSION 02", "  TRACK 03 MODE1/2352",
                                                 "    INDEX 01 00:00:25").encode())
    write(path, "cue_pregap", b"\0" + CUE_AUDIO.replace("disc.img", "a.bin").encode())
    write(path, "ccd", b"\1" + ccd([0, 20], 40).encode())

    # Packets of the QRNTP reader, the daemon and the remote client.
    open_body = b"\\\\.\\D:" + b"\0" * 254
    inquiry = bytes([0x12, 0, 0, 0, 36, 0])
    requests = (packet("REMOTESCSI", "Open", 1, 7, open_body) +
                packet("REMOTESCSI", "ExecCommand", 1, 7, exec_request(inquiry, data_in=36)) +
                packet("REMOTESCSI", "ExecCommand", 1, 7, exec_request(bytes([0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0]),
                                                                       data_out=b"\x5a" * 64)) +
                packet("SUBSYSTEM.", "KEEPALIVE", 0, 0) +
                packet("REMOTESCSI", "Close", 1, 7))
    path = corpus("native_common", "qrntp_reader_fuzz")
    write(path, "requests", b"\0" + requests)
    write(path, "filtered", b"\1" + requests)
    write(path, "answers", b"\0" + packet("REMOTESCSI", "Open", 2, 7, struct.pack("<i", 1)) +
          packet("REMOTESCSI", "GetHostName", 0, 0))
    for target in ("daemon_session_fuzz", "daemon_dispatch_fuzz"):
        path = corpus("drive_daemon", target)
        write(path, "session", bytes([1]) + requests)
        write(path, "open", bytes([0]) + packet("REMOTESCSI", "Open", 1, 7, open_body))
        write(path, "inquiry", bytes([3 | (2 << 2)]) + packet("REMOTESCSI", "ExecCommand", 1, 7,
                                                               exec_request(inquiry, data_in=36)))
        write(path, "close", bytes([1 | 2 | (1 << 2)]) + packet("REMOTESCSI", "Close", 1, 7))
        write(path, "discovery", bytes([0]) + packet("REMOTESCSI", "GetHostName", 0, 0))

    path = corpus("native_common", "remote_scsi_client_fuzz")
    answers = (packet("REMOTESCSI", "Open", 2, 1, struct.pack("<i", 1)) +
               packet("REMOTESCSI", "ExecCommand", 2, 1, exec_reply(0, INQUIRY_DATA)) +
               packet("REMOTESCSI", "ExecCommand", 2, 1, exec_reply(2, sense=SENSE_NOT_READY)) +
               packet("REMOTESCSI", "ExecCommand", 2, 1, exec_reply(0, b"\0" * 2352)) +
               packet("REMOTESCSI", "ExecCommand", 2, 1, exec_reply(0)) +
               packet("REMOTESCSI", "Close", 2, 1, struct.pack("<i", 1)))
    write(path, "answers", b"\1" + answers)
    write(path, "refused_open", b"\1" + packet("REMOTESCSI", "Open", 2, 1, struct.pack("<i", 0)))
    write(path, "lost_drive", b"\3" + packet("REMOTESCSI", "Open", 2, 1, struct.pack("<i", 1)) +
          packet("REMOTESCSI", "ExecCommand", 2, 1, exec_reply(-1)))
    write(path, "short_reply", b"\3" + packet("REMOTESCSI", "Open", 2, 1, struct.pack("<i", 1)) +
          packet("REMOTESCSI", "ExecCommand", 2, 1, exec_reply(0, b"\1" * 8)[:30]))

    path = corpus("native_common", "param_set_fuzz")

    def entry(name, kind, value):
        return struct.pack("<H", len(name)) + name + bytes([kind]) + struct.pack("<I", len(value)) + value
    write(path, "texts", entry(b"HostName", 1, b"server") + entry(b"Port", 1, b"8801"))
    write(path, "all_types", entry(b"Text", 1, "日本".encode()) + entry(b"Bytes", 3, bytes(range(16))) +
          entry(b"Count", 11, struct.pack("<q", -5)) + entry(b"When", 128, struct.pack("<I", 0x5F000000)))

    # Projects and playlists naming the fixtures of the workspace targets.
    path = corpus("gui/workspace", "project_load_fuzz")
    write(path, "layout.wpj", crlf(
        "[Mastering]", "Label=DISC ONE", "FileSystem=17", "Album=\t\t\t\t\t\tAlbum\tBand\t\t\t\t\t",
        "", "[Data]", f"0\t\\\treadme.txt\t{FIXTURES}/data/readme.txt\t20240101120000\t1",
        "1\t\\\tsub\t\t20240101120000\t2", f"0\t\\sub\\\tx.bin\t{FIXTURES}/data/sub/x.bin\t20240101120000\t1",
        f"0\t\\\tgone.txt\t{FIXTURES}/gone.txt\t20240101120000\t1",
        "", "[Audio]", f"150\t0\t0\t{FIXTURES}/a.wav\tOne\tBand\t\t\t\t\t\t\t\t\t\t",
        f"4650\t75\t2\t{FIXTURES}/b.wav", f"150\t0\t1\t{FIXTURES}/c.mp3", f"150\t0\t0\t{FIXTURES}/pipe.wav"))
    write(path, "audio_only.wpj", crlf("[Mastering]", "FileSystem=0", "[Audio]",
                                      *[f"150\t0\t0\t{FIXTURES}/a.wav"] * 3, f"0\t0\t0\t{FIXTURES}/short.wav"))
    write(path, "cp932.wpj", "[Mastering]\r\nLabel=ディスク\r\n[Data]\r\n1\t\\\t日本\t\t20240101120000\t2\r\n"
                              .encode("cp932"))
    with open(os.path.join(ROOT, "gui/workspace/testdata/project_golden.wpj"), "rb") as f:
        golden = f.read().replace(b"@HOST@", FIXTURES.encode())
    write(path, "golden.wpj", golden)
    write(path, "label_tabs.wpj", crlf("[Mastering]", "Label=nd\t\t \t", "FileSystem=17", "[Audio]",
                                      f"150\t0\t0\t{FIXTURES}/a.wav"))
    write(path, "label_cut.wpj", crlf("[Mastering]", "Label=" + "L" * 31 + "\tTAIL", "FileSystem=2"))

    path = corpus("gui/workspace", "project_line_fuzz")
    for i, line in enumerate(golden.split(b"\r\n")):
        if line:
            write(path, f"line{i:02d}", line)

    path = corpus("gui/workspace", "playlist_fuzz")
    write(path, "flat.m3u", crlf(f"{FIXTURES}/a.wav", f"{FIXTURES}/b.wav", f"{FIXTURES}/c.mp3"))
    write(path, "nested.m3u", f"#EXTM3U\n{FIXTURES}/n.m3u\n{FIXTURES}/loop.m3u\n\n{FIXTURES}/a.wav\n")
    write(path, "special.m3u", crlf(f"{FIXTURES}/pipe.wav", f"{FIXTURES}/short.wav", f"{FIXTURES}/data",
                                    "/dev/zero", "relative.wav"))
    write(path, "nul.m3u", crlf(f"{FIXTURES}/a.wav\0x.wav", f"{FIXTURES}/c.mp3\0.mp3", f"{FIXTURES}/b.wav"))

    # Op sequences of the targets driven by FuzzedDataProvider.
    path = corpus("gui/jobs", "mastering_members_fuzz")
    p = Provider()
    p.in_range(0, 15, 0)                                              # a blank CD-R in D:
    p.in_range(0, 14, 0).string("DISC")                               # SetVolumeLabel
    p.in_range(0, 14, 2).in_range(0, 3, 0).in_range(-2, 110, 17)      # InitISOFS(17)
    p.in_range(0, 14, 5).boolean(True).in_range(0, 11, 5, 64).string("\\DATA")  # AddFile(data, \DATA)
    p.in_range(0, 14, 7).boolean(True).in_range(0, 11, 0, 64)         # AddTrack(a.wav, 150, 0, 0)
    p.in_range(0, 3, 0).in_range(-2, 110, 110).in_range(0, 3, 0).in_range(-2, 110, 0)
    p.in_range(0, 3, 0).in_range(-2, 110, 0)
    p.in_range(0, 14, 9)                                              # GetTrackCount
    p.in_range(0, 14, 13).boolean(True).in_range(0, 6, 0, 64)         # IsReady("D")
    p.in_range(0, 14, 11).boolean(True).in_range(0, 6, 0, 64).boolean(False)  # StartBurn("D", false)
    write(path, "layout_and_burn", p.build())
    p = Provider()
    p.in_range(0, 15, 2)                                              # a pressed DVD in D:
    p.in_range(0, 14, 8).in_range(0, 3, 2)                            # RemoveTrack(INT_MAX)
    p.in_range(0, 14, 2).in_range(0, 3, 2)                            # InitISOFS(INT_MAX)
    p.in_range(0, 14, 10).in_range(0, 3, 1).string("Title").boolean(False).string("Q:")  # ShowBurnDialog
    write(path, "extreme_integers", p.build())
    p = Provider()
    p.in_range(0, 15, 1)                                              # no disc in D:
    p.in_range(0, 14, 5).boolean(True).in_range(0, 11, 11, 64).string("\\")  # AddFile(*, \\)
    p.in_range(0, 14, 11).boolean(True).in_range(0, 6, 1, 64).boolean(True)  # StartBurn("d:", true)
    p.in_range(0, 14, 14).boolean(False).string("\uff24")         # IsDiscWritable("Ｄ")
    write(path, "no_disc", p.build())

    path = corpus("gui/model", "trelin_binding_fuzz")
    p = Provider()
    p.in_range(0, 33, 0).boolean(True).in_range(3, 5, 4)              # OpenDevice(4): the pressed CD
    p.in_range(0, 33, 16)                                             # IsReady, media type
    p.in_range(0, 33, 9).in_range(0, 3, 0).in_range(-200, 3000, 0).in_range(0, 3, 0).in_range(-200, 3000, 0)
    p.in_range(0, 33, 10).boolean(True).raw(bytes(64)).in_range(0, 3, 0).in_range(-200, 3000, 20)
    p.in_range(0, 3, 0).in_range(-200, 3000, 21)                      # ReadLBA, ReadLBADummy
    p.in_range(0, 33, 11)                                             # ReadEnd
    p.in_range(0, 33, 5)                                              # GetTOCStructure
    write(path, "read_pressed", p.build())
    p = Provider()
    p.in_range(0, 33, 0).boolean(True).in_range(3, 5, 3)              # OpenDevice(3): the CD-RW
    p.in_range(0, 33, 18).boolean(True)                               # EraseMedia
    p.in_range(0, 33, 28)
    p.in_range(0, 33, 24)
    p.in_range(0, 33, 30).in_range(0, 3, 0).in_range(-200, 3000, 1).boolean(True).raw(bytes(64)).in_range(0, 3, 0)
    p.in_range(-200, 3000, 2448)                                      # GetTOCStructureRaw
    write(path, "rewritable", p.build())

    # The engine's reading of drive answers: every command answered good
    # with data, and the sequence of operations after the drive opened.
    path = corpus("device_engine", "drive_answer_fuzz")
    for op in (0, 5, 8, 9, 18, 19):
        p = Provider()
        for _ in range(12):
            p.in_range(0, 255, 0, 8)                                  # good status
            p.in_range(0, 100, 36, 64).raw(INQUIRY_DATA)
        p.in_range(0, 22, op)
        write(path, f"op{op:02d}", p.build())
    # Found by the fuzzer: a CD write pass whose drive says DVD-R when asked
    # again, the caller sizing its sector buffer by that answer.
    write(path, "family_changed_in_pass", bytes.fromhex(
        "058005b21f0000001300000000000000454d554c415445442044524956452020312e3030321f0505ca80000000010000"
        "000000000a534f525645000000534f5256454c2020454d554c4100240024002400240024002400240024ffffffbfffff"
        "ff4c00534b5256454c204154415c454e31305f5f63787861626976ffffffffffff4fbfffffff4c00534f5256454c2041"
        "54415c454c31305f5f63787861626976ffffffffffffffff00000000000000000000000000000000004b00f600000000"
        "0000000000004d234d4d4d4d0000000000000000004d4d4d4d4d4d4d4db54d4d4d4d4d2f4d4d4d4dffffffffff4fbfff"
        "ffff4c00534f5256454c204154415c454c31305f5f63787861626976ffffffffffffffff000000000000000000000000"
        "00000000004b00f6000000000000000000004d234d4d4d4d0000000000000000004d4d4d4d4d4d4d4db54d4d4d4d4d2f"
        "4d4d4d4dffffffffff00000000000000000000000000000000004b00f6000000000000000000004d234d4d4d534b5256"
        "454c204154415c454d0000000000000000004d4d4d4d4dffff00000000000000000000000000000000004b00f6000000"
        "000000000000004d234d4d4d534b5256454c204154415c454d0000000000000000004d4d4d4d4d4d4d4db54d4d4d4d4d"
        "4d4d4d4d4d4d00000000000000000000000000052c322c2c0485002c2c2cdbc619df41f72b"))


if __name__ == "__main__":
    sys.exit(main())
