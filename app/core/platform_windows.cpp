#include "platform.h"

// winsock2.h must come before windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windows.h>

#include <vector>

#include "core/shared_state.h"

namespace app {
namespace {

// The system ends the process once the handler of a closed console window returns, and by
// itself about 5 s after the event; the wait stays inside that.
constexpr DWORD kCloseWaitMs = 4500;

BOOL WINAPI on_console_event(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      if (running.exchange(false)) return TRUE;
      // Already stopping: end the process now, with the status of a process ended by Ctrl+C.
      TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      running.store(false);
      // Returning would let the system end the process now. The main thread's orderly
      // shutdown ends it first, with its own status, while this thread waits.
      Sleep(kCloseWaitMs);
      return TRUE;
    default:
      // A user logging off reaches only processes that outlive the logoff: no reason to stop.
      return TRUE;
  }
}

// An IPv4 address in network byte order; INADDR_ANY for "local" and anything unparsable.
uint32_t parse_address(const std::string& text) {
  unsigned a = 0, b = 0, c = 0, d = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%3u.%3u.%3u.%3u%c", &a, &b, &c, &d, &tail) != 4 || a > 255 ||
      b > 255 || c > 255 || d > 255)
    return htonl(INADDR_ANY);
  return htonl((a << 24) | (b << 16) | (c << 8) | d);
}

// Winsock for the duration of one query; start-ups are counted, so this nests with the SDK's.
class WinsockSession {
 public:
  WinsockSession() {
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~WinsockSession() {
    if (started_) WSACleanup();
  }
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;
  bool started() const { return started_; }

 private:
  bool started_ = false;
};

std::string process_name(DWORD pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) return {};
  char path[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  const bool named = QueryFullProcessImageNameA(process, 0, path, &size) != 0;
  CloseHandle(process);
  if (!named) return {};
  const std::string full(path, size);
  const std::size_t slash = full.find_last_of("\\/");
  return slash == std::string::npos ? full : full.substr(slash + 1);
}

}  // namespace

// The C runtime has no line buffering (it is full buffering there), so output goes unbuffered;
// each fputs still reaches the stream in one write.
void use_line_output() { std::setvbuf(stdout, nullptr, _IONBF, 0); }

void install_console_control() { SetConsoleCtrlHandler(on_console_event, TRUE); }

std::optional<std::set<std::string>> interface_addresses() {
  std::set<std::string> found;
  const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  ULONG size = 16 * 1024;
  std::vector<unsigned char> buffer;
  ULONG result = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size);
    result = GetAdaptersAddresses(AF_INET, flags, nullptr,
                                  reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (result != NO_ERROR) return std::nullopt;
  for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data());
       adapter != nullptr; adapter = adapter->Next) {
    for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
         unicast = unicast->Next) {
      const sockaddr* address = unicast->Address.lpSockaddr;
      if (address == nullptr || address->sa_family != AF_INET) continue;
      found.insert(
          handle_address(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr));
    }
  }
  return found;
}

bool udp_port_in_use(const std::string& address, uint16_t port) {
  WinsockSession winsock;
  if (!winsock.started()) return false;
  const SOCKET sock = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (sock == INVALID_SOCKET) return false;
  // Exclusive use: the bind fails for any other socket on the port or on every address, even
  // one that would let a socket with SO_REUSEADDR share it.
  const BOOL on = TRUE;
  setsockopt(sock, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
             sizeof(on));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = address == "local" ? htonl(INADDR_ANY) : parse_address(address);
  bool taken = false;
  if (bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
    const int error = WSAGetLastError();
    // A socket that holds the port with exclusive use itself refuses with "access denied".
    taken = error == WSAEADDRINUSE || error == WSAEACCES;
  }
  closesocket(sock);
  return taken;
}

std::string udp_port_owner(uint16_t port) {
  ULONG size = 0;
  std::vector<unsigned char> buffer;
  DWORD result = ERROR_INSUFFICIENT_BUFFER;
  for (int attempt = 0; attempt < 4 && result == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
    buffer.resize(size);
    result = GetExtendedUdpTable(buffer.empty() ? nullptr : buffer.data(), &size, FALSE, AF_INET,
                                 UDP_TABLE_OWNER_PID, 0);
  }
  if (result != NO_ERROR) return {};
  const auto* table = reinterpret_cast<const MIB_UDPTABLE_OWNER_PID*>(buffer.data());
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    const MIB_UDPROW_OWNER_PID& row = table->table[i];
    if (ntohs(static_cast<u_short>(row.dwLocalPort)) != port || row.dwOwningPid == 0) continue;
    const std::string name = process_name(row.dwOwningPid);
    const std::string pid = "pid " + std::to_string(row.dwOwningPid);
    return name.empty() ? pid : pid + " (" + name + ")";
  }
  return {};
}

std::string receive_buffer_limit_path() { return {}; }

bool service_manager_present() { return false; }

void notify_service_manager(const char*) {}

}  // namespace app
