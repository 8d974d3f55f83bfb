#!/usr/bin/env python3
"""A CD database server for the tests, on 127.0.0.1: one port per kind of
answer, named in DIR/ports.txt ("name port" lines). Each request is kept in
DIR/<name>.request. Stops on a request to /quit or after a few minutes.

  cddb_server.py DIR
"""
import os
import socket
import sys
import threading
import time

DIR = sys.argv[1]
LIFETIME = 600
HEADER = b'HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n'

# Entries of the test discs by disc id (the test works the ids out by hand).
ENTRIES = {
    # disc A: three tracks; the second title goes over two lines.
    '0b000403': ('folk', 'The Testers', 'Disc A',
                 'TTITLE0=Opening\r\nTTITLE1=Second part one, \r\nTTITLE1=and two\r\nTTITLE2=Closing\r\n'
                 'EXTD=YEAR: 1999 remastered edition\r\n'),
    # disc B: two tracks, no year.
    '06000402': ('jazz', 'Other Band', 'Disc B', 'TTITLE0=First B\r\nTTITLE1=Second B\r\n'),
    # the ten-track disc.
    '4107d00a': ('rock', 'Ten Artist', 'Ten Album', ''.join('TTITLE%d=T%d\r\n' % (i, i) for i in range(10))),
}


# Lines longer than a reply line may be (79 characters): a match line and a
# list whose text goes on past that, and titles far longer than a title field.
LONG_ARTIST = 'The Monteverdi Choir & English Baroque Soloists'
LONG_TITLE = 'Bach: Mass in B minor, BWV 232 (Live at the Barbican)'
LONG_TTITLE0 = ''.join('%04d-' % i for i in range(1000))
LONG_ENTRY = ('# xmcd\r\n#\r\nDISCID=0b000403\r\nDTITLE=%s / %s\r\n' % (LONG_ARTIST, LONG_TITLE)
              + 'TTITLE0=%s\r\nTTITLE1=%s\r\nTTITLE1=never joined\r\nTTITLE2=Closing, \r\nTTITLE2=%s\r\n'
              % (LONG_TTITLE0, 'Kyrie ' * 30, 'Gloria ' * 40))


def entry(disc_id):
    cat, artist, title, body = ENTRIES[disc_id]
    return '# xmcd\r\n#\r\nDISCID=%s\r\nDTITLE=%s / %s\r\n%s' % (disc_id, artist, title, body)


def form_field(body, name):
    for part in body.split('&'):
        if part.startswith(name + '='):
            return part[len(name) + 1:].split('+')
    return []


def answer(kind, body):
    cmd = form_field(body, 'cmd')
    query = len(cmd) >= 3 and cmd[1] == 'query'
    read = len(cmd) >= 4 and cmd[1] == 'read'
    if kind == 'exact':
        if query:
            disc_id = cmd[2]
            if disc_id in ENTRIES:
                cat, artist, title = ENTRIES[disc_id][:3]
                return HEADER + ('200 %s %s %s / %s\r\n' % (cat, disc_id, artist, title)).encode()
            return HEADER + b'202 No match for disc ID\r\n'
        if read and cmd[3] in ENTRIES:
            return HEADER + ('210 %s %s\r\n' % (cmd[2], cmd[3])).encode() + entry(cmd[3]).encode() + b'.\r\n'
        return HEADER + b'401 Specified CDDB entry not found.\r\n'
    if kind == 'long':
        if query and cmd[2] == '0b000403':
            return HEADER + ('200 folk 0b000403 %s / %s\r\n' % (LONG_ARTIST, LONG_TITLE)).encode()
        if query:
            status = b'211 Found inexact matches, list follows (until terminating `.\') for the disc id you sent'
            return (HEADER + status + b'\r\n'
                    + ('rock 4107d00a %s / %s\r\n' % (LONG_ARTIST, LONG_TITLE)).encode()
                    + b'x' * 79 + b'.\r\n' + b'jazz 4107d00b Short One / Short Two\r\n.\r\n')
        if read:
            return HEADER + b'210 folk 0b000403\r\n' + LONG_ENTRY.encode() + b'.\r\n'
        return HEADER + b'401 Specified CDDB entry not found.\r\n'
    if kind == 'none':
        return HEADER + b'202 No match for disc ID\r\n'
    if kind == 'multiple':
        return (HEADER + b'211 Found inexact matches, list follows (until terminating `.\')\r\n'
                + b'rock 4107d00a Ten Artist / Ten Album\r\njazz 4107d00b No Slash Here\r\n.\r\n')
    if kind == 'malformed':
        # A list whose first line is longer than a line may be: its tail, read
        # as a line of its own, would look like a match.
        long_line = 'x' * 79 + 'rock 12345678 Tail / Match'
        return (HEADER + b'211 list\r\n' + long_line.encode() + b'\r\n'
                + b'nocategory\r\n rock 12345678 Leading blank / X\r\nrock zz Bad / Id\r\n.\r\n')
    if kind == 'garbage':
        return HEADER + bytes(range(256)) * 4
    if kind == 'oversized':
        if query:
            return HEADER + b'200 rock 4107d00a Ten Artist / Ten Album\r\n' + b'#' * 100000 + b'\r\n'
        body = 'TTITLE0=Big first\r\n' + '# filler line\r\n' * 8000 + 'TTITLE1=Never reached\r\n'
        return HEADER + b'210 rock 4107d00a\r\n' + body.encode() + b'.\r\n'
    return HEADER


def serve(kind, listener, stop):
    listener.settimeout(0.5)
    while not stop.is_set():
        try:
            conn, _ = listener.accept()
        except socket.timeout:
            continue
        threading.Thread(target=handle, args=(kind, conn, stop), daemon=True).start()


def handle(kind, conn, stop):
    with conn:
        conn.settimeout(10)
        data = b''
        try:
            while b'\r\n\r\n' not in data:
                piece = conn.recv(4096)
                if not piece:
                    return
                data += piece
            head, _, body = data.partition(b'\r\n\r\n')
            length = 0
            for line in head.split(b'\r\n'):
                if line.lower().startswith(b'content-length:'):
                    length = int(line.split(b':')[1])
            while len(body) < length:
                piece = conn.recv(4096)
                if not piece:
                    break
                body += piece
                data += piece
        except (socket.timeout, OSError):
            return
        if head.startswith(b'GET /quit'):
            stop.set()
            return
        with open(os.path.join(DIR, kind + '.request'), 'wb') as f:
            f.write(data)
        if kind == 'stalled':
            # Never answers; holds the connection until the client gives up.
            end = time.time() + 30
            while time.time() < end and not stop.is_set():
                try:
                    if not conn.recv(1):
                        break
                except socket.timeout:
                    pass
                except OSError:
                    break
            return
        try:
            conn.sendall(answer(kind, body.decode('latin-1').strip()))
        except OSError:
            pass


def main():
    stop = threading.Event()
    kinds = ['exact', 'none', 'multiple', 'malformed', 'garbage', 'oversized', 'stalled', 'long', 'control']
    lines = []
    for kind in kinds:
        s = socket.socket()
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.bind(('127.0.0.1', 0))
        s.listen(8)
        lines.append('%s %d' % (kind, s.getsockname()[1]))
        threading.Thread(target=serve, args=(kind, s, stop), daemon=True).start()
    tmp = os.path.join(DIR, 'ports.tmp')
    with open(tmp, 'w') as f:
        f.write('\n'.join(lines) + '\n')
    os.replace(tmp, os.path.join(DIR, 'ports.txt'))
    stop.wait(LIFETIME)


if __name__ == '__main__':
    main()
