#!/usr/bin/python3
"""A real SMTP server for the integration tests and the benchmark.

Runs Debian's aiosmtpd on 127.0.0.1 on a port the system chooses and prints that port on
its first output line once it accepts connections. Every message it receives is stored as
its raw bytes (as received after DATA, dots unstuffed) in <folder>/msg-NNNN.eml, with the
envelope beside it in msg-NNNN.env (MAIL FROM, then one RCPT TO per line). Every connection's
input is logged chunk by chunk in <folder>/conn-NNNN.chunks, one hex-encoded receive per line,
so a test can tell a pipelined batch from one command per exchange.

Options: --pipelining adds PIPELINING to the EHLO reply; --no-log skips the chunk logs.
--cert FILE --key FILE give the server a certificate; with them --starttls offers STARTTLS and
requires it before mail, --implicit-tls speaks TLS from the first byte. --auth USER:PASSWORD
offers AUTH (PLAIN and LOGIN, after TLS) and accepts only that pair; --no-plain leaves PLAIN
out; --silent-auth leaves every AUTH unanswered, as a server does that ignores a failed
sign-in. With the chunk logs on, conn-NNNN.clear holds only what arrived before any encryption.
The server ends when its standard input reaches end of file (so it never outlives the test
that started it) or on SIGTERM.
"""

import argparse
import asyncio
import itertools
import os
import signal
import socket
import ssl
import sys

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class Sink:
    def __init__(self, folder, pipelining):
        self.folder = folder
        self.pipelining = pipelining
        self.messages = itertools.count(1)
        self.connections = itertools.count(1)

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        # With this form of the hook the handler must record the client's name itself.
        session.host_name = hostname
        if self.pipelining:
            responses.insert(len(responses) - 1, "250-PIPELINING")
        return responses

    async def handle_DATA(self, server, session, envelope):
        n = next(self.messages)
        base = os.path.join(self.folder, "msg-%04d" % n)
        # Write under temporary names first: a reader never sees half a message.
        with open(base + ".env.tmp", "w", encoding="latin-1") as f:
            f.write(envelope.mail_from + "\n")
            for rcpt in envelope.rcpt_tos:
                f.write(rcpt + "\n")
        with open(base + ".eml.tmp", "wb") as f:
            f.write(envelope.original_content)
        os.rename(base + ".env.tmp", base + ".env")
        os.rename(base + ".eml.tmp", base + ".eml")
        return "250 OK"


class LoggingSMTP(SMTP):
    def __init__(self, sink, log, *args, implicit_tls=False, silent_auth=False, **kwargs):
        super().__init__(sink, *args, **kwargs)
        self._silent_auth = silent_auth
        self._chunk_log = None
        self._clear_log = None
        if log:
            n = next(sink.connections)
            path = os.path.join(sink.folder, "conn-%04d.chunks" % n)
            self._chunk_log = open(path, "w", encoding="ascii", buffering=1)
            if not implicit_tls:
                path = os.path.join(sink.folder, "conn-%04d.clear" % n)
                self._clear_log = open(path, "w", encoding="ascii", buffering=1)

    def connection_made(self, transport):
        # Multi-line replies go out one line per write; without this the client's delayed
        # acknowledgement would stall every EHLO reply, whoever the client is.
        sock = transport.get_extra_info("socket")
        if sock is not None:
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        super().connection_made(transport)

    def data_received(self, data):
        if self._chunk_log is not None:
            self._chunk_log.write(data.hex() + "\n")
        if self._clear_log is not None:
            if self._tls_protocol is None:
                self._clear_log.write(data.hex() + "\n")
            else:
                self._clear_log.close()
                self._clear_log = None
        super().data_received(data)

    async def smtp_AUTH(self, arg):
        if self._silent_auth:
            await asyncio.sleep(3600)  # ended when the client goes
            return
        return await super().smtp_AUTH(arg)

    def connection_lost(self, exc):
        if self._chunk_log is not None:
            self._chunk_log.close()
            self._chunk_log = None
        if self._clear_log is not None:
            self._clear_log.close()
            self._clear_log = None
        super().connection_lost(exc)


async def serve(args):
    loop = asyncio.get_running_loop()
    sink = Sink(args.folder, args.pipelining)
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.bind(("127.0.0.1", 0))
    context = None
    if args.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
    extra = {}
    if args.starttls:
        extra.update(tls_context=context, require_starttls=True)
    if args.auth:
        user, _, password = args.auth.partition(":")

        def authenticator(server, session, envelope, mechanism, data):
            ok = (isinstance(data, LoginPassword) and data.login == user.encode()
                  and data.password == password.encode())
            return AuthResult(success=ok, handled=False)

        extra.update(authenticator=authenticator)
        # Over implicit TLS the server cannot tell that the transport is encrypted; without
        # TLS it offers AUTH in clear, so that a client can be caught using it.
        extra.update(auth_require_tls=args.starttls)
        if args.no_plain:
            extra.update(auth_exclude_mechanism=["PLAIN"])
    server = await loop.create_server(
        lambda: LoggingSMTP(
            sink,
            not args.no_log,
            decode_data=False,
            hostname="sink.test",
            ident="ferry-sink",
            implicit_tls=args.implicit_tls,
            silent_auth=args.silent_auth,
            **extra,
        ),
        sock=sock,
        ssl=context if args.implicit_tls else None,
    )
    stop = loop.create_future()

    def finish():
        if not stop.done():
            stop.set_result(None)

    loop.add_signal_handler(signal.SIGTERM, finish)
    loop.add_reader(sys.stdin.fileno(), lambda: finish() if not os.read(sys.stdin.fileno(), 4096) else None)
    print(sock.getsockname()[1], flush=True)
    await stop
    server.close()
    await server.wait_closed()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--pipelining", action="store_true")
    parser.add_argument("--no-log", action="store_true")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--starttls", action="store_true")
    parser.add_argument("--implicit-tls", action="store_true")
    parser.add_argument("--auth")
    parser.add_argument("--no-plain", action="store_true")
    parser.add_argument("--silent-auth", action="store_true")
    args = parser.parse_args()
    os.makedirs(args.folder, exist_ok=True)
    asyncio.run(serve(args))


if __name__ == "__main__":
    main()
