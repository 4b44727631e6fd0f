#pragma once
// The load generator's pseudo-terminal modes: the far side of a serial
// endpoint whose device is the slave of a pseudo-terminal made here. Every
// mode ends by itself: each wait has a deadline (timeoutMs).

// pty-send BYTES [--head]
int ptySend(int argc, char **argv, long long timeoutMs);
// pty-echo
int ptyEcho(int argc, char **argv, long long timeoutMs);
// pty-flap LINK RATE_MBps CYCLES [--stream-ms T] [--gap-ms G] [--wait-ms W]
int ptyFlap(int argc, char **argv, long long timeoutMs);
