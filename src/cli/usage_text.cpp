#include "cli/usage_text.h"

namespace pellicar {

namespace {

struct CommandHelp {
  const char *name;
  const char *text;
};

// Each text is complete: synopsis, what it sends, the defaults.
const CommandHelp kCommandHelp[] = {
    {"base", R"(Usage: pellicar-cli [CHANNEL] base [OPTIONS]

Sends the printer's base parameters, as "SET" on the Base tab does: three
sequences, "Base Parameter", "PNPA" and "BAP". Every option left out takes
the window's default (shown in brackets).

  --baud 4800|9600|19200|38400|57600|115200|1200
                        speed of the printer's own serial interface [19200]
  --parity none|odd|even  parity of the printer's serial interface [none]
  --font a|b|c          character font [a]
  --density normal|dark
                        print density [normal]
  --chars 48|40         characters per line [48]
  --codepage NAME|ROW   code page, by its name (any letter case) or its row
                        number; see 'pellicar-cli list codepages' [CHINESE]
  --buzzer on|off       use the buzzer [on]
  --drawer on|off       use the cash drawer [on]
  --cutter on|off       use the cutter [on]
  --reprint on|off      reprint the last receipt automatically [off]
  --buzz-after-print on|off
                        buzz after printing [off]
)"},
    {"selftest", R"(Usage: pellicar-cli [CHANNEL] selftest

Makes the printer print its self-test page ("SelfTest": 12 54).
)"},
    {"ip", R"(Usage: pellicar-cli [CHANNEL] ip A.B.C.D

Sets the printer's IP address ("Set IP"). Each of the four fields is read
as the window's address fields are: a decimal number, or hexadecimal after
"$", "x" or "0x"; only its low 8 bits are sent.
)"},
    {"mac", R"(Usage: pellicar-cli [CHANNEL] mac M1.M2.M3.M4.M5

Sets the printer's MAC address ("Set MAC"): the first byte is always 00,
the five fields give the other five. The fields are decimal numbers (or
hexadecimal after "$", "x" or "0x"), as in the window: 100.101.102.103.104
is the address 00 64 65 66 67 68.
)"},
    {"speed", R"(Usage: pellicar-cli [CHANNEL] speed auto|100-full|100-half|10-full|10-half

Sets the link speed and duplex of the printer's network port ("Set Speed").
)"},
    {"wifi", R"(Usage: pellicar-cli [CHANNEL] wifi --ssid SSID [SECURITY] [--cipher tkip|aes]

Sets the wireless network the printer joins ("Set WIFI"). SECURITY is one of

  --open                no key [the default]
  --wpa KEY             WPA-PSK with KEY
  --wpa2 KEY            WPA2-PSK with KEY
  --wep-open KEY        WEP, open authentication, with KEY
  --wep-share KEY       WEP, shared authentication, with KEY

  --cipher tkip|aes     the cipher of WPA-PSK and WPA2-PSK [aes]

The SSID and the key are sent as their UTF-8 bytes, at most 255 bytes each.
)"},
    {"blackmark", R"(Usage: pellicar-cli [CHANNEL] blackmark enable|disable|next-mark|next-cut
       pellicar-cli [CHANNEL] blackmark pitch|width|print-offset|cut-offset MM

Black-mark paper, as the buttons of the BlackMark tab:

  enable                black-mark mode on ("Enable BM")
  disable               black-mark mode off ("Disable BM")
  next-mark             print the test line and feed to the next mark
                        ("Set Next BM")
  next-cut              cut the paper ("Set Next Cut")
  pitch MM              distance between two marks ("Set BM Length")
  width MM              width of a mark ("Set BM Width")
  print-offset MM       where printing starts behind the mark
                        ("Set BM Postion")
  cut-offset MM         where the paper is cut behind the mark ("Set BM Cut")

MM is a whole number of millimetres, read as the window's fields are; it is
sent as 8 dots per millimetre.
)"},
    {"logo", R"(Usage: pellicar-cli [CHANNEL] logo FILE.bmp...

Stores the logos in the printer's memory with one command ("LOGO TO
NVRAM", FS q): up to 255 Windows bitmap files, each at most 576 pixels
wide, together at most 65539 bytes of logo data. Every pixel that is not
pure white prints. Not over --serial.
Over --tcp, --timeout ends the transfer only when the printer has taken no
data for that long; a slow printer that keeps reading is waited for.
)"},
    {"firmware", R"(Usage: pellicar-cli [CHANNEL] firmware FILE.bin [--wait-ready [SECONDS]]

Checks the firmware file and, when it passes, uploads it ("update"). Make
sure the printer stays connected until it has restarted. Not over --serial.
Over --tcp, --timeout ends the upload only when the printer has taken no
data for that long; a slow printer that keeps reading is waited for, and
the progress shown is what the printer acknowledged.

  --wait-ready [SECONDS]
                        after the upload, wait until the printer answers
                        that it is ready again, as 'wait-ready --within
                        SECONDS' does [120]; over --tcp or --device

A "ready" counts once the printer has been seen going down for its restart
(no answer, or "not ready"); one that answers ready throughout counts after
10 s (at most half of SECONDS), and the tool then says it saw no restart.
)"},
    {"check-firmware", R"(Usage: pellicar-cli check-firmware FILE.bin

Checks a firmware file without sending it: at least 256 bytes, the length
field at offset 4 (4 bytes, least significant first) equal to the file's
length, and the 32-bit words (least significant byte first, from offset 0;
1 to 3 bytes at the end count in no word) summing to zero modulo 2^32.
Exit status 0 when it passes, 2 when it does not. For a file to try with,
'pellicar-printer --write-sample-firmware FILE' writes one that passes.
)"},
    {"status", R"(Usage: pellicar-cli [CHANNEL] status [--json]

Asks the printer for its status with the four standard real-time requests
(DLE EOT 1, 2, 3 and 4: 10 04 n) and prints one line each:

  online: yes|no
  cover: open|closed
  paper: ok|near end|out
  feed button: pressed|released    (paper being fed by the feed button)
  error: none|cutter|unrecoverable|auto-recoverable
  drawer: open|closed              (pin 3 of the drawer connector: high is
                                    open, low is closed)

  --json                one JSON object with the same keys and values

Over --tcp, --serial or --device; a print queue and --output cannot carry
the answers back. Without a CHANNEL the four requests are printed. The
whole exchange, all four answers, takes at most --timeout seconds. Bytes
the printer sends
unasked (automatic status, XON/XOFF) are read past; an answer whose fixed
bits are wrong is not trusted.

Exit status: 0 the printer is ready to print (online, cover closed, paper
not out, no error), 3 it answered but is not ready, 1 no trusted answer
(none within --timeout, wrong fixed bits, or the channel failed).
)"},
    {"apply", R"(Usage: pellicar-cli [CHANNEL] apply PROFILE [--only SECTION,...]
       pellicar-cli apply PROFILE --targets FILE [--parallel N]
                    [--verify-address [SECONDS]] [--only SECTION,...] [--dry-run]
                    [--json]

Sends a profile (a printer's set-up as a JSON file, see docs/profile.md)
section by section in this order: base, blackMark, wifi, logos, speed,
mac, ip (the address last, since the printer may take it at once). Each
section sends exactly what its single command sends for the same values.
The whole profile is checked first; a value the window would refuse stops
it, naming its JSON path, and nothing is sent.

Without a channel it prints every sequence as the single commands' dry
runs do. With a channel it sends them all over one connection (one job
per sequence on a print queue) and prints one line per section with its
outcome: sent, failed, or not confirmed.

  --only SECTION,...    send only these sections (ethernet stands for
                        speed, mac and ip)

With --targets it sets up many printers: FILE is a CSV with a header row
and one printer per row. Its column 'target' names the channel:
tcp:HOST[:PORT], serial:PATH, device:PATH or queue:NAME. Columns named by
a profile path (ethernet.ip, ethernet.mac, wifi.ssid, ...) give that
printer its own value; an empty cell keeps the profile's. Other columns
(a discovery inventory's status, notes) are ignored. Every printer's
profile is checked first, and so is that no two printers are given one
IP or MAC address; a fault stops everything before anything is sent.
For each printer: the status is asked (no answer: nothing is sent), the
sections go over one connection, the status is asked again. Printers run
in parallel, each in a process of its own; one printer's failure never
stops another. Ctrl-C starts no new printer, lets the running ones end
what they are sending, and reports; a second Ctrl-C stops at once.

  --targets FILE        the printers, as above
  --parallel N          printers set up at once, 1 to 64 [8]
  --verify-address [SECONDS]
                        after an IP change over TCP, wait until the printer
                        answers at its new address (it may restart first)
                        [60]; without it, its status after is not asked
  --dry-run             check everything and say what each printer would
                        get; send nothing (not even a status question)
  --json                the report as one JSON object

The report: a table of printer, outcome, sections sent, bytes (confirmed
by the channel), seconds and status after, the reasons for the failures,
the counts. Exit status 0 when every printer succeeded, otherwise 1
("N of M printers failed" on standard error); 2 for a bad file or profile.
)"},
    {"profile", R"(Usage: pellicar-cli profile check PROFILE

Reads and checks a profile as 'apply' does, and says which sections it
would send. Sends nothing. Exit status 0 when it is good, 2 when not (the
message names the JSON path and the reason).
)"},
    {"wait-ready", R"(Usage: pellicar-cli [CHANNEL] wait-ready [--within SECONDS]

Asks the printer for its status, as 'status' does, until it answers that
it is ready, and prints how long that took ("ready after 4.5 s"). A
printer that restarts drops the connection: each question goes over a
new connection (or opens the port or device anew), so the wait goes on
through the restart. Asks twice a second; each status exchange is
bounded by --timeout, and all of them together by --within.

  --within SECONDS      give up after this long, and not before [120]

Over --tcp, --serial or --device. Exit status: 0 ready, 1 not ready within
SECONDS (the message says what the printer last answered or what failed).
)"},
    {"discover", R"(Usage: pellicar-cli discover [RANGE...] [--port PORT] [--json]
                            [--inventory FILE]

Lists what this machine reaches: the print queues with their device URIs
and states, the serial ports with their /dev/serial/by-id names, and the
USB printer device files (/dev/usb/lp*), each asked for its status.

With RANGEs (192.168.1.0/24, 10.0.0.10-10.0.0.60 or one address; at most
4096 addresses together) it also scans the network: an address whose PORT
accepts a connection and answers DLE EOT 1 with an answer's fixed bits is
a printer, and is asked for its full status; one that accepts but does not
answer is listed as "open port, no printer answer". Only the ranges given
are scanned. Bounds: 256 connections at once, 1 s for a connection, 0.5 s
for each answer, 30 s for the whole scan.

  --port PORT           the printers' port [9100]
  --json                one JSON object; its "network" list holds each
                        address that accepted a connection, with "address",
                        "port", "printer" and "status" (as 'status --json'
                        gives it, or null)
  --inventory FILE      also write the printers found as a CSV with the
                        header "target" ("tcp:192.168.1.20:9100",
                        "device:/dev/usb/lp0"), the targets file of 'apply'

Takes no CHANNEL. Exit status: 0 done, 1 the scan's limit ran out first or
the inventory could not be written, 2 bad usage.
)"},
    {"list", R"(Usage: pellicar-cli list printers|ports|codepages

  printers              the print queues of this machine's print server
  ports                 the serial ports of this machine
  codepages             row, name and the number sent, one code page a line
)"},
};

} // namespace

QString ToolUsage() {
  return QStringLiteral(R"(Usage: pellicar-cli [--timeout SECONDS] [CHANNEL] COMMAND [ARGUMENTS]

Sends one setting to a receipt printer, exactly as the window's button does,
or asks the printer whether it is ready.
Without a CHANNEL the bytes are printed instead, one command sequence a
line: its name, a tab, and its bytes in hexadecimal.

CHANNEL, at most one:
  --tcp HOST[:PORT]     a TCP connection to the printer (port 9100 when none
                        is given)
  --serial DEVICE [--baud RATE] [--parity none|odd|even]
                        a serial port; RATE is 1200, 4800, 9600, 19200,
                        38400, 57600 or 115200 [19200], parity [none]
  --queue NAME          a raw job on a print queue
  --output FILE         append the raw bytes to FILE ("-": standard output)
  --device PATH         a printer's device file that reads and writes, such
                        as /dev/usb/lp0: written without seeking, drained
                        before the tool ends, answers read back from it

COMMAND:
  base [OPTIONS]        base parameters (serial interface, font, code page...)
  selftest              print the self-test page
  ip A.B.C.D            the printer's IP address
  mac M1.M2.M3.M4.M5    the printer's MAC address (after the fixed 0)
  speed auto|100-full|100-half|10-full|10-half
                        the link speed of the printer's network port
  wifi --ssid SSID [SECURITY] [--cipher tkip|aes]
                        the wireless network the printer joins; SECURITY is
                        one of --open, --wpa KEY, --wpa2 KEY, --wep-open KEY
                        and --wep-share KEY
  blackmark enable|disable|next-mark|next-cut
                        black-mark mode on or off, feed to the next mark, cut
  blackmark pitch|width|print-offset|cut-offset MM
                        the distances of black-mark paper, in millimetres
  logo FILE.bmp...      store logos in the printer
  firmware FILE.bin [--wait-ready [SECONDS]]
                        check, then upload a firmware file (and wait until
                        the printer is back)
  check-firmware FILE.bin
                        check a firmware file only
  list printers|ports|codepages
                        the print queues, the serial ports or the code pages
  discover [RANGE...] [--json] [--inventory FILE]
                        the printers this machine reaches, and those
                        answering in the network RANGEs
  status [--json]       ask the printer whether it is ready, and why not
  wait-ready [--within SECONDS]
                        wait until the printer answers that it is ready
  apply PROFILE [--only SECTION,...]
                        send a profile: a printer's whole set-up in a file
  apply PROFILE --targets FILE
                        set up many printers with one profile
  profile check PROFILE
                        check a profile only

Other options:
  --timeout SECONDS     the longest wait for the printer, the print server
                        or the port [10]. Over --tcp a transfer ends
                        only after the printer has taken no data for
                        this long, however long it takes in all
  --help                this help; 'pellicar-cli COMMAND --help' for a command
  --version             the version of the tool

Exit status: 0 sent (or printed; for status and wait-ready: ready),
1 sending failed or no trusted answer, 2 bad usage or input, 3 (status)
the printer answered that it is not ready.
)");
}

QString ToolVersion() { return QStringLiteral("pellicar-cli " PELLICAR_VERSION "\n"); }

QString CommandUsage(const QString &command) {
  for (const CommandHelp &help : kCommandHelp)
    if (command == QLatin1String(help.name))
      return QString::fromUtf8(help.text);
  return {};
}

QString UsageHint(const QString &command) {
  if (CommandUsage(command).isEmpty())
    return QStringLiteral("Try 'pellicar-cli --help'.");
  return QStringLiteral("Try 'pellicar-cli %1 --help'.").arg(command);
}

} // namespace pellicar
