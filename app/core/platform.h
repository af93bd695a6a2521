// What the application needs from the operating system and does differently on each: console
// control, the start-up self-check's system queries and talking to a service manager. One
// implementation per platform (platform_linux.cpp, platform_windows.cpp), chosen by the build.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>

namespace app {

// Standard output reaches a pipe or a log collector line by line, as the lines are written.
void use_line_output();

// The first console interrupt clears `running`, so the entry point shuts down in order and
// returns 0; a second one ends the process at once. Linux: SIGINT and SIGTERM. Windows: Ctrl+C,
// Ctrl+Break, closing the console window and the system shutting down.
void install_console_control();

// IPv4 addresses of the machine's interfaces, as dotted text; nothing when the system cannot
// list them (an empty list would read as "no address is local").
std::optional<std::set<std::string>> interface_addresses();

// True when another socket already holds the UDP port on that address (dotted text; "local"
// or anything unparsable means every address) or on every address.
bool udp_port_in_use(const std::string& address, uint16_t port);

// "pid 123 (name)" of a process holding a UDP socket on the port, or empty when the system
// does not tell.
std::string udp_port_owner(uint16_t port);

// The file holding the kernel's limit on socket receive buffers, or empty where the platform
// has no such limit to check.
std::string receive_buffer_limit_path();

// A service manager that wants start-up, stopping and watchdog notifications started the
// process (systemd on Linux; there is none on Windows).
bool service_manager_present();
// Sends one notification ("READY=1", "WATCHDOG=1", ...) when a service manager is present.
void notify_service_manager(const char* state);

}  // namespace app
