#!/usr/bin/env bash
# A private print server for the print tests: a cupsd of our own (not the system's) listening on
# a socket in DIR, with one cups-pdf queue as its default printer.
#   tools/print-queue.sh start DIR   starts it; clients use CUPS_SERVER=DIR/cups.sock and the
#                                    printed PDFs land in DIR/pdf
#   tools/print-queue.sh stop DIR    stops it and removes the queue's cups-pdf settings
# Without cupsd or cups-pdf (tools/setup.sh installs both), or when the queue cannot be set up,
# start writes the reason to DIR/skip and exits 0: the tests then skip with that reason.
set -uo pipefail
cmd="${1:-}"
dir="${2:-}"
if [ -z "$cmd" ] || [ -z "$dir" ]; then
  echo "usage: print-queue.sh start|stop DIR" >&2
  exit 2
fi
mkdir -p "$dir"
dir="$(cd "$dir" && pwd)"
# cups-pdf reads a queue's settings from /etc/cups/cups-pdf-NAME.conf, NAME taken from the device
# URI; the name is made from DIR so that two build folders do not share one.
name="vantrec$(printf '%s' "$dir" | cksum | cut -d' ' -f1)"
pdfconf="/etc/cups/cups-pdf-$name.conf"
cupsd_bin="$(command -v cupsd || echo /usr/sbin/cupsd)"
lpadmin_bin="$(command -v lpadmin || echo /usr/sbin/lpadmin)"

stop() {
  if [ -f "$dir/cupsd.pid" ]; then
    pid="$(cat "$dir/cupsd.pid")"
    if kill -0 "$pid" 2>/dev/null; then
      kill "$pid" 2>/dev/null
      for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
      kill -9 "$pid" 2>/dev/null
    fi
    rm -f "$dir/cupsd.pid"
  fi
  rm -f "$pdfconf" "$dir/cups.sock"
}

skip() {
  echo "$1" > "$dir/skip"
  echo "print-queue: $1"
  stop
  exit 0
}

case "$cmd" in
  stop)
    stop
    exit 0
    ;;
  start) ;;
  *)
    echo "usage: print-queue.sh start|stop DIR" >&2
    exit 2
    ;;
esac

stop
rm -rf "$dir/etc" "$dir/spool" "$dir/cache" "$dir/state" "$dir/log" "$dir/tmp" "$dir/pdf" "$dir/skip"
[ -x "$cupsd_bin" ] || skip "cupsd is not installed (tools/setup.sh installs cups)"
[ -e /usr/lib/cups/backend/cups-pdf ] || skip "cups-pdf is not installed (tools/setup.sh installs printer-driver-cups-pdf)"
ppd=/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd
[ -f "$ppd" ] || ppd=/usr/share/ppd/cups-pdf/CUPS-PDF_noopt.ppd
[ -f "$ppd" ] || skip "the cups-pdf PPD is missing"
[ "$(id -u)" -eq 0 ] || skip "the cups-pdf backend and its settings need root"

mkdir -p "$dir/etc/ppd" "$dir/spool" "$dir/cache" "$dir/state" "$dir/log" "$dir/tmp" "$dir/pdf"
# The filters run as lp; they need the spool and temp folders, cups-pdf (root) writes the PDFs.
chmod 0755 "$dir" "$dir/etc"
chmod 0777 "$dir/tmp"
chmod 0710 "$dir/spool"
chgrp lp "$dir/spool" 2>/dev/null || true

cat > "$dir/etc/cups-files.conf" <<CONF
ServerRoot $dir/etc
RequestRoot $dir/spool
TempDir $dir/tmp
CacheDir $dir/cache
StateDir $dir/state
AccessLog $dir/log/access_log
ErrorLog $dir/log/error_log
PageLog $dir/log/page_log
ServerBin /usr/lib/cups
DataDir /usr/share/cups
SystemGroup root
CONF
cat > "$dir/etc/cupsd.conf" <<CONF
Listen $dir/cups.sock
Browsing No
WebInterface No
DefaultAuthType None
LogLevel warn
MaxJobs 50
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
    Allow all
  </Limit>
</Policy>
CONF
cat > "$pdfconf" <<CONF
Out $dir/pdf
AnonDirName $dir/pdf
Spool $dir/tmp/cups-pdf
UserUMask 0022
Grp root
CONF

"$cupsd_bin" -f -c "$dir/etc/cupsd.conf" -s "$dir/etc/cups-files.conf" > "$dir/log/cupsd.out" 2>&1 &
echo $! > "$dir/cupsd.pid"
for _ in $(seq 100); do
  [ -S "$dir/cups.sock" ] && break
  kill -0 "$(cat "$dir/cupsd.pid")" 2>/dev/null || break
  sleep 0.1
done
[ -S "$dir/cups.sock" ] || skip "cupsd did not start: $(tail -n 3 "$dir/log/cupsd.out" "$dir/log/error_log" 2>/dev/null | tr '\n' ' ')"

export CUPS_SERVER="$dir/cups.sock"
if ! out="$("$lpadmin_bin" -p "$name" -E -v "cups-pdf:/$name" -P "$ppd" 2>&1)"; then
  skip "lpadmin could not add the queue: $out"
fi
# Rendered through cairo the page's text keeps its Unicode mapping, so the PDF's text can be
# read back; Ghostscript's and Poppler's PostScript lose it.
if ! out="$("$lpadmin_bin" -p "$name" -o pdftops-renderer-default=pdftocairo 2>&1)"; then
  skip "lpadmin could not set the queue's options: $out"
fi
if ! out="$("$lpadmin_bin" -d "$name" 2>&1)"; then
  skip "lpadmin could not make the queue the default: $out"
fi
echo "$name" > "$dir/queue"
echo "print-queue: $name on $dir/cups.sock, PDFs in $dir/pdf"
