// The ranking request of the score sender: its body, the scrambling of each
// chosen entry, the reading of the server's reply, and "Network.ini".
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/hiscore.h"
#include "game/uhiscore.h"

namespace zt::win {

// Score, ",", name, "@", date as "yyyy/mm/dd hh:nn:ss".
std::string ranking_entry_text(const ScoreEntryRaw& entry);
// Byte k (from 1) XOR (k mod 255), each written "%" and two upper-case hex digits.
std::string scramble_entry(std::string_view text);

// "name=" + encoded name + "&comment=" + encoded comment, then "&entry=" and
// the scrambled text of each ticked row's entry (rows 0 to 9, in order). The
// name and comment are the Shift-JIS bytes of the form's fields.
std::string ranking_body(std::string_view name_sjis, std::string_view comment_sjis,
                         const THiScore& table, std::span<const bool> ticked);

// The reply's lines end at CR LF, LF or CR. A non-empty line beginning with
// "!", anywhere in the reply, marks it as an error.
bool reply_is_error(std::string_view response);

// The most of a reply that the sender's log holds: its first lines, up to
// this many of them and of bytes (a line that crosses the byte bound is cut
// there); one more line then says how many bytes were left out. A reply
// within the client's 8 MiB is still judged whole.
inline constexpr std::size_t kReplyLogMaxLines = 1000;
inline constexpr std::size_t kReplyLogMaxBytes = 64 * 1024;

// What the sender shows for a reply, and what it appends to its log.
struct ReplyReport {
  bool error = false;
  std::wstring message;           // for the message box: two lines
  std::vector<std::wstring> log;  // the reply's first lines, from Shift-JIS
};
ReplyReport report_reply(std::string_view response);
// The log's last line when bytes of the reply were left out of it.
std::wstring left_out_log_line(std::size_t bytes);
// The one log line of a failed request.
std::wstring failure_log_line(std::string_view error_message);

inline constexpr std::wstring_view kNetworkIni = L"Network.ini";
inline constexpr std::wstring_view kNetworkSection = L"Network";
inline constexpr std::wstring_view kDefaultRankingServer = L"ranking.zentropolium.example";
inline constexpr std::wstring_view kDefaultRankingScript = L"/~tovaki/ztrank/ztrank.cgi";
inline constexpr std::wstring_view kDefaultWebHome = L"http://www.zentropolium.example/";

struct NetworkSettings {
  std::wstring ranking_server{kDefaultRankingServer};
  std::wstring ranking_script{kDefaultRankingScript};
  std::wstring web_home{kDefaultWebHome};
};

// Through the system's INI functions, which compare section and key names
// without regard to case; a missing file or key gives the default.
NetworkSettings read_network_ini(const std::wstring& path);
// "Network.ini" in the directory of the executable.
std::wstring network_ini_path();

}  // namespace zt::win
