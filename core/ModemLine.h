#pragma once

// The modem lines a relay watches (CTS, DSR) and drives (RTS, DTR), and the port they belong to.
enum class ModemLine { CTS, DSR, RTS, DTR };
enum class RelayPort { Source, Destination };
