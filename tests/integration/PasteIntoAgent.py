"""Runs an agent CLI's interactive interface in a pseudo-terminal, answers the
terminal queries it sends, and pastes a text as a terminal paste does:
  python3 PasteIntoAgent.py SETTLE_SECONDS FIRST_KEYS TEXT_FILE SUBMIT -- COMMAND...
After SETTLE_SECONDS it types FIRST_KEYS (escapes such as \\r allowed; "" for
none), pastes TEXT_FILE between bracketed-paste marks, with SUBMIT "yes" also
presses Enter, and prints what the screen showed after the paste, its
control sequences taken out."""
import fcntl, os, pty, re, select, struct, sys, termios, time

settle, first_keys, text_file, submit = float(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
command = sys.argv[6:]
pid, fd = pty.fork()
if pid == 0:
    os.execvp(command[0], command)
fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", 40, 120, 0, 0))
shown = b""
answers = {b"\x1b[6n": b"\x1b[1;1R", b"\x1b[c": b"\x1b[?62;22c", b"\x1b[?u": b"\x1b[?0u",
           b"\x1b]10;?": b"\x1b]10;rgb:ffff/ffff/ffff\x1b\\", b"\x1b]11;?": b"\x1b]11;rgb:0000/0000/0000\x1b\\"}


def run_for(seconds):
    global shown
    end = time.time() + seconds
    while time.time() < end:
        if fd not in select.select([fd], [], [], 0.1)[0]:
            continue
        try:
            data = os.read(fd, 65536)
        except OSError:
            return
        if not data:
            return
        shown += data
        for query, answer in answers.items():
            if query in data:
                os.write(fd, answer)


run_for(settle)
if first_keys:
    os.write(fd, first_keys.encode().decode("unicode_escape").encode())
    run_for(4)
before = len(shown)
os.write(fd, b"\x1b[200~" + open(text_file, "rb").read() + b"\x1b[201~")
run_for(3)
if submit == "yes":
    os.write(fd, b"\r")
    run_for(6)
text = shown[before:].decode("utf-8", "replace")
text = re.sub(r"\x1b\][^\x07\x1b]*(\x07|\x1b\\)", "", text)
text = re.sub(r"\x1b\[[0-9;?<>=]*[ -/]*[@-~]", " ", text)
print(re.sub(r"[ \t]+", " ", re.sub(r"\x1b.", "", text)))
os.kill(pid, 9)
