#pragma once

#include <QString>

namespace archivon::platform {

/// The machine's host name.
QString hostName();

/// First IPv4 address of an interface that is up and not loopback, dotted;
/// "127.0.0.1" when there is none.
QString ipv4Address();

} // namespace archivon::platform
