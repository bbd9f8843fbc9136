#pragma once

#include <QString>

namespace archivon::platform {

/// The machine's host name.
QString hostName();

/// First IPv4 address of an interface that is up and not loopback, dotted;
/// "127.0.0.1" when there is none.
QString ipv4Address();

/// What tells this boot of the machine from every other (the kernel's boot id).
QString bootId();

/// This process's id.
qint64 processId();

/// When a process started, in clock ticks since the boot: with its id, it
/// names one process, whatever later reuses the id. 0 when there is none.
quint64 processStart(qint64 pid);

} // namespace archivon::platform
